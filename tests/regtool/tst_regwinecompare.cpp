#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// Runs the same reg command lines through Wine's reg.exe and through
// "vexor-host reg" and compares what they print and export. Status lines
// ("The operation completed successfully." against Wine's "reg: ...") word
// differently and are left out; key lines, value lines, exit codes and the
// exported files must match.
class TestRegWineCompare : public QObject
{
    Q_OBJECT

private:
    struct Run
    {
        int code = -1;
        QString out;
        QString err;
    };

    // Wine 8.0's reg.exe formats REG_QWORD with a conversion its printf lacks
    // and prints "(null)"; Windows prints 0x and the number, as for REG_DWORD.
    const QMap<QString, QString> windowsLineForWine = {
        {"    Kilo    REG_QWORD    (null)", "    Kilo    REG_QWORD    0x1122334455667788"},
        {"    Echo    REG_QWORD    (null)", "    Echo    REG_QWORD    0x100000000"},
    };

    QTemporaryDir m_work;
    QString m_tool;
    QProcessEnvironment m_wineEnvironment;
    QProcessEnvironment m_hostEnvironment;
    bool m_serverStarted = false;

    QString file(const QString& name) const { return m_work.filePath(name); }

    Run execute(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_work.path());
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(program, arguments);
        Run run;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            run.out = QStringLiteral("did not finish: ") + process.errorString();
            return run;
        }
        run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput()).remove(QLatin1Char('\r'));
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    Run wine(const QStringList& arguments)
    {
        return execute("wine", QStringList{"reg"} + arguments, m_wineEnvironment);
    }

    Run host(const QStringList& arguments)
    {
        return execute(m_tool, QStringList{"reg"} + arguments, m_hostEnvironment);
    }

    // The same command line on both sides; "%1" in it becomes "wine" or "host".
    void bothSucceed(const QStringList& arguments)
    {
        const QString line = arguments.join(' ');
        expectSuccess(wine(QStringList(arguments).replaceInStrings("%1", "wine")),
                      "wine reg " + line);
        expectSuccess(host(QStringList(arguments).replaceInStrings("%1", "host")),
                      "vexor-host reg " + line);
    }

    // Status lines word differently on the two sides and are left out.
    QString withoutStatusLines(const QString& output, bool fromWine) const
    {
        static const QRegularExpression status("^(reg: |The operation completed successfully\\.|"
                                               "End of search: |Search complete\\. |ERROR: )");
        QStringList kept;
        for (const QString& line : output.split(QLatin1Char('\n'))) {
            if (!status.match(line).hasMatch())
                kept << (fromWine ? windowsLineForWine.value(line, line) : line);
        }
        return kept.join(QLatin1Char('\n'));
    }

    static QString readRegFile(const QString& path)
    {
        QFile file(path);
        const QByteArray raw = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        if (!raw.startsWith("\xff\xfe"))
            return QStringLiteral("<unreadable, or no UTF-16LE byte-order mark: %1>").arg(path);
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData() + 2),
                                  (raw.size() - 2) / 2);
    }

    void compareBoth(const QStringList& arguments)
    {
        const Run fromWine = wine(arguments);
        const Run fromHost = host(arguments);
        QVERIFY2(
            fromWine.code == fromHost.code,
            qPrintable(QStringLiteral("Wine exits %1, vexor-host %2\nWine:\n%3\nvexor-host:\n%4")
                           .arg(fromWine.code)
                           .arg(fromHost.code)
                           .arg(fromWine.out, fromHost.out)));
        // A failure prints no key or value lines; Wine leaves a stray blank
        // line before its message, Windows does not.
        const bool failed = fromWine.code != 0;
        const QString hostLines = withoutStatusLines(fromHost.out, false);
        const QString wineLines = withoutStatusLines(fromWine.out, true);
        QCOMPARE(failed ? hostLines.trimmed() : hostLines,
                 failed ? wineLines.trimmed() : wineLines);
    }

    void expectSuccess(const Run& run, const QString& what)
    {
        QVERIFY2(
            run.code == 0,
            qPrintable(
                QStringLiteral("%1 exits %2\n%3%4").arg(what).arg(run.code).arg(run.out, run.err)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_work.isValid(), "no temporary folder");
        m_tool = qEnvironmentVariable("VEXOR_HOST_TOOL");
        QVERIFY2(QFileInfo(m_tool).isExecutable(), "VEXOR_HOST_TOOL does not name vexor-host");
        QVERIFY2(!QStandardPaths::findExecutable("wine").isEmpty() &&
                     !QStandardPaths::findExecutable("wineserver").isEmpty(),
                 "Wine is not installed: install Debian's wine64 (tools/install-deps.sh).");

        QVERIFY(QDir(m_work.path()).mkpath("prefix"));
        m_wineEnvironment = QProcessEnvironment::systemEnvironment();
        m_wineEnvironment.insert("WINEPREFIX", file("prefix"));
        m_wineEnvironment.insert("WINEDEBUG", "-all");
        m_wineEnvironment.insert("WINEDLLOVERRIDES", "mscoree,mshtml=");
        m_wineEnvironment.remove("DISPLAY");
        // One persistent wineserver serves every command; the first command
        // then builds the prefix.
        const Run server = execute("wineserver", {"-p"}, m_wineEnvironment);
        m_serverStarted = server.code == 0;
        expectSuccess(server, "wineserver -p");
        expectSuccess(wine({"query", "HKCU"}), "wine reg query HKCU");
        QVERIFY2(!QTest::currentTestFailed(), "Wine cannot start; nothing to compare with");

        m_hostEnvironment = QProcessEnvironment::systemEnvironment();
        m_hostEnvironment.insert("VEXOR_HOST_DIR", file("host"));
        expectSuccess(execute(m_tool, {"create", "--arch", "x86_64"}, m_hostEnvironment),
                      "vexor-host create");
    }

    void cleanupTestCase()
    {
        if (m_serverStarted)
            execute("wineserver", {"-k"}, m_wineEnvironment);
    }

    void sameOutputAsWine_data()
    {
        QTest::addColumn<QStringList>("arguments");

        const QString key = QStringLiteral("HKCU\\Software\\VexorCmp");
        const QString machine = QStringLiteral("HKLM\\Software\\VexorCmp");
        auto row = [](const char* name, const QStringList& arguments) {
            QTest::newRow(name) << arguments;
        };
        row("the default value is set", {"add", key, "/ve", "/d", "root default", "/f"});
        row("a string with spaces", {"add", key, "/v", "Alpha", "/d", "text with spaces", "/f"});
        row("an expandable string", {"add", key, "/v", "Beta", "/t", "REG_EXPAND_SZ", "/d",
                                     "%SystemRoot%\\system32", "/f"});
        row("a dword in hex", {"add", key, "/v", "Delta", "/t", "REG_DWORD", "/d", "0x1F", "/f"});
        row("the largest dword in decimal",
            {"add", key, "/v", "Echo", "/t", "REG_DWORD", "/d", "4294967295", "/f"});
        row("a multi-string",
            {"add", key, "/v", "Foxtrot", "/t", "REG_MULTI_SZ", "/d", "one\\0two\\0three", "/f"});
        row("a multi-string with its own separator",
            {"add", key, "/v", "Golf", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "x#y", "/f"});
        row("short binary data",
            {"add", key, "/v", "Hotel", "/t", "REG_BINARY", "/d", "00ff10ab", "/f"});
        row("binary data long enough to wrap",
            {"add", key, "/v", "India", "/t", "REG_BINARY", "/d",
             QStringLiteral("0123456789abcdef").repeated(14), "/f"});
        row("REG_NONE", {"add", key, "/v", "Juliet", "/t", "REG_NONE", "/d", "abc", "/f"});
        row("a qword",
            {"add", key, "/v", "Kilo", "/t", "REG_QWORD", "/d", "0x1122334455667788", "/f"});
        row("a string with a backslash", {"add", key, "/v", "Lima", "/d", "C:\\dir\\", "/f"});
        row("a key two levels down",
            {"add", key + "\\Sub\\Deep", "/v", "Mike", "/d", "nested", "/f"});
        row("a value in the middle key", {"add", key + "\\Sub", "/v", "November", "/d", "1", "/f"});
        row("the 32-bit view", {"add", machine, "/v", "View", "/d", "thirtytwo", "/reg:32", "/f"});
        row("the 64-bit view", {"add", machine, "/v", "View", "/d", "sixtyfour", "/reg:64", "/f"});

        row("query of one key", {"query", key});
        row("query of the tree", {"query", key, "/s"});
        row("query of a short root name and trailing backslash",
            {"query", "hkcu\\Software\\VexorCmp\\"});
        row("query of one value", {"query", key, "/v", "Delta"});
        row("query of the default value", {"query", key, "/ve"});
        row("query of a default value not set", {"query", key + "\\Sub", "/ve"});
        row("search of a value through the tree", {"query", key, "/v", "Mike", "/s"});
        row("query of a missing value", {"query", key, "/v", "Missing"});
        row("query of a missing key", {"query", "HKCU\\Software\\VexorMissing"});
        row("query in the 32-bit view", {"query", machine, "/reg:32"});
        row("query in the 64-bit view", {"query", machine, "/reg:64"});
        row("the 32-bit view seen under Wow6432Node",
            {"query", "HKLM\\Software\\Wow6432Node\\VexorCmp", "/reg:64"});
        row("both views at once is refused", {"query", machine, "/reg:32", "/reg:64"});
        row("an unknown root is refused", {"query", "HKXY\\Software"});

        row("delete of a value", {"delete", key, "/v", "Alpha", "/f"});
        row("delete of the default value", {"delete", key, "/ve", "/f"});
        row("delete of a missing value", {"delete", key, "/v", "Missing", "/f"});
        row("delete of a missing key", {"delete", key + "\\Missing", "/f"});
        row("delete of a leaf key", {"delete", key + "\\Sub\\Deep", "/f"});
        row("query after the deletions", {"query", key, "/s"});
        row("delete of every value of a key", {"delete", key + "\\Sub", "/va", "/f"});
        row("query after deleting every value", {"query", key, "/s"});
        row("delete in the 32-bit view", {"delete", machine, "/reg:32", "/f"});
        row("the 32-bit copy is gone", {"query", machine, "/reg:32"});
        row("the 64-bit copy stays", {"query", machine, "/reg:64"});
    }

    void sameOutputAsWine()
    {
        QFETCH(QStringList, arguments);
        compareBoth(arguments);
    }

    void sameExportedFilesAsWine_data()
    {
        QTest::addColumn<QStringList>("setup");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("view");

        const QString key = QStringLiteral("HKCU\\Software\\VexorExport");
        QTest::newRow("every type, a default value, subkeys and wrapped hex")
            << QStringList{"add " + key + " /ve /d top",
                           "add " + key + " /v Alpha /d plain",
                           "add " + key + " /v Bravo /t REG_EXPAND_SZ /d %PATH%;C:\\x",
                           "add " + key + " /v Charlie /t REG_MULTI_SZ /d a\\0bc",
                           "add " + key + " /v Delta /t REG_DWORD /d 7",
                           "add " + key + " /v Echo /t REG_QWORD /d 0x100000000",
                           "add " + key + " /v Foxtrot /t REG_BINARY /d " +
                               QString("5a").repeated(90),
                           "add " + key + " /v Golf /t REG_NONE /d z",
                           "add " + key + " /v Hotel /t REG_BINARY",
                           "add " + key + "\\Inner\\Most /v India /d deep",
                           "add " + key + "\\Other /v Juliet /t REG_DWORD /d 0"}
            << key << QString();
        QTest::newRow("a long value name pushes the wrap")
            << QStringList{"add " + key +
                           "2 /v AVeryLongValueNameThatTakesMostOfTheFirstLineOfTheFile "
                           "/t REG_EXPAND_SZ /d C:\\Program;Files"}
            << key + "2" << QString();
        QTest::newRow("the 32-bit view of a machine key")
            << QStringList{"add HKLM\\Software\\VexorExport /v Kilo /d kilo /reg:32",
                           "add HKLM\\Software\\VexorExport\\Lima /v Mike /t REG_DWORD /d 1 "
                           "/reg:32"}
            << "HKLM\\Software\\VexorExport"
            << "/reg:32";
    }

    void sameExportedFilesAsWine()
    {
        QFETCH(QStringList, setup);
        QFETCH(QString, key);
        QFETCH(QString, view);
        const QStringList viewOption = view.isEmpty() ? QStringList() : QStringList{view};
        for (const QString& command : setup)
            bothSucceed(command.split(QLatin1Char(' ')) + QStringList{"/f"});
        const QStringList exportBoth =
            QStringList{"export", key, file("%1.reg"), "/y"} + viewOption;
        bothSucceed(exportBoth);
        QCOMPARE(readRegFile(file("host.reg")), readRegFile(file("wine.reg")));

        // Each side imports the other's file into a cleared tree; exported
        // again, the two trees must still be the same to the byte.
        bothSucceed(QStringList{"delete", key, "/f"} + viewOption);
        expectSuccess(wine(QStringList{"import", file("host.reg")} + viewOption), "wine import");
        expectSuccess(host(QStringList{"import", file("wine.reg")} + viewOption), "host import");
        compareBoth(QStringList{"query", key, "/s"} + viewOption);
        bothSucceed(exportBoth);
        QCOMPARE(readRegFile(file("host.reg")), readRegFile(file("wine.reg")));
    }
};

QTEST_GUILESS_MAIN(TestRegWineCompare)
#include "tst_regwinecompare.moc"
