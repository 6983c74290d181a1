// What the registry conformance run cannot compare with Windows: how the
// simulated host keeps its data (damage, another process's lock), its restart
// storage, its facts per architecture and a process without administrator
// rights. Many processes at once and killed writers are drilled through the
// host tool (tests/drills); handles of deleted and closed keys are fuzzed
// against a model (tests/fuzz).

#include "RawRegistry.h"
#include "SimulatedHost.h"
#include "TestHost.h"

#include <QProcess>
#include <QtTest>

namespace {

LPCWSTR w(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The results of making or opening a key that is closed again at once.
LONG created(const QString& path, REGSAM rights = KEY_ALL_ACCESS, HKEY root = HKEY_CURRENT_USER,
             DWORD options = 0)
{
    HKEY key = nullptr;
    const LONG code =
        RegCreateKeyExW(root, w(path), 0, nullptr, options, rights, nullptr, &key, nullptr);
    RegCloseKey(key);
    return code;
}

LONG opened(HKEY root, const QString& path, REGSAM rights)
{
    HKEY key = nullptr;
    const LONG code = RegOpenKeyExW(root, w(path), 0, rights, &key);
    RegCloseKey(key);
    return code;
}

} // namespace

class SimulatedHostTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHost> host;

    void useHost(const QString& architecture, bool withCsp)
    {
        // The old host first: its end switches the process to an idle host.
        host.reset();
        host = std::make_unique<TestHost>(architecture, withCsp);
        QVERIFY2(host->isReady(), qPrintable(host->error()));
    }

private slots:
    void init() { useHost(QStringLiteral("x86_64"), true); }
    void cleanup() { QCOMPARE(TestHost::openHandleCount(), 0); }

    void hostFactsFollowTheArchitecture_data()
    {
        QTest::addColumn<QString>("architecture");
        QTest::addColumn<bool>("wow64");
        QTest::newRow("x86_64: two registry views, ProgramW6432") << "x86_64" << true;
        QTest::newRow("arm64: two registry views, ProgramW6432") << "arm64" << true;
        QTest::newRow("i386: one registry view, no ProgramW6432") << "i386" << false;
    }

    void hostFactsFollowTheArchitecture()
    {
        QFETCH(QString, architecture);
        QFETCH(bool, wow64);
        qputenv("ProgramFiles", "/set/by/the/process");
        useHost(architecture, true);
        // The host's environment fills in what the process has not set itself
        // and takes back what the host before put there.
        QCOMPARE(qEnvironmentVariable("ProgramFiles"), QStringLiteral("/set/by/the/process"));
        qunsetenv("ProgramFiles");
        QCOMPARE(qEnvironmentVariable("ProgramFiles(x86)").isEmpty(), !wow64);
        QCOMPARE(SimulatedHost::environment().contains("ProgramW6432"), wow64);

        // A 32-bit program's key lands below Wow6432Node only where there are
        // two views; only there are both view flags at once refused.
        QCOMPARE(created("SOFTWARE\\Quellon", KEY_ALL_ACCESS | KEY_WOW64_32KEY, HKEY_LOCAL_MACHINE),
                 ERROR_SUCCESS);
        QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Quellon"),
                 wow64);
        QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quellon"), !wow64);
        QCOMPARE(
            opened(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY),
            wow64 ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS);
    }

    // A host's records may come from anyone: the folders it gives a program
    // are on its own drive, or there are none. Queued files are in the host
    // tool's table.
    void aProgramIsNeverSentOffTheHostsDrive_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<bool>("found");
        QTest::newRow("a Windows path: the folder on the drive")
            << "C:\\Program Files (x86)\\Crypto Pro\\CSP\\" << true;
        QTest::newRow("a folder outside the host: none") << "{outside}/" << false;
        QTest::newRow("out of the drive by '..': none") << "{drive}/windows/../../../x/" << false;
        QTest::newRow("out through a link on the drive: none") << "{drive}/link/" << false;
        QTest::newRow("another drive: none") << "D:\\CSP\\" << false;
    }

    void aProgramIsNeverSentOffTheHostsDrive()
    {
        QFETCH(QString, location);
        QFETCH(bool, found);
        QTemporaryDir outside;
        const QString drive = SimulatedHost::folder() + "/drive_c";
        QVERIFY(QFile::link(outside.path(), drive + "/link"));
        location.replace("{outside}", outside.path()).replace("{drive}", drive);
        QVERIFY(RawRegistry::setValue(HKEY_LOCAL_MACHINE, TestHost::cryptoProProperties(),
                                      "InstallLocation", REG_SZ,
                                      QByteArray(reinterpret_cast<const char*>(location.utf16()),
                                                 (location.size() + 1) * 2)));
        QCOMPARE(host->facts().cspFolder, found ? TestHost::cspFolder() : QString());

        // The same for the 64-bit program files the environment names.
        QCOMPARE(QProcess::execute("sqlite3", {SimulatedHost::databasePath(),
                                               "UPDATE host_environment SET value='" + location +
                                                   "' WHERE name='ProgramW6432'"}),
                 0);
        TestHost::clearProgramW6432();
        QVERIFY(SimulatedHost::use(SimulatedHost::folder()));
        QCOMPARE(qEnvironmentVariableIsSet("ProgramW6432"), found);
    }

    // The host tool refuses to delete a hive root before it reaches the
    // registry; a program calling the registry directly meets this refusal.
    void anEmptyHiveRootStays()
    {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_USERS}) {
            QCOMPARE(created("VexorHive", KEY_ALL_ACCESS, root), ERROR_SUCCESS);
            QCOMPARE(RegDeleteKeyW(root, w("VexorHive")), ERROR_ACCESS_DENIED);
        }
    }

    // What restart does to files is in the host tool's table.
    void restartDropsVolatileKeys()
    {
        QCOMPARE(created("Volatile", KEY_ALL_ACCESS, HKEY_CURRENT_USER, REG_OPTION_VOLATILE),
                 ERROR_SUCCESS);
        QString error;
        QVERIFY2(SimulatedHost::restart(nullptr, &error), qPrintable(error));
        QVERIFY(!RawRegistry::keyExists(HKEY_CURRENT_USER, "Volatile"));
        QVERIFY(RawRegistry::keyExists(HKEY_CURRENT_USER, "Software"));
    }

    void damagedDatabaseIsRefusedAndLeftUntouched_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<LONG>("result");
        QTest::newRow("overwritten with text: corrupt") << "garbage" << ERROR_REGISTRY_CORRUPT;
        QTest::newRow("cut in half: corrupt") << "truncate" << ERROR_REGISTRY_CORRUPT;
        QTest::newRow("another program's database: corrupt") << "foreign" << ERROR_REGISTRY_CORRUPT;
        QTest::newRow("a folder in its place: unreadable") << "folder" << ERROR_REGISTRY_IO_FAILED;
    }

    void damagedDatabaseIsRefusedAndLeftUntouched()
    {
        QFETCH(QString, damage);
        QFETCH(LONG, result);
        // Enough keys that the file spans many pages.
        const auto bulk = [](int i) { return QStringLiteral("Software\\Bulk\\%1\\%2").arg(i); };
        for (int i = 0; i < 200; ++i)
            QCOMPARE(created(bulk(i).arg(QString(100, 'x'))), ERROR_SUCCESS);
        const QString folder = SimulatedHost::folder();
        const QString database = SimulatedHost::databasePath();
        // The last connection to close folds the log into the file, so that
        // the damage is all there is.
        SimulatedHost::use(folder + "/elsewhere");
        QVERIFY(!QFile::exists(database + "-wal"));
        QFile file(database);
        if (damage == QLatin1String("garbage"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(8192, 'g')) == 8192);
        else if (damage == QLatin1String("truncate"))
            QVERIFY(file.resize(file.size() / 2));
        else if (damage == QLatin1String("foreign"))
            QVERIFY(file.remove() &&
                    QProcess::execute("sqlite3", {database, "CREATE TABLE t(x);"}) == 0);
        else
            QVERIFY(file.remove() && QDir().mkpath(database));
        file.close();
        const QByteArray before = fileBytes(database);

        // A cut file may still open; then the damage shows on the first read
        // or write that reaches the missing pages.
        QVERIFY(!SimulatedHost::use(folder) || damage == QLatin1String("truncate"));
        LONG code = ERROR_SUCCESS;
        for (int i = 0; code == ERROR_SUCCESS && i < 200; ++i)
            code = created(bulk(i).arg("more"));
        QCOMPARE(code, result);
        QVERIFY2(SimulatedHost::problem().contains(database), qPrintable(SimulatedHost::problem()));
        if (damage != QLatin1String("truncate"))
            QCOMPARE(fileBytes(database), before);
    }

    void aWriteWaitsForAnotherProcessHoldingTheLock_data()
    {
        QTest::addColumn<int>("holdMs");
        QTest::addColumn<LONG>("result");
        QTest::newRow("released within the wait: the write goes through") << 200 << ERROR_SUCCESS;
        QTest::newRow("held past the wait: the write fails, the host is busy")
            << 1500 << ERROR_REGISTRY_IO_FAILED;
    }

    void aWriteWaitsForAnotherProcessHoldingTheLock()
    {
        QFETCH(int, holdMs);
        QFETCH(LONG, result);
        qputenv("VEXOR_HOST_BUSY_TIMEOUT_MS", "1000");
        SimulatedHost::use(SimulatedHost::folder());
        qunsetenv("VEXOR_HOST_BUSY_TIMEOUT_MS");
        // Another process takes the write lock, says so, and lets go after holdMs.
        const QString locked = SimulatedHost::folder() + "/locked";
        QProcess other;
        other.start("sh",
                    {"-c", QStringLiteral("{ echo 'BEGIN IMMEDIATE;'; echo \".system touch '%1'\";"
                                          " sleep %2; echo 'COMMIT;'; } | sqlite3 '%3'")
                               .arg(locked)
                               .arg(holdMs / 1000.0)
                               .arg(SimulatedHost::databasePath())});
        QTRY_VERIFY(QFile::exists(locked));
        const LONG code = created("Software\\Race");
        QVERIFY(other.waitForFinished());
        QCOMPARE(other.exitCode(), 0);
        QCOMPARE(code, result);
        QCOMPARE(SimulatedHost::problem(), result
                                               ? "host database " + SimulatedHost::databasePath() +
                                                     " is busy: another process holds its lock"
                                               : QString());
    }
};

QTEST_GUILESS_MAIN(SimulatedHostTest)

#include "tst_simulatedhost.moc"
