#include "RegCommand.h"
#include "RegKey.h"
#include "SimulatedHost.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Drives RegCommand as the vexor-host tool would, each test on its own fresh
// x86_64 host.
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

    static QStringList lines(const QString& text) { return text.split(QLatin1Char('\n')); }

    // The bytes of a REG_SZ: UTF-16LE units and a terminating zero unit.
    static QByteArray utf16z(const QString& text)
    {
        QByteArray bytes;
        for (const QChar c : text)
            bytes.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
        return bytes.append(2, '\0');
    }

    QString path(const QString& name) const { return m_files->filePath(name); }

    QScopedPointer<QTemporaryDir> m_host;
    QScopedPointer<QTemporaryDir> m_files;

private slots:
    void init()
    {
        m_host.reset(new QTemporaryDir);
        m_files.reset(new QTemporaryDir);
        QVERIFY(m_host->isValid() && m_files->isValid());
        QString error;
        SimulatedHost::CreateOptions options;
        options.architecture = QStringLiteral("x86_64");
        QVERIFY2(SimulatedHost::create(m_host->path(), options, &error), qPrintable(error));
        QVERIFY2(SimulatedHost::use(m_host->path(), &error), qPrintable(error));
        SimulatedHost::setElevated(true);
    }

    void cleanup()
    {
        QCOMPARE(SimulatedHost::openHandleCount(), 0);
        SimulatedHost::setElevated(true);
    }

    void everyTypeSurvivesAddQueryExportImport_data()
    {
        QTest::addColumn<QStringList>("addOptions");
        QTest::addColumn<QString>("queryLine");
        QTest::addColumn<QString>("exportLine");
        QTest::addColumn<QByteArray>("bytes");

        const QByteArray zero(2, '\0');
        QTest::newRow("a string keeps its text and terminator")
            << QStringList{"/d", "C:\\Program Files\\\"q\""}
            << "    v    REG_SZ    C:\\Program Files\\\"q\""
            << "\"v\"=\"C:\\\\Program Files\\\\\\\"q\\\"\"" << utf16z("C:\\Program Files\\\"q\"");
        QTest::newRow("an empty string is its terminator alone")
            << QStringList{"/d", ""} << "    v    REG_SZ    "
            << "\"v\"=\"\"" << zero;
        QTest::newRow("an expandable string is exported as hex(2)")
            << QStringList{"/t", "REG_EXPAND_SZ", "/d", "%A%"} << "    v    REG_EXPAND_SZ    %A%"
            << "\"v\"=hex(2):25,00,41,00,25,00,00,00" << QByteArray("%\0A\0%\0\0\0", 8);
        QTest::newRow("a multi-string splits at \\0 and ends with two zeros")
            << QStringList{"/t", "REG_MULTI_SZ", "/d", "ab\\0c"}
            << "    v    REG_MULTI_SZ    ab\\0c"
            << "\"v\"=hex(7):61,00,62,00,00,00,63,00,00,00,00,00"
            << QByteArray("a\0b\0\0\0c\0\0\0\0\0", 12);
        QTest::newRow("a multi-string splits at the separator given with /s")
            << QStringList{"/t", "REG_MULTI_SZ", "/s", "#", "/d", "x#y"}
            << "    v    REG_MULTI_SZ    x\\0y"
            << "\"v\"=hex(7):78,00,00,00,79,00,00,00,00,00" << QByteArray("x\0\0\0y\0\0\0\0\0", 10);
        QTest::newRow("a dword given in hex is stored little-endian")
            << QStringList{"/t", "REG_DWORD", "/d", "0xDEADBEEF"}
            << "    v    REG_DWORD    0xdeadbeef"
            << "\"v\"=dword:deadbeef" << QByteArray("\xef\xbe\xad\xde", 4);
        QTest::newRow("a dword given in decimal")
            << QStringList{"/t", "REG_DWORD", "/d", "4294967295"}
            << "    v    REG_DWORD    0xffffffff"
            << "\"v\"=dword:ffffffff" << QByteArray("\xff\xff\xff\xff", 4);
        QTest::newRow("a qword keeps all eight bytes")
            << QStringList{"/t", "REG_QWORD", "/d", "0x1122334455667788"}
            << "    v    REG_QWORD    0x1122334455667788"
            << "\"v\"=hex(b):88,77,66,55,44,33,22,11"
            << QByteArray("\x88\x77\x66\x55\x44\x33\x22\x11", 8);
        QTest::newRow("binary data keeps zero bytes")
            << QStringList{"/t", "REG_BINARY", "/d", "00ff0010"}
            << "    v    REG_BINARY    00FF0010"
            << "\"v\"=hex:00,ff,00,10" << QByteArray("\x00\xff\x00\x10", 4);
        QTest::newRow("empty binary data")
            << QStringList{"/t", "REG_BINARY"} << "    v    REG_BINARY    "
            << "\"v\"=hex:" << QByteArray();
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
        const QString key = QStringLiteral("HKCU\\Software\\RoundTrip");

        Result added = reg(QStringList{"add", key, "/v", "v"} + addOptions + QStringList{"/f"});
        QCOMPARE(added.err, QString());
        QCOMPARE(added.code, 0);
        Result queried = reg(QStringList{"query", key, "/v", "v"});
        QCOMPARE(queried.code, 0);
        QCOMPARE(lines(queried.out).value(2), queryLine);

        QCOMPARE(reg(QStringList{"export", key, path("v.reg"), "/y"}).code, 0);
        QFile file(path("v.reg"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray raw = file.readAll();
        QVERIFY(raw.startsWith("\xff\xfe"));
        const QString text = QString::fromUtf16(
            reinterpret_cast<const char16_t*>(raw.constData() + 2), (raw.size() - 2) / 2);
        QCOMPARE(text, QStringLiteral("Windows Registry Editor Version 5.00\r\n\r\n"
                                      "[HKEY_CURRENT_USER\\Software\\RoundTrip]\r\n") +
                           exportLine + QStringLiteral("\r\n\r\n"));

        QCOMPARE(reg(QStringList{"delete", key, "/f"}).code, 0);
        QCOMPARE(reg(QStringList{"query", key}).code, 1);
        Result imported = reg(QStringList{"import", path("v.reg")});
        QCOMPARE(imported.err, QString());
        QCOMPARE(imported.code, 0);

        RegKey opened;
        QCOMPARE(opened.open(HKEY_CURRENT_USER, "Software\\RoundTrip", KEY_READ), ERROR_SUCCESS);
        RegKey::Value value;
        QCOMPARE(opened.value("v", &value), ERROR_SUCCESS);
        QCOMPARE(value.data, bytes);
    }

    void viewsAddressTheirOwnTrees_data()
    {
        QTest::addColumn<QString>("writeView");
        QTest::addColumn<QString>("readKey");
        QTest::addColumn<QString>("readView");
        QTest::addColumn<int>("expectedCode");

        QTest::newRow("the 32-bit view lands under Wow6432Node")
            << "/reg:32"
            << "HKLM\\SOFTWARE\\Wow6432Node\\VexorViews"
            << "/reg:64" << 0;
        QTest::newRow("the 32-bit view is not the native SOFTWARE") << "/reg:32"
                                                                    << "HKLM\\SOFTWARE\\VexorViews"
                                                                    << "/reg:64" << 1;
        QTest::newRow("the 32-bit view reads back what it wrote") << "/reg:32"
                                                                  << "HKLM\\SOFTWARE\\VexorViews"
                                                                  << "/reg:32" << 0;
        QTest::newRow("the 64-bit view writes the native SOFTWARE") << "/reg:64"
                                                                    << "HKLM\\SOFTWARE\\VexorViews"
                                                                    << "/reg:64" << 0;
        QTest::newRow("the 64-bit view is not seen from the 32-bit view")
            << "/reg:64"
            << "HKLM\\SOFTWARE\\VexorViews"
            << "/reg:32" << 1;
    }

    void viewsAddressTheirOwnTrees()
    {
        QFETCH(QString, writeView);
        QFETCH(QString, readKey);
        QFETCH(QString, readView);
        QFETCH(int, expectedCode);
        QCOMPARE(
            reg({"add", "HKLM\\SOFTWARE\\VexorViews", "/v", "a", "/d", "1", "/f", writeView}).code,
            0);
        const Result read = reg({"query", readKey, "/v", "a", readView});
        QCOMPARE(read.code, expectedCode);
        if (expectedCode == 0)
            QVERIFY(read.out.contains("    a    REG_SZ    1\n"));
    }

    void deleteInOneViewLeavesTheOther()
    {
        QCOMPARE(reg("add HKLM\\SOFTWARE\\VexorTwin /v a /d 32 /f /reg:32").code, 0);
        QCOMPARE(reg("add HKLM\\SOFTWARE\\VexorTwin /v a /d 64 /f /reg:64").code, 0);
        QCOMPARE(reg("delete HKLM\\SOFTWARE\\VexorTwin /f /reg:32").code, 0);
        QCOMPARE(reg("query HKLM\\SOFTWARE\\VexorTwin /reg:32").code, 1);
        const Result native = reg("query HKLM\\SOFTWARE\\VexorTwin /v a /reg:64");
        QCOMPARE(native.code, 0);
        QVERIFY(native.out.contains("REG_SZ    64"));
    }

    void failuresAnswerOneWithAClearMessage_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("message");

        const QString notFound =
            "ERROR: The system was unable to find the specified registry key or value.";
        QTest::newRow("querying a missing key") << "query HKCU\\Software\\Missing" << notFound;
        QTest::newRow("querying a missing value")
            << "query HKCU\\Software\\Present /v nope" << notFound;
        QTest::newRow("deleting a missing value")
            << "delete HKCU\\Software\\Present /v nope /f" << notFound;
        QTest::newRow("deleting a missing key") << "delete HKCU\\Software\\Missing /f" << notFound;
        QTest::newRow("exporting a missing key")
            << "export HKCU\\Software\\Missing out.reg /y" << notFound;
        QTest::newRow("an unknown root") << "query HKXX\\Software"
                                         << "ERROR: Invalid key name.";
        QTest::newRow("a remote machine") << "query \\\\pc\\HKLM\\Software"
                                          << "ERROR: Invalid key name.";
        QTest::newRow("deleting a whole root") << "delete HKCU /f"
                                               << "ERROR: Invalid key name.";
        QTest::newRow("both views at once") << "query HKCU\\Software\\Present /reg:32 /reg:64"
                                            << "ERROR: Invalid syntax.";
        QTest::newRow("a value name and the default value together")
            << "add HKCU\\Software\\Present /v a /ve /f"
            << "ERROR: Invalid syntax.";
        QTest::newRow("an unknown option") << "query HKCU\\Software\\Present /q"
                                           << "ERROR: Invalid syntax.";
        QTest::newRow("an option given twice") << "add HKCU\\Software\\Present /v a /v b /f"
                                               << "ERROR: Invalid syntax.";
        QTest::newRow("/v without its name") << "query HKCU\\Software\\Present /v"
                                             << "ERROR: Invalid syntax.";
        QTest::newRow("an unknown operation") << "copy HKCU\\Software\\Present HKCU\\x"
                                              << "ERROR: Invalid syntax.";
        QTest::newRow("add without a key") << "add"
                                           << "ERROR: Invalid syntax.";
        QTest::newRow("an unknown data type")
            << "add HKCU\\Software\\Present /v a /t REG_FOO /d 1 /f"
            << "ERROR: Invalid type specified: REG_FOO";
        QTest::newRow("a dword that is not a number")
            << "add HKCU\\Software\\Present /v a /t REG_DWORD /d zz /f"
            << "ERROR: Invalid syntax. Specify valid numeric value for /d.";
        QTest::newRow("a dword past 32 bits")
            << "add HKCU\\Software\\Present /v a /t REG_DWORD /d 0x100000000 /f"
            << "ERROR: Invalid syntax. Specify valid numeric value for /d.";
        QTest::newRow("a negative dword")
            << "add HKCU\\Software\\Present /v a /t REG_DWORD /d -1 /f"
            << "ERROR: Invalid syntax. Specify valid numeric value for /d.";
        QTest::newRow("binary data that is not hex")
            << "add HKCU\\Software\\Present /v a /t REG_BINARY /d 0g /f"
            << "ERROR: Invalid syntax. Specify valid hexadecimal data for /d.";
        QTest::newRow("a multi-string with an empty string inside")
            << "add HKCU\\Software\\Present /v a /t REG_MULTI_SZ /d a\\0\\0b /f"
            << "ERROR: Invalid syntax. An empty string cannot be part of a REG_MULTI_SZ value.";
        QTest::newRow("a separator longer than one character")
            << "add HKCU\\Software\\Present /v a /t REG_MULTI_SZ /s ab /d x /f"
            << "ERROR: Invalid syntax.";
        QTest::newRow("importing a missing file")
            << "import missing.reg"
            << "ERROR: Error opening the file. There may be a disk or file system error.";
    }

    void failuresAnswerOneWithAClearMessage()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, message);
        QCOMPARE(reg("add HKCU\\Software\\Present /v keep /d me /f").code, 0);
        QDir::setCurrent(m_files->path());
        const Result result = reg(commandLine);
        QCOMPARE(result.code, 1);
        QCOMPARE(lines(result.err).value(0), message);
        QVERIFY(!result.out.contains("completed successfully"));
        // Nothing already there was touched.
        const Result kept = reg("query HKCU\\Software\\Present /v keep");
        QCOMPARE(kept.code, 0);
        QVERIFY(kept.out.contains("keep    REG_SZ    me"));
    }

    void questionsAreAnsweredFromInput_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QString>("question");
        QTest::addColumn<int>("expectedCode");
        QTest::addColumn<QString>("valueAfter");

        const QString key = "HKCU\\Software\\Asked";
        QTest::newRow("overwrite declined keeps the old value")
            << "add " + key + " /v a /d new"
            << "no\n"
            << "Value a exists, overwrite (Yes/No)? " << 1 << "old";
        QTest::newRow("overwrite accepted after a word it does not know")
            << "add " + key + " /v a /d new"
            << "maybe\ny\n"
            << "Value a exists, overwrite (Yes/No)? " << 0 << "new";
        QTest::newRow("deleting a value with no answer at all deletes nothing")
            << "delete " + key + " /v a"
            << ""
            << "Delete the registry value a (Yes/No)? " << 1 << "old";
        QTest::newRow("deleting a value confirmed")
            << "delete " + key + " /v a"
            << "Yes\n"
            << "Delete the registry value a (Yes/No)? " << 0 << "";
        QTest::newRow("deleting the key declined")
            << "delete " + key << "N\n"
            << "Permanently delete the registry key HKEY_CURRENT_USER\\Software\\Asked (Yes/No)? "
            << 1 << "old";
        QTest::newRow("deleting every value declined")
            << "delete " + key + " /va"
            << "n\n"
            << "Delete all values under the registry key HKEY_CURRENT_USER\\Software\\Asked "
               "(Yes/No)? "
            << 1 << "old";
    }

    void questionsAreAnsweredFromInput()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, answers);
        QFETCH(QString, question);
        QFETCH(int, expectedCode);
        QFETCH(QString, valueAfter);
        QCOMPARE(reg("add HKCU\\Software\\Asked /v a /d old /f").code, 0);
        const Result result = reg(commandLine, answers);
        QCOMPARE(result.code, expectedCode);
        QVERIFY2(result.out.startsWith(question), qPrintable(result.out));
        const Result after = reg("query HKCU\\Software\\Asked /v a");
        if (valueAfter.isEmpty())
            QCOMPARE(after.code, 1);
        else
            QVERIFY2(after.out.contains("REG_SZ    " + valueAfter + "\n"), qPrintable(after.out));
    }

    void queryListsValuesThenSubkeysAndRecursesWithS()
    {
        QCOMPARE(reg("add HKCU\\Software\\Tree /v b /d 2 /f").code, 0);
        QCOMPARE(reg("add HKCU\\Software\\Tree\\Child\\Leaf /v c /t REG_DWORD /d 3 /f").code, 0);
        QCOMPARE(reg("add HKCU\\Software\\Tree\\Empty /f").code, 0);

        QCOMPARE(reg("query hkcu\\Software\\Tree\\").out,
                 QStringLiteral("\nHKEY_CURRENT_USER\\Software\\Tree\n    b    REG_SZ    2\n\n"
                                "HKEY_CURRENT_USER\\Software\\Tree\\Child\n"
                                "HKEY_CURRENT_USER\\Software\\Tree\\Empty\n"));
        QCOMPARE(reg("query HKCU\\Software\\Tree /s").out,
                 QStringLiteral("\nHKEY_CURRENT_USER\\Software\\Tree\n    b    REG_SZ    2\n\n"
                                "HKEY_CURRENT_USER\\Software\\Tree\\Child\n\n"
                                "HKEY_CURRENT_USER\\Software\\Tree\\Child\\Leaf\n"
                                "    c    REG_DWORD    0x3\n\n"
                                "HKEY_CURRENT_USER\\Software\\Tree\\Empty\n\n"));
        QCOMPARE(
            reg("query HKCU\\Software\\Tree /v c /s").out,
            QStringLiteral("\nHKEY_CURRENT_USER\\Software\\Tree\\Child\\Leaf\n"
                           "    c    REG_DWORD    0x3\n\nEnd of search: 1 match(es) found.\n"));
        QCOMPARE(reg("query HKCU\\Software\\Tree /ve").out,
                 QStringLiteral("\nHKEY_CURRENT_USER\\Software\\Tree\n"
                                "    (Default)    REG_SZ    (value not set)\n"));
        QCOMPARE(reg("query HKCU\\Software\\Tree /s /t REG_DWORD /z").out,
                 QStringLiteral("\nHKEY_CURRENT_USER\\Software\\Tree\n\n"
                                "HKEY_CURRENT_USER\\Software\\Tree\\Child\n\n"
                                "HKEY_CURRENT_USER\\Software\\Tree\\Child\\Leaf\n"
                                "    c    REG_DWORD (4)    0x3\n\n"
                                "HKEY_CURRENT_USER\\Software\\Tree\\Empty\n\n"));
    }

    void bareAddMakesOnlyTheKeyAndDeleteTakesTheWholeTree()
    {
        QCOMPARE(reg("add HKCU\\Software\\Bare\\A\\B /f").code, 0);
        QCOMPARE(reg("query HKCU\\Software\\Bare\\A\\B").out, QStringLiteral("\n"));
        QCOMPARE(reg("add HKCU\\Software\\Bare\\A /v x /d y /f").code, 0);
        QCOMPARE(reg("delete HKCU\\Software\\Bare /f").code, 0);
        QCOMPARE(reg("query HKCU\\Software\\Bare").code, 1);
        QCOMPARE(reg("query HKCU\\Software").code, 0);
    }

    void deleteAllValuesKeepsSubkeys()
    {
        QCOMPARE(reg("add HKCU\\Software\\Va /v a /d 1 /f").code, 0);
        QCOMPARE(reg("add HKCU\\Software\\Va /ve /d 2 /f").code, 0);
        QCOMPARE(reg("add HKCU\\Software\\Va\\Sub /v c /d 3 /f").code, 0);
        QCOMPARE(reg("delete HKCU\\Software\\Va /va /f").code, 0);
        QCOMPARE(reg("query HKCU\\Software\\Va").out,
                 QStringLiteral("\nHKEY_CURRENT_USER\\Software\\Va\\Sub\n"));
        QCOMPARE(reg("query HKCU\\Software\\Va\\Sub /v c").code, 0);
    }

    void longHexDataWrapsLikeRegedit()
    {
        QCOMPARE(reg("add HKCU\\Software\\Wrap /v longbin /t REG_BINARY /d " +
                     QString("ab").repeated(100) + " /f")
                     .code,
                 0);
        QCOMPARE(reg({"export", "HKCU\\Software\\Wrap", path("w.reg")}).code, 0);
        QFile file(path("w.reg"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray raw = file.readAll().mid(2);
        const QStringList fileLines =
            QString::fromUtf16(reinterpret_cast<const char16_t*>(raw.constData()), raw.size() / 2)
                .split("\r\n");
        // Regedit's own layout: 21 bytes after the name, 25 per continuation line.
        QCOMPARE(fileLines.value(3), "\"longbin\"=hex:" + QString("ab,").repeated(21) + "\\");
        QCOMPARE(fileLines.value(4), "  " + QString("ab,").repeated(25) + "\\");
        QCOMPARE(fileLines.value(7), "  " + QString("ab,").repeated(3) + "ab");
        for (const QString& line : fileLines)
            QVERIFY(line.size() <= 80);
        QCOMPARE(reg({"delete", "HKCU\\Software\\Wrap", "/f"}).code, 0);
        QCOMPARE(reg({"import", path("w.reg")}).code, 0);
        QVERIFY(
            reg("query HKCU\\Software\\Wrap /v longbin").out.contains(QString("AB").repeated(100)));
    }

    void exportDoesNotReplaceAFileUnlessAllowed()
    {
        QCOMPARE(reg("add HKCU\\Software\\Exp /v a /d 1 /f").code, 0);
        QFile existing(path("e.reg"));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("keep");
        existing.close();
        QCOMPARE(reg({"export", "HKCU\\Software\\Exp", path("e.reg")}, "no\n").code, 1);
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), QByteArray("keep"));
        existing.close();
        QCOMPARE(reg({"export", "HKCU\\Software\\Exp", path("e.reg"), "/y"}).code, 0);
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QVERIFY(existing.readAll().startsWith("\xff\xfe"));
    }

    void importAppliesDeletionsAndBothEncodings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expectedQuery");

        const QString header = "Windows Registry Editor Version 5.00\r\n\r\n";
        const QString body =
            "[HKEY_CURRENT_USER\\Software\\Imp]\r\n\"gone\"=-\r\n\"n\"=dword:00000010\r\n"
            "; a comment\r\n\"s\"=\"a\\\\b\"\r\n[-HKEY_CURRENT_USER\\Software\\Imp\\Old]\r\n";
        const QString expected = "\nHKEY_CURRENT_USER\\Software\\Imp\n    n    REG_DWORD    0x10\n "
                                 "   s    REG_SZ    a\\b\n\n";
        QByteArray utf16("\xff\xfe", 2);
        for (const QChar c : header + body)
            utf16.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
        QTest::newRow("a UTF-16 file from regedit") << utf16 << expected;
        QTest::newRow("a UTF-8 file") << (header + body).toUtf8() << expected;
        QTest::newRow("a REGEDIT4 file with an 8-bit hex(2) string")
            << QByteArray("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Imp]\n\"gone\"=-\n"
                          "\"e\"=hex(2):25,41,25,00\n[-HKEY_CURRENT_USER\\Software\\Imp\\Old]\n")
            << QString("\nHKEY_CURRENT_USER\\Software\\Imp\n    e    REG_EXPAND_SZ    %A%\n\n");
    }

    void importAppliesDeletionsAndBothEncodings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, expectedQuery);
        QCOMPARE(reg("add HKCU\\Software\\Imp /v gone /d 1 /f").code, 0);
        QCOMPARE(reg("add HKCU\\Software\\Imp\\Old\\Deeper /v x /d 1 /f").code, 0);
        QFile out(path("i.reg"));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
        out.close();
        const Result imported = reg({"import", path("i.reg")});
        QCOMPARE(imported.err, QString());
        QCOMPARE(imported.code, 0);
        QCOMPARE(reg("query HKCU\\Software\\Imp").out, expectedQuery);
    }

    void aBadFileChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("reason");
        const QByteArray head =
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Bad]\r\n"
            "\"first\"=\"written?\"\r\n";
        QTest::newRow("not a registry file")
            << QByteArray("hello\r\n") << "line 1: not a registry file";
        QTest::newRow("a dword with nine digits")
            << head + "\"n\"=dword:123456789\r\n"
            << "line 5: dword: needs one to eight hexadecimal digits";
        QTest::newRow("hex bytes of three digits")
            << head + "\"h\"=hex:1,234\r\n"
            << "line 5: hex data must be two-digit bytes separated by commas";
        QTest::newRow("a string without its closing quote")
            << head + "\"s\"=\"open\r\n"
            << "line 5: the string is not closed by a quote";
        QTest::newRow("an unknown root in a key line")
            << head + "[HKEY_NOWHERE\\x]\r\n"
            << "line 5: invalid key name \"HKEY_NOWHERE\\x\"";
        QTest::newRow("a value before any key")
            << QByteArray("Windows Registry Editor Version 5.00\r\n\"a\"=\"b\"\r\n")
            << "line 2: a value outside a key section";
        QTest::newRow("deleting a whole root") << head + "[-HKEY_CURRENT_USER]\r\n"
                                               << "line 5: invalid key name \"HKEY_CURRENT_USER\"";
    }

    void aBadFileChangesNothing()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, reason);
        QFile out(path("bad.reg"));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
        out.close();
        const Result result = reg({"import", path("bad.reg")});
        QCOMPARE(result.code, 1);
        QVERIFY2(result.err.contains(reason), qPrintable(result.err));
        QCOMPARE(reg("query HKCU\\Software\\Bad").code, 1);
    }

    void withoutAdministratorRightsMachineKeysAreReadOnly()
    {
        QCOMPARE(reg("add HKLM\\SOFTWARE\\Locked /v a /d 1 /f").code, 0);
        SimulatedHost::setElevated(false);
        const Result denied = reg("add HKLM\\SOFTWARE\\Locked /v a /d 2 /f");
        QCOMPARE(denied.code, 1);
        QCOMPARE(denied.err, QStringLiteral("ERROR: Access is denied.\n"));
        QCOMPARE(reg("delete HKLM\\SOFTWARE\\Locked /f").code, 1);
        const Result read = reg("query HKLM\\SOFTWARE\\Locked /v a");
        QCOMPARE(read.code, 0);
        QVERIFY(read.out.contains("REG_SZ    1"));
        QCOMPARE(reg("add HKCU\\Software\\Mine /v a /d 1 /f").code, 0);
    }
};

QTEST_GUILESS_MAIN(TestRegCommand)
#include "tst_regcommand.moc"
