#include "SimulatedHost.h"
#include "WinApi.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct ToolResult
{
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

class VexorHostToolTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void createLaysOutTheHost_data();
    void createLaysOutTheHost();
    void badCommandLinesExitWithUsage_data();
    void badCommandLinesExitWithUsage();
    void infoOnAMissingHostFailsWithoutMakingOne();
    void pendingAndRestartFollowTheInstaller();
    void elevationSwitchReachesTheTool();
    void aCorruptedHostIsReportedAndLeftAlone();

private:
    ToolResult tool(const QStringList& arguments, const QProcessEnvironment& extra = {});
    std::unique_ptr<QTemporaryDir> hostDir;
};

void VexorHostToolTest::init()
{
    QVERIFY2(!qEnvironmentVariable("VEXOR_HOST_TOOL").isEmpty(), "VEXOR_HOST_TOOL is not set");
    hostDir = std::make_unique<QTemporaryDir>();
    QVERIFY(hostDir->isValid());
}

ToolResult VexorHostToolTest::tool(const QStringList& arguments, const QProcessEnvironment& extra)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VEXOR_HOST_DIR", hostDir->path());
    environment.insert(extra);
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("VEXOR_HOST_TOOL"), arguments);
    ToolResult result;
    if (!process.waitForFinished(60000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void VexorHostToolTest::createLaysOutTheHost_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QStringList>("folders");
    QTest::newRow("a 64-bit host with Crypto Pro has both CSP folders")
        << QStringList{"create", "--with-csp"} << "x86_64"
        << QStringList{"drive_c/Program Files (x86)/Crypto Pro/CSP",
                       "drive_c/Program Files/Crypto Pro/CSP"};
    QTest::newRow("an arm64 host is a 64-bit host with both CSP folders")
        << QStringList{"create", "--arch", "arm64", "--with-csp"} << "arm64"
        << QStringList{"drive_c/Program Files (x86)/Crypto Pro/CSP",
                       "drive_c/Program Files/Crypto Pro/CSP"};
    QTest::newRow("a 32-bit host with Crypto Pro has one")
        << QStringList{"create", "--arch", "i386", "--with-csp"} << "i386"
        << QStringList{"drive_c/Program Files/Crypto Pro/CSP"};
    QTest::newRow("a host without Crypto Pro has no CSP folder")
        << QStringList{"create", "--arch=x86_64"} << "x86_64" << QStringList();
}

void VexorHostToolTest::createLaysOutTheHost()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, architecture);
    QFETCH(QStringList, folders);
    const ToolResult created = tool(arguments);
    QVERIFY2(created.exitCode == 0, qPrintable(created.err));
    const QString root = QDir(hostDir->path()).absolutePath();
    for (const QString& folder : folders) {
        QVERIFY2(created.out.contains(root + "/" + folder), qPrintable(created.out));
        QVERIFY(QFileInfo(root + "/" + folder).isDir());
    }
    const ToolResult info = tool({"info"});
    QCOMPARE(info.exitCode, 0);
    QVERIFY(info.out.contains("Architecture: " + architecture));
    QVERIFY(info.out.contains("Database: " + root + "/registry.db"));
    QCOMPARE(info.out.contains("ProgramW6432=" + root + "/drive_c/Program Files"),
             architecture != QLatin1String("i386"));

    // What the tool made is what the installer process sees.
    QVERIFY(SimulatedHost::use(hostDir->path()));
    QCOMPARE(SimulatedHost::architecture(), architecture);
    DWORD length = 0;
    const UINT found = MsiGetProductInfoW(
        reinterpret_cast<LPCWSTR>(SimulatedHost::cryptoProProductCode().utf16()),
        reinterpret_cast<LPCWSTR>(QStringLiteral("InstallLocation").utf16()), nullptr, &length);
    QCOMPARE(found, UINT(folders.isEmpty() ? ERROR_UNKNOWN_PRODUCT : ERROR_SUCCESS));

    // A second create keeps the host; another architecture is refused.
    QCOMPARE(tool(arguments).exitCode, 0);
    const ToolResult other = tool({"create", "--arch", architecture == "i386" ? "x86_64" : "i386"});
    QCOMPARE(other.exitCode, 1);
    QVERIFY2(other.err.contains("already exists"), qPrintable(other.err));
}

void VexorHostToolTest::badCommandLinesExitWithUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no command") << QStringList();
    QTest::newRow("an unknown command") << QStringList{"reboot"};
    QTest::newRow("an unknown architecture") << QStringList{"create", "--arch", "sparc"};
    QTest::newRow("an unknown create option") << QStringList{"create", "--with-cps"};
    QTest::newRow("arguments to info") << QStringList{"info", "extra"};
}

void VexorHostToolTest::badCommandLinesExitWithUsage()
{
    QFETCH(QStringList, arguments);
    const ToolResult result = tool(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(!result.err.isEmpty());
    QVERIFY(!QFile::exists(hostDir->filePath("registry.db")));
}

void VexorHostToolTest::infoOnAMissingHostFailsWithoutMakingOne()
{
    for (const char* command : {"info", "pending", "restart"}) {
        const ToolResult result = tool({QString::fromLatin1(command)});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains("no host"), qPrintable(result.err));
    }
    QVERIFY(!QFile::exists(hostDir->filePath("registry.db")));
}

void VexorHostToolTest::pendingAndRestartFollowTheInstaller()
{
    QCOMPARE(tool({"create", "--with-csp"}).exitCode, 0);
    QVERIFY(SimulatedHost::use(hostDir->path()));
    const QString module = SimulatedHost::cspFolder() + "/vexor.dll";
    QFile file(module);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(MoveFileExW(reinterpret_cast<LPCWSTR>(module.utf16()), nullptr,
                        MOVEFILE_DELAY_UNTIL_REBOOT));

    const ToolResult pending = tool({"pending"});
    QCOMPARE(pending.exitCode, 0);
    QCOMPARE(pending.out, "delete " + module + "\n");
    const ToolResult restart = tool({"restart"});
    QVERIFY2(restart.exitCode == 0, qPrintable(restart.err));
    QVERIFY(!QFile::exists(module));
    QCOMPARE(tool({"pending"}).out, QString());
    QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList());
}

void VexorHostToolTest::elevationSwitchReachesTheTool()
{
    QProcessEnvironment limited;
    limited.insert("VEXOR_HOST_ELEVATED", "0");
    QCOMPARE(tool({"create"}).exitCode, 0);
    const ToolResult info = tool({"info"}, limited);
    QCOMPARE(info.exitCode, 0);
    QVERIFY(info.out.contains("Elevated: no"));
    QVERIFY(tool({"info"}).out.contains("Elevated: yes"));
}

void VexorHostToolTest::aCorruptedHostIsReportedAndLeftAlone()
{
    QCOMPARE(tool({"create", "--with-csp"}).exitCode, 0);
    const QString database = hostDir->filePath("registry.db");
    QFile::remove(database + "-wal");
    QFile::remove(database + "-shm");
    QFile file(database);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const QByteArray garbage(4096, 'z');
    file.write(garbage);
    file.close();
    for (const char* command : {"info", "pending", "restart"}) {
        const ToolResult result = tool({QString::fromLatin1(command)});
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains(database), qPrintable(result.err));
    }
    const ToolResult create = tool({"create"});
    QCOMPARE(create.exitCode, 1);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), garbage);
}

QTEST_GUILESS_MAIN(VexorHostToolTest)
#include "tst_vexorhost.moc"
