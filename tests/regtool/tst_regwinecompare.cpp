#include <QDir>
#include <QFile>
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

    // Where Wine 8.0's reg.exe answers otherwise than Windows: its line is
    // replaced by the one Windows prints before comparing.
    struct KnownDifference
    {
        const char* wineLine;
        const char* windowsLine;
        const char* reason;
    };
    const QList<KnownDifference> knownDifferences = {
        {"    Kilo    REG_QWORD    (null)", "    Kilo    REG_QWORD    0x1122334455667788",
         "Wine 8.0 formats REG_QWORD data with a conversion its printf lacks and prints (null); "
         "Windows' reg.exe prints 0x and the hexadecimal number, as for REG_DWORD."},
        {"    Echo    REG_QWORD    (null)", "    Echo    REG_QWORD    0x100000000",
         "The same REG_QWORD formatting fault of Wine 8.0."},
    };

    QTemporaryDir m_work;
    QString m_tool;
    QString m_wine;
    QString m_wineServer;
    QProcessEnvironment m_wineEnvironment;
    QProcessEnvironment m_hostEnvironment;
    bool m_serverStarted = false;

    QString file(const QString& name) const { return m_work.filePath(name); }

    Run execute(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& environment, int timeoutMs = 60000)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_work.path());
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(program, arguments);
        Run run;
        if (!process.waitForStarted(timeoutMs)) {
            run.out = process.errorString();
            return run;
        }
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            run.out = QStringLiteral("timed out");
            return run;
        }
        run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.out.remove(QLatin1Char('\r'));
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    Run wine(const QStringList& arguments)
    {
        return execute(m_wine, QStringList{QStringLiteral("reg")} + arguments, m_wineEnvironment);
    }

    Run host(const QStringList& arguments)
    {
        return execute(m_tool, QStringList{QStringLiteral("reg")} + arguments, m_hostEnvironment);
    }

    QString withoutStatusLines(const QString& output, bool fromWine) const
    {
        static const QRegularExpression status(
            QStringLiteral("^(reg: |The operation completed successfully\\.|End of search: |"
                           "Search complete\\. |ERROR: )"));
        QStringList kept;
        for (QString line : output.split(QLatin1Char('\n'))) {
            if (status.match(line).hasMatch())
                continue;
            if (fromWine) {
                for (const KnownDifference& difference : knownDifferences) {
                    if (line == QLatin1String(difference.wineLine))
                        line = QLatin1String(difference.windowsLine);
                }
            }
            kept << line;
        }
        return kept.join(QLatin1Char('\n'));
    }

    static QString readRegFile(const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("<cannot read %1>").arg(path);
        const QByteArray raw = file.readAll();
        if (!raw.startsWith("\xff\xfe"))
            return QStringLiteral("<no UTF-16LE byte-order mark in %1>").arg(path);
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData() + 2),
                                  (raw.size() - 2) / 2);
    }

    void compareBoth(const QStringList& arguments)
    {
        const Run fromWine = wine(arguments);
        const Run fromHost = host(arguments);
        const QString line = arguments.join(QLatin1Char(' '));
        QVERIFY2(fromWine.code == fromHost.code,
                 qPrintable(QStringLiteral(
                                "reg %1: Wine exits %2, vexor-host %3\nWine:\n%4\nvexor-host:\n%5")
                                .arg(line)
                                .arg(fromWine.code)
                                .arg(fromHost.code)
                                .arg(fromWine.out, fromHost.out)));
        QString hostLines = withoutStatusLines(fromHost.out, false);
        QString wineLines = withoutStatusLines(fromWine.out, true);
        // A failure prints no key or value lines; Wine leaves a stray blank
        // line before its message, Windows does not.
        if (fromWine.code != 0) {
            hostLines = hostLines.trimmed();
            wineLines = wineLines.trimmed();
        }
        QVERIFY2(hostLines == wineLines,
                 qPrintable(QStringLiteral("reg %1 prints otherwise\nWine:\n%2\nvexor-host:\n%3")
                                .arg(line, wineLines, hostLines)));
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
        QVERIFY2(!m_tool.isEmpty() && QFileInfo(m_tool).isExecutable(),
                 "VEXOR_HOST_TOOL does not name the vexor-host tool; this comparison cannot run");
        m_wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
        m_wineServer = QStandardPaths::findExecutable(QStringLiteral("wineserver"));
        QVERIFY2(!m_wine.isEmpty() && !m_wineServer.isEmpty(),
                 "Wine is not installed (wine and wineserver not found on PATH): the reg.exe "
                 "comparison cannot run. Install Debian's wine64 (tools/install-deps.sh).");

        QVERIFY(QDir(m_work.path()).mkpath(QStringLiteral("prefix")));
        m_wineEnvironment = QProcessEnvironment::systemEnvironment();
        m_wineEnvironment.insert(QStringLiteral("WINEPREFIX"), file(QStringLiteral("prefix")));
        m_wineEnvironment.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
        m_wineEnvironment.insert(QStringLiteral("WINEDLLOVERRIDES"),
                                 QStringLiteral("mscoree,mshtml="));
        m_wineEnvironment.remove(QStringLiteral("DISPLAY"));

        // One persistent wineserver serves every command; the first command
        // then builds the prefix.
        const Run server = execute(m_wineServer, {QStringLiteral("-p")}, m_wineEnvironment);
        QVERIFY2(server.code == 0,
                 qPrintable(QStringLiteral("Wine cannot start: wineserver -p exits %1 %2")
                                .arg(server.code)
                                .arg(server.out.left(500))));
        m_serverStarted = true;
        const Run boot = wine({QStringLiteral("query"), QStringLiteral("HKCU")});
        QVERIFY2(boot.code == 0,
                 qPrintable(QStringLiteral("Wine cannot start: wine reg query HKCU exits %1 %2")
                                .arg(boot.code)
                                .arg(boot.out.left(500))));

        m_hostEnvironment = QProcessEnvironment::systemEnvironment();
        m_hostEnvironment.insert(QStringLiteral("VEXOR_HOST_DIR"), file(QStringLiteral("host")));
        const Run created = execute(
            m_tool, {QStringLiteral("create"), QStringLiteral("--arch"), QStringLiteral("x86_64")},
            m_hostEnvironment);
        QVERIFY2(created.code == 0,
                 qPrintable(QStringLiteral("vexor-host create failed: ") + created.out));
    }

    void cleanupTestCase()
    {
        if (m_serverStarted)
            execute(m_wineServer, {QStringLiteral("-k")}, m_wineEnvironment);
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
        for (const QString& command : setup) {
            const QStringList arguments =
                command.split(QLatin1Char(' ')) + QStringList{QStringLiteral("/f")};
            expectSuccess(wine(arguments), "wine reg " + command);
            expectSuccess(host(arguments), "vexor-host reg " + command);
        }
        QStringList tail{QStringLiteral("/y")};
        if (!view.isEmpty())
            tail << view;
        const QString wineFile = file(QStringLiteral("wine.reg"));
        const QString hostFile = file(QStringLiteral("host.reg"));
        expectSuccess(wine(QStringList{"export", key, wineFile} + tail), "wine reg export");
        expectSuccess(host(QStringList{"export", key, hostFile} + tail), "vexor-host reg export");
        const QString fromWine = readRegFile(wineFile);
        const QString fromHost = readRegFile(hostFile);
        QVERIFY2(fromHost == fromWine,
                 qPrintable(QStringLiteral("exported files differ\nWine:\n%1\nvexor-host:\n%2")
                                .arg(fromWine, fromHost)));

        // Each side imports the other's file into a cleared tree and must
        // then show the same tree.
        QStringList removeArguments{"delete", key, "/f"};
        if (!view.isEmpty())
            removeArguments << view;
        expectSuccess(wine(removeArguments), "wine reg delete");
        expectSuccess(host(removeArguments), "vexor-host reg delete");
        QStringList importTail;
        if (!view.isEmpty())
            importTail << view;
        expectSuccess(wine(QStringList{"import", hostFile} + importTail), "wine reg import");
        expectSuccess(host(QStringList{"import", wineFile} + importTail), "vexor-host reg import");
        QStringList queryArguments{"query", key, "/s"};
        if (!view.isEmpty())
            queryArguments << view;
        compareBoth(queryArguments);
    }
};

QTEST_GUILESS_MAIN(TestRegWineCompare)
#include "tst_regwinecompare.moc"
