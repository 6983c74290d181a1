// What the registry conformance suite cannot compare with Windows: how the
// simulated host keeps its data (durability, damage, other processes), its
// handles, its Windows Installer and restart storage, its facts per
// architecture and a process without administrator rights.

#include "HostDatabase.h"
#include "Platform.h"
#include "RawRegistry.h"
#include "SimulatedHost.h"
#include "TestHost.h"

#include <QProcess>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <thread>

namespace {

LPCWSTR w(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

QByteArray sz(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), (text.size() + 1) * 2);
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

HKEY createKey(HKEY root, const QString& path, REGSAM rights = KEY_ALL_ACCESS, LONG* code = nullptr)
{
    HKEY key = nullptr;
    const LONG result =
        RegCreateKeyExW(root, w(path), 0, nullptr, 0, rights, nullptr, &key, nullptr);
    if (code)
        *code = result;
    return key;
}

// The other processes of the concurrency tests: this executable again, told
// by VEXOR_TEST_CHILD what to do. Each write's data names the value, so a
// torn write would show; each acknowledged write is printed.
int runChild()
{
    const QString role = qEnvironmentVariable("VEXOR_TEST_CHILD");
    const QString prefix = qEnvironmentVariable("VEXOR_TEST_PREFIX");
    const int count = qEnvironmentVariableIntValue("VEXOR_TEST_COUNT");
    if (!SimulatedHost::use(qEnvironmentVariable("VEXOR_TEST_HOST")))
        return 3;
    for (int i = 0; role == QLatin1String("endless") || i < count; ++i) {
        const QString name = QStringLiteral("%1-%2").arg(prefix).arg(i);
        if (!RawRegistry::setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Load\\" + prefix, name, REG_SZ,
                                   sz(name.repeated(50))))
            return 4;
        if (role == QLatin1String("queue") &&
            !MoveFileExW(w("/nonexistent/" + name), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            return 5;
        printf("%d\n", i);
        fflush(stdout);
    }
    return 0;
}

} // namespace

class SimulatedHostTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { useHost(QStringLiteral("x86_64"), true); }
    void cleanup();

    void hostFactsFollowTheArchitecture_data();
    void hostFactsFollowTheArchitecture();
    void environmentMergesWithoutOverriding();
    void createKeepsAnExistingHost();
    void withoutAdministratorRightsMachineKeysAreReadOnly_data();
    void withoutAdministratorRightsMachineKeysAreReadOnly();
    void handlesEndWithTheirKeyAndTheirHost();
    void restartCarriesOutTheQueueAndClearsIt();
    void damagedDatabaseIsRefusedAndLeftUntouched_data();
    void damagedDatabaseIsRefusedAndLeftUntouched();
    void aWriteWaitsForAnotherProcessHoldingTheLock();
    void twoProcessesWritingAtOnceLoseNothing();
    void aKilledWriterLosesNothingAcknowledged();

private:
    void useHost(const QString& architecture, bool withCsp);
    QProcess* startChild(const QString& role, const QString& prefix, int count);
    std::unique_ptr<TestHost> host;
};

void SimulatedHostTest::useHost(const QString& architecture, bool withCsp)
{
    // The old host first: its end switches the process to an idle host.
    host.reset();
    host = std::make_unique<TestHost>(architecture, withCsp);
    QVERIFY2(host->isReady(), qPrintable(host->error()));
}

void SimulatedHostTest::cleanup()
{
    TestHost::setElevated(true);
    QCOMPARE(TestHost::openHandleCount(), 0);
}

void SimulatedHostTest::hostFactsFollowTheArchitecture_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<bool>("wow64");
    QTest::newRow("x86_64: two views, two CSP folders, ProgramW6432") << "x86_64" << true;
    QTest::newRow("arm64: two views, two CSP folders, ProgramW6432") << "arm64" << true;
    QTest::newRow("i386: one view, one CSP folder, no ProgramW6432") << "i386" << false;
}

void SimulatedHostTest::hostFactsFollowTheArchitecture()
{
    QFETCH(QString, architecture);
    QFETCH(bool, wow64);
    useHost(architecture, true);
    const QString drive = SimulatedHost::folder() + QStringLiteral("/drive_c/");
    const QString csp =
        drive + (wow64 ? "Program Files (x86)" : "Program Files") + "/Crypto Pro/CSP";
    QCOMPARE(Platform::cpuArchitecture(), architecture);
    QCOMPARE(TestHost::cspFolder(), csp);
    QCOMPARE(TestHost::cspFolder64(), wow64 ? drive + "Program Files/Crypto Pro/CSP" : QString());
    QVERIFY(QFileInfo(csp).isDir() && (!wow64 || QFileInfo(TestHost::cspFolder64()).isDir()));
    QCOMPARE(SimulatedHost::environment().value("ProgramW6432"),
             wow64 ? drive + "Program Files" : QString());
    // Windows Installer records the 32-bit folder, with its trailing separator.
    WCHAR location[1024];
    DWORD length = 1024;
    const QString product = SimulatedHost::cryptoProProductCode();
    QCOMPARE(MsiGetProductInfoW(w(product), w("InstallLocation"), location, &length),
             UINT(ERROR_SUCCESS));
    QCOMPARE(QString::fromUtf16(location, int(length)), csp + '/');

    // A 32-bit program's key lands below Wow6432Node only where there are two
    // views; only there are both view flags at once refused.
    QVERIFY(RawRegistry::setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quellon", "v", REG_SZ, sz("1"),
                                  KEY_WOW64_32KEY));
    QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Quellon"), wow64);
    QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quellon"), !wow64);
    HKEY key = nullptr;
    QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, w("SOFTWARE"), 0,
                           KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY, &key),
             wow64 ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS);
    RegCloseKey(key);

    useHost(architecture, false);
    QCOMPARE(TestHost::cspFolder() + TestHost::cspFolder64(), QString());
    length = 0;
    QCOMPARE(MsiGetProductInfoW(w(product), w("InstallLocation"), nullptr, &length),
             UINT(ERROR_UNKNOWN_PRODUCT));
}

void SimulatedHostTest::environmentMergesWithoutOverriding()
{
    qputenv("ProgramFiles", "/set/by/the/process");
    useHost(QStringLiteral("x86_64"), false);
    QCOMPARE(qEnvironmentVariable("ProgramFiles(x86)"),
             SimulatedHost::folder() + "/drive_c/Program Files (x86)");
    QCOMPARE(qEnvironmentVariable("ProgramFiles"), QStringLiteral("/set/by/the/process"));
    // Another host takes back what the previous one put there.
    useHost(QStringLiteral("i386"), false);
    QVERIFY(!qEnvironmentVariableIsSet("ProgramFiles(x86)"));
    QCOMPARE(qEnvironmentVariable("ProgramFiles"), QStringLiteral("/set/by/the/process"));
    qunsetenv("ProgramFiles");
}

void SimulatedHostTest::createKeepsAnExistingHost()
{
    QVERIFY(RawRegistry::setValue(HKEY_CURRENT_USER, "Software\\Kept", "v", REG_SZ, sz("1")));
    const QString folder = SimulatedHost::folder();
    SimulatedHost::CreateOptions options; // x86_64, without Crypto Pro
    QString error;
    QVERIFY2(SimulatedHost::create(folder, options, &error), qPrintable(error));
    QVERIFY(RawRegistry::keyExists(HKEY_CURRENT_USER, "Software\\Kept"));
    QVERIFY(!TestHost::cspFolder().isEmpty());
    options.architecture = QStringLiteral("i386");
    QVERIFY(!SimulatedHost::create(folder, options, &error));
    QVERIFY2(error.contains(QLatin1String("x86_64")), qPrintable(error));
    QCOMPARE(SimulatedHost::architecture(), QStringLiteral("x86_64"));
    options.architecture = QStringLiteral("sparc");
    QVERIFY(!SimulatedHost::create(folder + "/other", options, &error));
    QVERIFY(!QFile::exists(folder + "/other/registry.db"));
}

void SimulatedHostTest::withoutAdministratorRightsMachineKeysAreReadOnly_data()
{
    QTest::addColumn<bool>("elevated");
    QTest::newRow("an elevated process writes them") << true;
    QTest::newRow("a process without administrator rights only reads them") << false;
}

void SimulatedHostTest::withoutAdministratorRightsMachineKeysAreReadOnly()
{
    QFETCH(bool, elevated);
    const QString old = QStringLiteral("SOFTWARE\\Quellon\\Old");
    QVERIFY(RawRegistry::setValue(HKEY_LOCAL_MACHINE, old, "v", REG_SZ, sz("1")));
    const auto open = [](HKEY root, const QString& path, REGSAM rights) {
        HKEY key = nullptr;
        const LONG code = RegOpenKeyExW(root, w(path), 0, rights, &key);
        RegCloseKey(key);
        return code;
    };
    const auto create = [](HKEY root, const QString& path, REGSAM rights) {
        LONG code = ERROR_SUCCESS;
        RegCloseKey(createKey(root, path, rights, &code));
        return code;
    };
    const QByteArray one = sz("1");
    const QString queued = TestHost::cspFolder() + "/vexor.dll";
    TestHost::setElevated(elevated);
    const struct
    {
        const char* what;
        LONG code;
        bool allowedAnyway;
    } cases[] = {
        {"reading a machine key", open(HKEY_LOCAL_MACHINE, old, KEY_READ), true},
        {"opening a machine key to write", open(HKEY_LOCAL_MACHINE, old, KEY_WRITE), false},
        {"creating a machine key", create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quellon\\New", KEY_READ),
         false},
        {"setting a value on the machine root",
         RegSetValueExW(HKEY_LOCAL_MACHINE, w("v"), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(one.data()), DWORD(one.size())),
         false},
        {"deleting a machine key", RegDeleteKeyW(HKEY_LOCAL_MACHINE, w(old)), false},
        {"the machine root to read", open(HKEY_LOCAL_MACHINE, QString(), KEY_READ), true},
        {"the machine root to write", open(HKEY_LOCAL_MACHINE, QString(), KEY_WRITE), false},
        {"creating a user key", create(HKEY_CURRENT_USER, "Software\\Quellon", KEY_ALL_ACCESS),
         true},
        {"queueing a deletion at restart",
         MoveFileExW(w(queued), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? ERROR_SUCCESS
                                                                      : LONG(GetLastError()),
         false},
    };
    TestHost::setElevated(true);
    for (const auto& row : cases) {
        const LONG expected = elevated || row.allowedAnyway ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
        QVERIFY2(row.code == expected,
                 qPrintable(QStringLiteral("%1: %2").arg(row.what).arg(row.code)));
    }
    // What was refused left nothing behind.
    QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quellon\\New"), elevated);
    QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, old), !elevated);
    QCOMPARE(TestHost::pendingFileOperations(), elevated ? QStringList{queued} : QStringList());
}

void SimulatedHostTest::handlesEndWithTheirKeyAndTheirHost()
{
    const HKEY stale = createKey(HKEY_CURRENT_USER, "Software\\Stale");
    QCOMPARE(RegDeleteKeyW(HKEY_CURRENT_USER, w("Software\\Stale")), ERROR_SUCCESS);
    // A key of the same name made later is another key.
    const HKEY recreated = createKey(HKEY_CURRENT_USER, "Software\\Stale");
    QCOMPARE(RegSetValueExW(stale, w("v"), 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);
    // A closed handle's value is never handed out again, so it reaches no later key.
    QCOMPARE(RegCloseKey(stale), ERROR_SUCCESS);
    const HKEY later = createKey(HKEY_CURRENT_USER, "Software\\Later");
    QVERIFY(later && later != stale);
    QCOMPARE(RegSetValueExW(stale, w("v"), 0, REG_BINARY, nullptr, 0), ERROR_INVALID_HANDLE);
    // A root asked for by an empty subkey is the root itself, no new handle.
    HKEY root = nullptr;
    QCOMPARE(RegOpenKeyExW(HKEY_CURRENT_USER, w(""), 0, KEY_READ, &root), ERROR_SUCCESS);
    QCOMPARE(TestHost::openHandleCount(), 2);
    // Switching to another host ends every handle of the previous one.
    QVERIFY(SimulatedHost::use(SimulatedHost::folder() + "/other"));
    QCOMPARE(TestHost::openHandleCount(), 0);
    QCOMPARE(RegSetValueExW(recreated, w("v"), 0, REG_BINARY, nullptr, 0), ERROR_INVALID_HANDLE);
}

void SimulatedHostTest::restartCarriesOutTheQueueAndClearsIt()
{
    const QString csp = TestHost::cspFolder() + '/';
    for (const QString name : {"doomed.dll", "old.dll", "older.dll", "taken.dll", "kept.dll"}) {
        QFile file(csp + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(name.toLatin1()) > 0);
    }
    const DWORD delay = MOVEFILE_DELAY_UNTIL_REBOOT;
    QVERIFY(MoveFileExW(w(csp + "doomed.dll"), nullptr, delay));
    QVERIFY(MoveFileExW(w(csp + "gone.dll"), nullptr, delay));
    QVERIFY(MoveFileExW(w(csp + "old.dll"), w(csp + "new.dll"), delay));
    QVERIFY(
        MoveFileExW(w(csp + "older.dll"), w(csp + "taken.dll"), delay | MOVEFILE_REPLACE_EXISTING));
    QCOMPARE(TestHost::pendingFileOperations(), QStringList({csp + "doomed.dll", csp + "gone.dll",
                                                             csp + "old.dll", csp + "older.dll"}));
    const QList<QPair<QString, QString>> renames = {{csp + "old.dll", csp + "new.dll"},
                                                    {csp + "older.dll", "!" + csp + "taken.dll"}};
    QCOMPARE(SimulatedHost::pendingRenames(), renames);
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExW(HKEY_CURRENT_USER, w("Volatile"), 0, nullptr, REG_OPTION_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr),
             ERROR_SUCCESS);
    RegCloseKey(key);

    QString error;
    QVERIFY2(SimulatedHost::restart(&error), qPrintable(error));
    // The file already gone is skipped; everything else is done.
    QCOMPARE(QDir(csp).entryList(QDir::Files), QStringList({"kept.dll", "new.dll", "taken.dll"}));
    QCOMPARE(fileBytes(csp + "new.dll") + fileBytes(csp + "taken.dll"),
             QByteArray("old.dllolder.dll"));
    DWORD type = 0;
    QByteArray data;
    QVERIFY(!RawRegistry::query(HKEY_LOCAL_MACHINE,
                                "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                "PendingFileRenameOperations", &type, &data));
    QVERIFY(!RawRegistry::keyExists(HKEY_CURRENT_USER, "Volatile"));
    QVERIFY(RawRegistry::keyExists(HKEY_CURRENT_USER, "Software"));
}

void SimulatedHostTest::damagedDatabaseIsRefusedAndLeftUntouched_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<LONG>("result");
    QTest::newRow("overwritten with text: corrupt") << "garbage" << ERROR_REGISTRY_CORRUPT;
    QTest::newRow("cut in half: corrupt") << "truncate" << ERROR_REGISTRY_CORRUPT;
    QTest::newRow("another program's database: corrupt") << "foreign" << ERROR_REGISTRY_CORRUPT;
    QTest::newRow("a folder in its place: unreadable") << "folder" << ERROR_REGISTRY_IO_FAILED;
}

void SimulatedHostTest::damagedDatabaseIsRefusedAndLeftUntouched()
{
    QFETCH(QString, damage);
    QFETCH(LONG, result);
    // Enough keys that the file spans many pages.
    const auto bulk = [](int i) { return QStringLiteral("Software\\Bulk\\%1").arg(i); };
    for (int i = 0; i < 200; ++i)
        QVERIFY(
            RawRegistry::setValue(HKEY_CURRENT_USER, bulk(i), "v", REG_SZ, QByteArray(200, 'x')));
    const QString folder = SimulatedHost::folder();
    const QString database = SimulatedHost::databasePath();
    // The last connection to close folds the log into the file, so that the
    // damage is all there is.
    QVERIFY(SimulatedHost::use(folder + "/elsewhere"));
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

    // A cut file may still open; then the damage shows on the first read or
    // write that reaches the missing pages.
    QVERIFY(!SimulatedHost::use(folder) || damage == QLatin1String("truncate"));
    LONG code = ERROR_SUCCESS;
    for (int i = 0; code == ERROR_SUCCESS && i < 200; ++i) {
        const HKEY key = createKey(HKEY_CURRENT_USER, bulk(i), KEY_ALL_ACCESS, &code);
        if (code == ERROR_SUCCESS)
            code = RegSetValueExW(key, w("v"), 0, REG_BINARY, nullptr, 0);
        RegCloseKey(key);
    }
    QCOMPARE(code, result);
    QVERIFY2(Platform::hostProblem().contains(database), qPrintable(Platform::hostProblem()));
    if (damage != QLatin1String("truncate"))
        QCOMPARE(fileBytes(database), before);
}

void SimulatedHostTest::aWriteWaitsForAnotherProcessHoldingTheLock()
{
    HostDatabase other;
    QCOMPARE(other.open(SimulatedHost::databasePath(), false), ERROR_SUCCESS);
    HostDatabase::Transaction holding(other, true);
    QCOMPARE(holding.beginError(), ERROR_SUCCESS);
    LONG released = ERROR_INVALID_HANDLE;
    std::thread releaser([&] {
        QThread::msleep(200);
        released = holding.commit();
    });
    LONG code = ERROR_INVALID_HANDLE;
    RegCloseKey(createKey(HKEY_CURRENT_USER, "Software\\Race", KEY_ALL_ACCESS, &code));
    releaser.join();
    QCOMPARE(released, ERROR_SUCCESS);
    QCOMPARE(code, ERROR_SUCCESS);
    QCOMPARE(Platform::hostProblem(), QString());
    QVERIFY(RawRegistry::keyExists(HKEY_CURRENT_USER, "Software\\Race"));
}

QProcess* SimulatedHostTest::startChild(const QString& role, const QString& prefix, int count)
{
    auto* child = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VEXOR_TEST_CHILD", role);
    environment.insert("VEXOR_TEST_PREFIX", prefix);
    environment.insert("VEXOR_TEST_COUNT", QString::number(count));
    environment.insert("VEXOR_TEST_HOST", SimulatedHost::folder());
    child->setProcessEnvironment(environment);
    child->start(QCoreApplication::applicationFilePath(), QStringList());
    return child;
}

void SimulatedHostTest::twoProcessesWritingAtOnceLoseNothing()
{
    constexpr int count = 300;
    for (QProcess* child :
         {startChild("queue", "first", count), startChild("queue", "second", count)}) {
        QVERIFY(child->waitForFinished(120000));
        QVERIFY2(child->exitCode() == 0, child->readAllStandardError().constData());
    }
    for (const QString prefix : {"first", "second"})
        QCOMPARE(RawRegistry::tree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Load\\" + prefix).size(), count);
    // Appends to the one shared value lose no entry either.
    QCOMPARE(TestHost::pendingFileOperations().size(), 2 * count);
}

void SimulatedHostTest::aKilledWriterLosesNothingAcknowledged()
{
    QProcess* writer = startChild("endless", "killed", 0);
    QByteArray output;
    while (output.count('\n') < 200 && writer->waitForReadyRead(30000))
        output += writer->readAllStandardOutput();
    QVERIFY2(output.count('\n') >= 200, writer->readAllStandardError().constData());
    ::kill(pid_t(writer->processId()), SIGKILL);
    QVERIFY(writer->waitForFinished());
    const int acknowledged = (output + writer->readAllStandardOutput()).count('\n');

    // Read through a fresh connection, as the next process would.
    QVERIFY(SimulatedHost::use(SimulatedHost::folder()));
    const QStringList values =
        RawRegistry::tree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Load\\killed", KEY_WOW64_64KEY, true);
    // One write may have been committed but not yet acknowledged.
    QVERIFY2(
        values.size() == acknowledged || values.size() == acknowledged + 1,
        qPrintable(
            QStringLiteral("%1 values, %2 acknowledged").arg(values.size()).arg(acknowledged)));
    QStringList expected;
    for (int i = 0; i < values.size(); ++i) {
        const QString name = QStringLiteral("killed-%1").arg(i);
        expected << QStringLiteral("|%1 = %2 %3")
                        .arg(name)
                        .arg(REG_SZ)
                        .arg(QLatin1String(sz(name.repeated(50)).toHex()));
    }
    expected.sort();
    QCOMPARE(values, expected);
    QCOMPARE(Platform::hostProblem(), QString());
}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsSet("VEXOR_TEST_CHILD"))
        return runChild();
    QCoreApplication application(argc, argv);
    SimulatedHostTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_simulatedhost.moc"
