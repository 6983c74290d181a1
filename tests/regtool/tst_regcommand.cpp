#include "RegCommand.h"
#include "RegKey.h"
#include "SimulatedHost.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// One command line after its set-up lines: what it prints and answers, and
// what a later command line shows (an empty afterOut: that one must fail).
// err is the first line of the error output; empty, there must be none.
struct Scenario
{
    QStringList setup{};
    QString command{};
    int code{};
    QString out{};
    QString err{};
    QString answers{};
    QString after{};
    QString afterOut{};
    bool elevated = true;
};
Q_DECLARE_METATYPE(Scenario)

// Drives RegCommand as the vexor-host tool would, each test on its own fresh
// x86_64 host, with a scratch folder as the working directory.
class TestRegCommand : public QObject
{
    Q_OBJECT

private:
    struct Result
    {
        int code = -1;
        QString out;
        QString err;
    };

    Result reg(const QStringList& arguments, const QString& answers = QString())
    {
        Result result;
        QString input = answers;
        QTextStream in(&input);
        QTextStream out(&result.out);
        QTextStream err(&result.err);
        result.code = RegCommand::run(arguments, in, out, err);
        return result;
    }

    Result reg(const QString& commandLine, const QString& answers = QString())
    {
        return reg(commandLine.split(QLatin1Char(' '), Qt::SkipEmptyParts), answers);
    }

    static QByteArray utf16(const QString& text)
    {
        QByteArray bytes;
        for (const QChar c : text)
            bytes.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
        return bytes;
    }

    static void writeFile(const QString& name, const QByteArray& bytes)
    {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

    static QByteArray readFile(const QString& name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }

    QScopedPointer<QTemporaryDir> m_host;
    QScopedPointer<QTemporaryDir> m_files;

private slots:
    void init()
    {
        m_host.reset(new QTemporaryDir);
        m_files.reset(new QTemporaryDir);
        QVERIFY(m_host->isValid() && m_files->isValid());
        QString error;
        QVERIFY2(SimulatedHost::create(m_host->path(), {}, &error), qPrintable(error));
        QVERIFY2(SimulatedHost::use(m_host->path(), &error), qPrintable(error));
        SimulatedHost::setElevated(true);
        QVERIFY(QDir::setCurrent(m_files->path()));
    }

    void cleanup()
    {
        QCOMPARE(SimulatedHost::openHandleCount(), 0);
        SimulatedHost::setElevated(true);
    }

    // Types and layouts beyond these are compared byte for byte with Wine's
    // reg.exe exports in tst_regwinecompare.
    void everyTypeSurvivesAddQueryExportImport_data()
    {
        QTest::addColumn<QStringList>("addOptions");
        QTest::addColumn<QString>("queryLine");
        QTest::addColumn<QString>("exportLine");
        QTest::addColumn<QByteArray>("bytes");

        QTest::newRow("a string with quotes and backslashes is escaped in the file")
            << QStringList{"/d", "C:\\Program Files\\\"q\""}
            << "    v    REG_SZ    C:\\Program Files\\\"q\""
            << "\"v\"=\"C:\\\\Program Files\\\\\\\"q\\\"\""
            << utf16("C:\\Program Files\\\"q\"").append(2, '\0');
        QTest::newRow("an empty string is its terminator alone")
            << QStringList{"/d", ""} << "    v    REG_SZ    "
            << "\"v\"=\"\"" << QByteArray(2, '\0');
        QTest::newRow("a multi-string splits at the separator given with /s")
            << QStringList{"/t", "REG_MULTI_SZ", "/s", "#", "/d", "x#y"}
            << "    v    REG_MULTI_SZ    x\\0y"
            << "\"v\"=hex(7):78,00,00,00,79,00,00,00,00,00" << QByteArray("x\0\0\0y\0\0\0\0\0", 10);
        QTest::newRow("a dword given in hex is stored little-endian")
            << QStringList{"/t", "REG_DWORD", "/d", "0xDEADBEEF"}
            << "    v    REG_DWORD    0xdeadbeef"
            << "\"v\"=dword:deadbeef" << QByteArray("\xef\xbe\xad\xde", 4);
        QTest::newRow("REG_NONE stores its text as a string")
            << QStringList{"/t", "REG_NONE", "/d", "a"} << "    v    REG_NONE    61000000"
            << "\"v\"=hex(0):61,00,00,00" << QByteArray("a\0\0\0", 4);
    }

    void everyTypeSurvivesAddQueryExportImport()
    {
        QFETCH(QStringList, addOptions);
        QFETCH(QString, queryLine);
        QFETCH(QString, exportLine);
        QFETCH(QByteArray, bytes);
        const QString key = "HKCU\\Software\\RoundTrip";
        const Result added =
            reg(QStringList{"add", key, "/v", "v"} + addOptions + QStringList{"/f"});
        QCOMPARE(added.err, QString());
        QCOMPARE(added.code, 0);
        QCOMPARE(reg(QStringList{"query", key, "/v", "v"}).out.split('\n').value(2), queryLine);

        QCOMPARE(reg(QStringList{"export", key, "v.reg", "/y"}).code, 0);
        QCOMPARE(readFile("v.reg"),
                 "\xff\xfe" + utf16("Windows Registry Editor Version 5.00\r\n\r\n"
                                    "[HKEY_CURRENT_USER\\Software\\RoundTrip]\r\n" +
                                    exportLine + "\r\n\r\n"));
        QCOMPARE(reg(QStringList{"delete", key, "/f"}).code, 0);
        const Result imported = reg(QStringList{"import", "v.reg"});
        QCOMPARE(imported.err, QString());
        QCOMPARE(imported.code, 0);
        RegKey opened;
        QCOMPARE(opened.open(HKEY_CURRENT_USER, "Software\\RoundTrip", KEY_READ), ERROR_SUCCESS);
        RegKey::Value value;
        QCOMPARE(opened.value("v", &value), ERROR_SUCCESS);
        QCOMPARE(value.data, bytes);
    }

    void commandLinesAnswerAsRegExe_data()
    {
        QTest::addColumn<Scenario>("scenario");
        auto row = [](const char* name, const QStringList& setup, const QString& command, int code,
                      const QString& out, const QString& err = {}, const QString& answers = {},
                      const QString& after = {}, const QString& afterOut = {},
                      bool elevated = true) {
            QTest::newRow(name) << Scenario{setup,   command, code,     out,     err,
                                            answers, after,   afterOut, elevated};
        };
        auto shown = [](const QString& key, const QString& line) {
            return "\nHKEY_" + key + "\n    " + line + "\n\n";
        };
        const QString done = "The operation completed successfully.\n";
        const QString cancelled = "The operation was canceled by the user.\n";
        const QString notFound =
            "ERROR: The system was unable to find the specified registry key or value.";

        row("/t keeps one type and /z adds its number",
            {"add HKCU\\T /v b /d 2 /f", "add HKCU\\T\\C\\L /v c /t REG_DWORD /d 3 /f"},
            "query HKCU\\T /s /t REG_DWORD /z", 0,
            "\nHKEY_CURRENT_USER\\T\n\nHKEY_CURRENT_USER\\T\\C\n\nHKEY_CURRENT_USER\\T\\C\\L\n"
            "    c    REG_DWORD (4)    0x3\n\n");
        row("a bare add makes only the key", {"add HKCU\\B\\A /f"}, "query HKCU\\B\\A", 0, "\n");
        row("deleting a key takes its whole tree and nothing beside it",
            {"add HKCU\\B\\A\\B /v x /d y /f", "add HKCU\\K /v k /d 1 /f"}, "delete HKCU\\B /f", 0,
            done, "", "", "query HKCU\\K", shown("CURRENT_USER\\K", "k    REG_SZ    1"));
        row("deleting every value keeps the subkeys",
            {"add HKCU\\V /v a /d 1 /f", "add HKCU\\V /ve /d 2 /f", "add HKCU\\V\\S /v c /d 3 /f",
             "delete HKCU\\V /va /f"},
            "query HKCU\\V", 0, "\nHKEY_CURRENT_USER\\V\\S\n", "", "", "query HKCU\\V\\S /v c",
            shown("CURRENT_USER\\V\\S", "c    REG_SZ    3"));

        const QStringList twins{"add HKLM\\SOFTWARE\\W /v a /d 32 /f /reg:32",
                                "add HKLM\\SOFTWARE\\W /v a /d 64 /f /reg:64"};
        row("deleting in the 32-bit view leaves the 64-bit key", twins,
            "delete HKLM\\SOFTWARE\\W /f /reg:32", 0, done, "", "",
            "query HKLM\\SOFTWARE\\W /reg:64",
            shown("LOCAL_MACHINE\\SOFTWARE\\W", "a    REG_SZ    64"));
        row("deleting in the 32-bit view removes the 32-bit key", twins,
            "delete HKLM\\SOFTWARE\\W /f /reg:32", 0, done, "", "",
            "query HKLM\\SOFTWARE\\W /reg:32");

        // Questions are answered from the input; its end is a No.
        const QString old = shown("CURRENT_USER\\Q", "a    REG_SZ    old");
        auto asked = [&](const char* name, const QString& command, const QString& answers,
                         const QString& question, bool yes, const QString& after) {
            row(name, {"add HKCU\\Q /v a /d old /f"}, command, yes ? 0 : 1,
                question + (yes ? done : cancelled), "", answers, "query HKCU\\Q /v a", after);
        };
        const QString overwrite = "Value a exists, overwrite (Yes/No)? ";
        asked("an overwrite declined keeps the old value", "add HKCU\\Q /v a /d new", "no\n",
              overwrite, false, old);
        asked("an overwrite is asked again after a word it does not know",
              "add HKCU\\Q /v a /d new", "maybe\ny\n", overwrite + overwrite, true,
              shown("CURRENT_USER\\Q", "a    REG_SZ    new"));
        asked("deleting a value with no answer at all deletes nothing", "delete HKCU\\Q /v a", "",
              "Delete the registry value a (Yes/No)? \n", false, old);
        asked("deleting a value confirmed", "delete HKCU\\Q /v a", "Yes\n",
              "Delete the registry value a (Yes/No)? ", true, "");
        asked("deleting the key declined", "delete HKCU\\Q", "N\n",
              "Permanently delete the registry key HKEY_CURRENT_USER\\Q (Yes/No)? ", false, old);
        asked("deleting every value declined", "delete HKCU\\Q /va", "n\n",
              "Delete all values under the registry key HKEY_CURRENT_USER\\Q (Yes/No)? ", false,
              old);

        const QString locked = shown("LOCAL_MACHINE\\SOFTWARE\\L", "a    REG_SZ    1");
        auto unelevated = [&](const char* name, const QString& command, int code,
                              const QString& out, const QString& err) {
            row(name, {"add HKLM\\SOFTWARE\\L /v a /d 1 /f"}, command, code, out, err, "",
                "query HKLM\\SOFTWARE\\L /v a", locked, false);
        };
        unelevated("without administrator rights a machine value is not changed",
                   "add HKLM\\SOFTWARE\\L /v a /d 2 /f", 1, "", "ERROR: Access is denied.");
        unelevated("without administrator rights a machine key is not deleted",
                   "delete HKLM\\SOFTWARE\\L /f", 1, "", "ERROR: Access is denied.");
        unelevated("without administrator rights machine keys still read",
                   "query HKLM\\SOFTWARE\\L /v a", 0, locked, "");
        unelevated("without administrator rights the user's own keys are written",
                   "add HKCU\\Mine /v a /d 1 /f", 0, done, "");

        // A refused command line changes nothing and prints nothing on stdout.
        auto refused = [&](const char* name, const QString& command, const QString& error) {
            row(name, {"add HKCU\\P /v keep /d me /f"}, command, 1, "", error, "",
                "query HKCU\\P /v keep", shown("CURRENT_USER\\P", "keep    REG_SZ    me"));
        };
        const QString syntax = "ERROR: Invalid syntax.";
        const QString keyName = "ERROR: Invalid key name.";
        const QString numeric = "ERROR: Invalid syntax. Specify valid numeric value for /d.";
        refused("querying a missing key", "query HKCU\\Missing", notFound);
        refused("querying a missing value", "query HKCU\\P /v no", notFound);
        refused("deleting a missing value", "delete HKCU\\P /v no /f", notFound);
        refused("deleting a missing key", "delete HKCU\\Missing /f", notFound);
        refused("exporting a missing key", "export HKCU\\Missing o.reg /y", notFound);
        refused("an unknown root", "query HKXX\\Software", keyName);
        refused("a remote machine", "query \\\\pc\\HKLM\\Software", keyName);
        refused("deleting a whole root", "delete HKCU /f", keyName);
        refused("both views at once", "query HKCU\\P /reg:32 /reg:64", syntax);
        refused("a value name and the default value together", "add HKCU\\P /v keep /ve /f",
                syntax);
        refused("an unknown option", "query HKCU\\P /q", syntax);
        refused("an option given twice", "add HKCU\\P /v keep /v b /f", syntax);
        refused("/v without its name", "query HKCU\\P /v", syntax);
        refused("an unknown operation", "copy HKCU\\P HKCU\\x", syntax);
        refused("add without a key", "add", syntax);
        refused("export without a file", "export HKCU\\P", syntax);
        refused("an unknown data type", "add HKCU\\P /v keep /t REG_FOO /d 1 /f",
                "ERROR: Invalid type specified: REG_FOO");
        refused("a dword that is not a number", "add HKCU\\P /v keep /t REG_DWORD /d zz /f",
                numeric);
        refused("a dword past 32 bits", "add HKCU\\P /v keep /t REG_DWORD /d 0x100000000 /f",
                numeric);
        refused("a negative dword", "add HKCU\\P /v keep /t REG_DWORD /d -1 /f", numeric);
        refused("binary data that is not hex", "add HKCU\\P /v keep /t REG_BINARY /d 0g /f",
                "ERROR: Invalid syntax. Specify valid hexadecimal data for /d.");
        refused("a multi-string with an empty string inside",
                "add HKCU\\P /v keep /t REG_MULTI_SZ /d a\\0\\0b /f",
                "ERROR: Invalid syntax. An empty string cannot be part of a REG_MULTI_SZ value.");
        refused("a separator longer than one character",
                "add HKCU\\P /v keep /t REG_MULTI_SZ /s ab /d x /f", syntax);
        refused("importing a missing file", "import missing.reg",
                "ERROR: Error opening the file. There may be a disk or file system error.");
    }

    void commandLinesAnswerAsRegExe()
    {
        QFETCH(Scenario, scenario);
        for (const QString& line : scenario.setup)
            QVERIFY2(reg(line).code == 0, qPrintable(line));
        SimulatedHost::setElevated(scenario.elevated);
        const Result result = reg(scenario.command, scenario.answers);
        SimulatedHost::setElevated(true);
        QCOMPARE(result.out, scenario.out);
        if (scenario.err.isEmpty())
            QCOMPARE(result.err, QString());
        else
            QCOMPARE(result.err.split('\n').value(0), scenario.err);
        QCOMPARE(result.code, scenario.code);
        if (scenario.after.isEmpty())
            return;
        const Result after = reg(scenario.after);
        QCOMPARE(after.out, scenario.afterOut);
        QCOMPARE(after.code, scenario.afterOut.isEmpty() ? 1 : 0);
    }

    void exportReplacesAFileOnlyWhenAllowed()
    {
        QCOMPARE(reg("add HKCU\\Software\\Exp /v a /d 1 /f").code, 0);
        writeFile("e.reg", "keep");
        QCOMPARE(reg("export HKCU\\Software\\Exp e.reg", "no\n").code, 1);
        QCOMPARE(readFile("e.reg"), QByteArray("keep"));
        QCOMPARE(reg("export HKCU\\Software\\Exp e.reg /y").code, 0);
        QVERIFY(readFile("e.reg").startsWith("\xff\xfe"));
    }

    void importAppliesAGoodFileAndNothingOfABadOne_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("expectedQuery");

        const QString head = "Windows Registry Editor Version 5.00\r\n\r\n";
        const QString body =
            "[HKEY_CURRENT_USER\\Software\\Imp]\r\n\"gone\"=-\r\n\"n\"=dword:00000010\r\n"
            "; a comment\r\n\"s\"=\"a\\\\b\"\r\n[-HKEY_CURRENT_USER\\Software\\Imp\\Old]\r\n";
        const QString key = "\nHKEY_CURRENT_USER\\Software\\Imp\n";
        const QString applied = key + "    n    REG_DWORD    0x10\n    s    REG_SZ    a\\b\n\n";
        QTest::newRow("a UTF-16 file from regedit")
            << "\xff\xfe" + utf16(head + body) << "" << applied;
        QTest::newRow("a UTF-8 file") << (head + body).toUtf8() << "" << applied;
        QTest::newRow("a REGEDIT4 file with an 8-bit hex(2) string")
            << QByteArray("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Imp]\n\"gone\"=-\n"
                          "\"e\"=hex(2):25,41,25,00\n[-HKEY_CURRENT_USER\\Software\\Imp\\Old]\n")
            << "" << key + "    e    REG_EXPAND_SZ    %A%\n\n";

        // A bad line anywhere: not even the lines before it are applied.
        const QByteArray bad = (head + body.left(body.indexOf("; a comment"))).toUtf8();
        const QString untouched =
            key + "    gone    REG_SZ    1\n\nHKEY_CURRENT_USER\\Software\\Imp\\Old\n";
        auto refused = [&](const char* name, const QByteArray& file, const QString& error) {
            QTest::newRow(name) << file << error << untouched;
        };
        refused("not a registry file", "hello\r\n", "line 1: not a registry file");
        refused("a dword with nine digits", bad + "\"x\"=dword:123456789\r\n",
                "line 6: dword: needs one to eight hexadecimal digits");
        refused("hex bytes of three digits", bad + "\"h\"=hex:1,234\r\n",
                "line 6: hex data must be two-digit bytes separated by commas");
        refused("a string without its closing quote", bad + "\"s\"=\"open\r\n",
                "line 6: the string is not closed by a quote");
        refused("an unknown root in a key line", bad + "[HKEY_NOWHERE\\x]\r\n",
                "line 6: invalid key name \"HKEY_NOWHERE\\x\"");
        refused("a value before any key", "Windows Registry Editor Version 5.00\r\n\"a\"=\"b\"\r\n",
                "line 2: a value outside a key section");
        refused("deleting a whole root", bad + "[-HKEY_CURRENT_USER]\r\n",
                "line 6: invalid key name \"HKEY_CURRENT_USER\"");
    }

    void importAppliesAGoodFileAndNothingOfABadOne()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, error);
        QFETCH(QString, expectedQuery);
        QCOMPARE(reg("add HKCU\\Software\\Imp /v gone /d 1 /f").code, 0);
        QCOMPARE(reg("add HKCU\\Software\\Imp\\Old\\Deeper /v x /d 1 /f").code, 0);
        writeFile("i.reg", file);
        const Result imported = reg("import i.reg");
        QVERIFY2(error.isEmpty() ? imported.err.isEmpty() : imported.err.contains(error),
                 qPrintable(imported.err));
        QCOMPARE(imported.code, error.isEmpty() ? 0 : 1);
        QCOMPARE(reg("query HKCU\\Software\\Imp").out, expectedQuery);
    }
};

QTEST_GUILESS_MAIN(TestRegCommand)
#include "tst_regcommand.moc"
