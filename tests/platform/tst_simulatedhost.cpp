#include "Platform.h"
#include "SimulatedHost.h"
#include "WinApi.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>

namespace {

LPCWSTR w(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

const QString installPropertiesPath =
    QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
                   "Products\\7AB5E7046046FB044ACD63458B5F481C\\InstallProperties");
const QString sessionManagerPath =
    QStringLiteral("SYSTEM\\CurrentControlSet\\Control\\Session Manager");

LONG writeText(HKEY root, const QString& path, const QString& name, const QString& text,
               REGSAM view = 0)
{
    HKEY key = nullptr;
    LONG code = RegCreateKeyExW(root, w(path), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                                nullptr);
    if (code != ERROR_SUCCESS)
        return code;
    QByteArray data(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    data.append(2, '\0');
    code = RegSetValueExW(key, w(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                          DWORD(data.size()));
    RegCloseKey(key);
    return code;
}

LONG readData(HKEY root, const QString& path, const QString& name, QByteArray* data,
              DWORD* type = nullptr)
{
    HKEY key = nullptr;
    LONG code = RegOpenKeyExW(root, w(path), 0, KEY_READ, &key);
    if (code != ERROR_SUCCESS)
        return code;
    DWORD size = 0;
    code = RegQueryValueExW(key, w(name), nullptr, type, nullptr, &size);
    if (code == ERROR_SUCCESS) {
        data->resize(int(size));
        code = RegQueryValueExW(key, w(name), nullptr, type, reinterpret_cast<LPBYTE>(data->data()),
                                &size);
    }
    RegCloseKey(key);
    return code;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Child processes of the concurrency tests: the test executable started
// again with VEXOR_TEST_CHILD naming what to do on VEXOR_TEST_HOST.
int runChild()
{
    const QString role = qEnvironmentVariable("VEXOR_TEST_CHILD");
    const QString prefix = qEnvironmentVariable("VEXOR_TEST_PREFIX");
    const int count = qEnvironmentVariableIntValue("VEXOR_TEST_COUNT");
    QString error;
    if (!SimulatedHost::use(qEnvironmentVariable("VEXOR_TEST_HOST"), &error)) {
        fprintf(stderr, "child: %s\n", qPrintable(error));
        return 3;
    }
    for (int i = 0; role == QLatin1String("writer") ? i < count : true; ++i) {
        // Every value's data names itself, so a torn write would show.
        const QString name = QStringLiteral("%1-%2").arg(prefix).arg(i);
        const LONG code = writeText(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Load\\") + prefix,
                                    name, name.repeated(50));
        if (code != ERROR_SUCCESS) {
            fprintf(stderr, "child: write %d failed with %d\n", i, int(code));
            return 4;
        }
        if (role == QLatin1String("queue")) {
            const QString path = QStringLiteral("/nonexistent/%1").arg(name);
            if (!MoveFileExW(w(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
                return 5;
            if (i + 1 == count)
                break;
        }
        // The parent counts what was acknowledged.
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
    void init();
    void cleanup();

    void productInfoLengthProtocol_data();
    void productInfoLengthProtocol();
    void productInfoResultCodes_data();
    void productInfoResultCodes();
    void packedProductCodes_data();
    void packedProductCodes();

    void deleteAtRestartQueuesAsWindows();
    void deleteAtRestartNeedsAdministratorRights();
    void restartCarriesOperationsOutAndClearsThem();
    void moveNowRenamesAndReportsErrors_data();
    void moveNowRenamesAndReportsErrors();

    void hostFactsFollowTheArchitecture_data();
    void hostFactsFollowTheArchitecture();
    void environmentMergesWithoutOverriding();
    void createKeepsAnExistingHost();

    void damagedDatabaseIsAClearErrorAndStaysUntouched_data();
    void damagedDatabaseIsAClearErrorAndStaysUntouched();

    void twoProcessesWritingAtOnceLoseNothing();
    void aKilledWriterLosesNothingAcknowledged();

private:
    void makeHost(const QString& architecture, bool withCsp);
    QProcess* startChild(const QString& role, const QString& prefix, int count);
    std::unique_ptr<QTemporaryDir> hostDir;
};

void SimulatedHostTest::makeHost(const QString& architecture, bool withCsp)
{
    hostDir = std::make_unique<QTemporaryDir>();
    QVERIFY(hostDir->isValid());
    SimulatedHost::CreateOptions options;
    options.architecture = architecture;
    options.withCsp = withCsp;
    QString error;
    QVERIFY2(SimulatedHost::create(hostDir->path(), options, &error), qPrintable(error));
    QVERIFY2(SimulatedHost::use(hostDir->path(), &error), qPrintable(error));
}

void SimulatedHostTest::init()
{
    SimulatedHost::setElevated(true);
    makeHost(QStringLiteral("x86_64"), true);
}

void SimulatedHostTest::cleanup()
{
    QCOMPARE(SimulatedHost::openHandleCount(), 0);
}

void SimulatedHostTest::productInfoLengthProtocol_data()
{
    QTest::addColumn<QString>("location");
    QTest::newRow("a recorded folder with its trailing backslash") << "C:\\Program Files\\CSP\\";
    QTest::newRow("an empty install location") << QString();
    QTest::newRow("a location outside the basic plane") << QStringLiteral("D:\\\U0001F511");
}

void SimulatedHostTest::productInfoLengthProtocol()
{
    QFETCH(QString, location);
    QCOMPARE(writeText(HKEY_LOCAL_MACHINE, installPropertiesPath, "InstallLocation", location,
                       KEY_WOW64_64KEY),
             ERROR_SUCCESS);
    const QString product = SimulatedHost::cryptoProProductCode();
    const QString property = QStringLiteral("InstallLocation");

    DWORD length = 0;
    QCOMPARE(MsiGetProductInfoW(w(product), w(property), nullptr, &length), UINT(ERROR_SUCCESS));
    QCOMPARE(length, DWORD(location.size()));

    std::vector<WCHAR> buffer(length + 4, WCHAR(0xbdbd));
    DWORD size = length; // one short: no room for the terminator
    if (length > 0) {
        QCOMPARE(MsiGetProductInfoW(w(product), w(property), buffer.data(), &size),
                 UINT(ERROR_MORE_DATA));
        QCOMPARE(size, length);
        QVERIFY(std::all_of(buffer.cbegin(), buffer.cend(),
                            [](WCHAR unit) { return unit == WCHAR(0xbdbd); }));
    }
    size = length + 1;
    QCOMPARE(MsiGetProductInfoW(w(product), w(property), buffer.data(), &size),
             UINT(ERROR_SUCCESS));
    QCOMPARE(size, length);
    QCOMPARE(QString::fromUtf16(buffer.data(), int(length)), location);
    QCOMPARE(buffer[length], WCHAR(0));
    QCOMPARE(buffer[length + 1], WCHAR(0xbdbd));
}

void SimulatedHostTest::productInfoResultCodes_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("property");
    QTest::addColumn<bool>("withBuffer");
    QTest::addColumn<bool>("withLength");
    QTest::addColumn<UINT>("result");

    const QString cryptoPro = SimulatedHost::cryptoProProductCode();
    QTest::newRow("the registered product answers")
        << cryptoPro << "InstallLocation" << false << true << UINT(ERROR_SUCCESS);
    QTest::newRow("a lower-case product code is the same product")
        << cryptoPro.toLower() << "InstallLocation" << false << true << UINT(ERROR_SUCCESS);
    QTest::newRow("an unregistered product is unknown")
        << "{00000000-1111-2222-3333-444444444444}"
        << "InstallLocation" << false << true << UINT(ERROR_UNKNOWN_PRODUCT);
    QTest::newRow("an unknown property name is refused")
        << cryptoPro << "NoSuchProperty" << false << true << UINT(ERROR_UNKNOWN_PROPERTY);
    QTest::newRow("the property name is judged before the product is looked up")
        << "{00000000-1111-2222-3333-444444444444}"
        << "NoSuchProperty" << false << true << UINT(ERROR_UNKNOWN_PROPERTY);
    QTest::newRow("a malformed product code is refused before the property name")
        << "not-a-product-code"
        << "NoSuchProperty" << false << true << UINT(ERROR_INVALID_PARAMETER);
    QTest::newRow("an empty property name is unknown")
        << cryptoPro << "" << false << true << UINT(ERROR_UNKNOWN_PROPERTY);
    QTest::newRow("property names are case-sensitive")
        << cryptoPro << "installlocation" << false << true << UINT(ERROR_UNKNOWN_PROPERTY);
    QTest::newRow("a product code without braces is an invalid parameter")
        << cryptoPro.mid(1, 36) << "InstallLocation" << false << true
        << UINT(ERROR_INVALID_PARAMETER);
    QTest::newRow("a buffer without a length is an invalid parameter")
        << cryptoPro << "InstallLocation" << true << false << UINT(ERROR_INVALID_PARAMETER);
}

void SimulatedHostTest::productInfoResultCodes()
{
    QFETCH(QString, product);
    QFETCH(QString, property);
    QFETCH(bool, withBuffer);
    QFETCH(bool, withLength);
    QFETCH(UINT, result);
    WCHAR buffer[512];
    DWORD length = 0;
    QCOMPARE(MsiGetProductInfoW(w(product), w(property), withBuffer ? buffer : nullptr,
                                withLength ? &length : nullptr),
             result);
    QCOMPARE(MsiGetProductInfoW(nullptr, w(property), nullptr, &length),
             UINT(ERROR_INVALID_PARAMETER));
}

void SimulatedHostTest::packedProductCodes_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("packed");
    QTest::newRow("the Crypto Pro product code") << "{407E5BA7-6406-40BF-A4DC-3654B8F584C1}"
                                                 << "7AB5E7046046FB044ACD63458B5F481C";
    QTest::newRow("digits in order show the packing") << "{01234567-89AB-CDEF-0123-456789ABCDEF}"
                                                      << "76543210BA98FEDC1032547698BADCFE";
    QTest::newRow("a code with a misplaced dash is refused")
        << "{407E5BA76-406-40BF-A4DC-3654B8F584C1}" << QString();
    QTest::newRow("a code with a letter outside hex is refused")
        << "{407E5BA7-6406-40BF-A4DC-3654B8F584CG}" << QString();
}

void SimulatedHostTest::packedProductCodes()
{
    QFETCH(QString, code);
    QFETCH(QString, packed);
    QCOMPARE(SimulatedHost::packedProductCode(code), packed);
}

void SimulatedHostTest::deleteAtRestartQueuesAsWindows()
{
    const QString first = SimulatedHost::cspFolder() + QStringLiteral("/vexor.dll");
    const QString second = SimulatedHost::cspFolder64() + QStringLiteral("/vexor.dll");
    QVERIFY(MoveFileExW(w(first), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    QCOMPARE(GetLastError(), DWORD(ERROR_SUCCESS));
    QVERIFY(MoveFileExW(w(second), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));

    QByteArray data;
    DWORD type = 0;
    QCOMPARE(readData(HKEY_LOCAL_MACHINE, sessionManagerPath, "PendingFileRenameOperations", &data,
                      &type),
             ERROR_SUCCESS);
    QCOMPARE(type, REG_MULTI_SZ);
    // Each entry: "\??\" path, its terminator, an empty target; then the
    // list's own terminator.
    const QString expected = QStringLiteral("\\??\\") + first + QChar(0) + QChar(0) +
                             QStringLiteral("\\??\\") + second + QChar(0) + QChar(0) + QChar(0);
    QCOMPARE(
        QString::fromUtf16(reinterpret_cast<const char16_t*>(data.constData()), data.size() / 2),
        expected);
    QCOMPARE(SimulatedHost::pendingFileOperations(), (QStringList{first, second}));
}

void SimulatedHostTest::deleteAtRestartNeedsAdministratorRights()
{
    SimulatedHost::setElevated(false);
    const QString path = SimulatedHost::cspFolder() + QStringLiteral("/vexor.dll");
    QVERIFY(!MoveFileExW(w(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    SimulatedHost::setElevated(true);
    QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList());
    QVERIFY(!MoveFileExW(w(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

void SimulatedHostTest::restartCarriesOperationsOutAndClearsThem()
{
    const QString csp = SimulatedHost::cspFolder();
    const QString doomed = csp + QStringLiteral("/vexor.dll");
    const QString moved = csp + QStringLiteral("/old.dll");
    const QString keeper = csp + QStringLiteral("/keep.dll");
    for (const QString& path : {doomed, moved, keeper}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("MZ");
    }
    QVERIFY(MoveFileExW(w(doomed), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    QVERIFY(
        MoveFileExW(w(moved), w(csp + QStringLiteral("/new.dll")), MOVEFILE_DELAY_UNTIL_REBOOT));
    QVERIFY(MoveFileExW(w(csp + QStringLiteral("/already-gone.dll")), nullptr,
                        MOVEFILE_DELAY_UNTIL_REBOOT));
    HKEY volatileKey = nullptr;
    QCOMPARE(RegCreateKeyExW(HKEY_CURRENT_USER, w(QStringLiteral("Volatile")), 0, nullptr,
                             REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &volatileKey, nullptr),
             ERROR_SUCCESS);
    HKEY stableChild = nullptr;
    QCOMPARE(RegCreateKeyExW(volatileKey, w(QStringLiteral("Stable")), 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &stableChild,
                             nullptr),
             ERROR_CHILD_MUST_BE_VOLATILE);
    RegCloseKey(volatileKey);
    QVERIFY(QFile::exists(doomed));

    QString error;
    QVERIFY2(SimulatedHost::restart(&error), qPrintable(error));
    QVERIFY(!QFile::exists(doomed));
    QVERIFY(!QFile::exists(moved));
    QVERIFY(QFile::exists(csp + QStringLiteral("/new.dll")));
    QVERIFY(QFile::exists(keeper));
    QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList());
    QByteArray data;
    QCOMPARE(readData(HKEY_LOCAL_MACHINE, sessionManagerPath, "PendingFileRenameOperations", &data),
             ERROR_FILE_NOT_FOUND);
    HKEY gone = nullptr;
    QCOMPARE(RegOpenKeyExW(HKEY_CURRENT_USER, w(QStringLiteral("Volatile")), 0, KEY_READ, &gone),
             ERROR_FILE_NOT_FOUND);
}

void SimulatedHostTest::moveNowRenamesAndReportsErrors_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<DWORD>("flags");
    QTest::addColumn<bool>("moved");
    QTest::addColumn<DWORD>("error");
    QTest::newRow("a move to a free name succeeds") << false << DWORD(0) << true << DWORD(0);
    QTest::newRow("an existing target is kept without the replace flag")
        << true << DWORD(0) << false << DWORD(ERROR_ALREADY_EXISTS);
    QTest::newRow("an existing target is replaced with the replace flag")
        << true << MOVEFILE_REPLACE_EXISTING << true << DWORD(0);
}

void SimulatedHostTest::moveNowRenamesAndReportsErrors()
{
    QFETCH(bool, targetExists);
    QFETCH(DWORD, flags);
    QFETCH(bool, moved);
    QFETCH(DWORD, error);
    const QString source = hostDir->filePath(QStringLiteral("source.bin"));
    const QString target = hostDir->filePath(QStringLiteral("target.bin"));
    QFile file(source);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("source");
    file.close();
    if (targetExists) {
        QFile existing(target);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("target");
    }
    QCOMPARE(bool(MoveFileExW(w(source), w(target), flags)), moved);
    if (!moved)
        QCOMPARE(GetLastError(), error);
    QCOMPARE(fileBytes(target), QByteArray(moved ? "source" : "target"));
    QCOMPARE(QFile::exists(source), !moved);
    QVERIFY(
        !MoveFileExW(w(source + QStringLiteral(".missing")), w(target + QStringLiteral("2")), 0));
    QCOMPARE(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

void SimulatedHostTest::hostFactsFollowTheArchitecture_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QString>("csp");
    QTest::addColumn<QString>("csp64");
    QTest::addColumn<bool>("hasProgramW6432");
    QTest::newRow("a 64-bit host has both CSP folders and ProgramW6432")
        << "x86_64"
        << "/drive_c/Program Files (x86)/Crypto Pro/CSP"
        << "/drive_c/Program Files/Crypto Pro/CSP" << true;
    QTest::newRow("a 32-bit host has one CSP folder and no ProgramW6432")
        << "i386"
        << "/drive_c/Program Files/Crypto Pro/CSP" << QString() << false;
}

void SimulatedHostTest::hostFactsFollowTheArchitecture()
{
    QFETCH(QString, architecture);
    QFETCH(QString, csp);
    QFETCH(QString, csp64);
    QFETCH(bool, hasProgramW6432);
    makeHost(architecture, true);
    const QString root = QDir(hostDir->path()).absolutePath();
    QCOMPARE(SimulatedHost::architecture(), architecture);
    QCOMPARE(Platform::cpuArchitecture(), architecture);
    QCOMPARE(SimulatedHost::cspFolder(), root + csp);
    QVERIFY(QFileInfo(SimulatedHost::cspFolder()).isDir());
    QCOMPARE(SimulatedHost::cspFolder64(), csp64.isEmpty() ? QString() : root + csp64);
    if (!csp64.isEmpty())
        QVERIFY(QFileInfo(SimulatedHost::cspFolder64()).isDir());
    const QMap<QString, QString> environment = SimulatedHost::environment();
    QCOMPARE(environment.contains(QStringLiteral("ProgramW6432")), hasProgramW6432);
    if (hasProgramW6432)
        QCOMPARE(environment.value(QStringLiteral("ProgramW6432")) +
                     QStringLiteral("/Crypto Pro/CSP"),
                 SimulatedHost::cspFolder64());

    // The installer finds the 32-bit folder through Windows Installer.
    WCHAR buffer[1024];
    DWORD length = 1024;
    QCOMPARE(MsiGetProductInfoW(w(SimulatedHost::cryptoProProductCode()),
                                w(QStringLiteral("InstallLocation")), buffer, &length),
             UINT(ERROR_SUCCESS));
    QCOMPARE(QString::fromUtf16(buffer, int(length)), root + csp + QStringLiteral("/"));

    // A host made without Crypto Pro knows no such product.
    makeHost(architecture, false);
    QCOMPARE(SimulatedHost::cspFolder(), QString());
    length = 0;
    QCOMPARE(MsiGetProductInfoW(w(SimulatedHost::cryptoProProductCode()),
                                w(QStringLiteral("InstallLocation")), nullptr, &length),
             UINT(ERROR_UNKNOWN_PRODUCT));
}

void SimulatedHostTest::environmentMergesWithoutOverriding()
{
    qputenv("ProgramFiles", "/set/by/the/process");
    makeHost(QStringLiteral("x86_64"), false);
    const QString root = QDir(hostDir->path()).absolutePath();
    QCOMPARE(qEnvironmentVariable("ProgramW6432"), root + QStringLiteral("/drive_c/Program Files"));
    QCOMPARE(qEnvironmentVariable("ProgramFiles"), QStringLiteral("/set/by/the/process"));
    // Another host's environment replaces what the previous host put there.
    makeHost(QStringLiteral("i386"), false);
    QVERIFY(!qEnvironmentVariableIsSet("ProgramW6432"));
    QCOMPARE(qEnvironmentVariable("ProgramFiles"), QStringLiteral("/set/by/the/process"));
    qunsetenv("ProgramFiles");
}

void SimulatedHostTest::createKeepsAnExistingHost()
{
    QCOMPARE(writeText(HKEY_CURRENT_USER, "Software\\Kept", "v", "1"), ERROR_SUCCESS);
    QString error;
    SimulatedHost::CreateOptions options;
    QVERIFY2(SimulatedHost::create(hostDir->path(), options, &error), qPrintable(error));
    QByteArray data;
    QCOMPARE(readData(HKEY_CURRENT_USER, "Software\\Kept", "v", &data), ERROR_SUCCESS);
    options.architecture = QStringLiteral("i386");
    QVERIFY(!SimulatedHost::create(hostDir->path(), options, &error));
    QVERIFY2(error.contains(QStringLiteral("x86_64")), qPrintable(error));
    QCOMPARE(SimulatedHost::architecture(), QStringLiteral("x86_64"));
    options.architecture = QStringLiteral("sparc");
    QVERIFY(!SimulatedHost::create(hostDir->path() + "/other", options, &error));
    QVERIFY(!QFile::exists(hostDir->path() + "/other/registry.db"));
}

void SimulatedHostTest::damagedDatabaseIsAClearErrorAndStaysUntouched_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<LONG>("result");
    QTest::newRow("a database overwritten with text is corrupt")
        << "garbage" << ERROR_REGISTRY_CORRUPT;
    QTest::newRow("a database cut in half is corrupt") << "truncate" << ERROR_REGISTRY_CORRUPT;
    QTest::newRow("a database of another program is refused")
        << "foreign" << ERROR_REGISTRY_CORRUPT;
    QTest::newRow("a folder in place of the database cannot be read")
        << "folder" << ERROR_REGISTRY_IO_FAILED;
}

void SimulatedHostTest::damagedDatabaseIsAClearErrorAndStaysUntouched()
{
    QFETCH(QString, damage);
    QFETCH(LONG, result);
    // Enough keys that the file spans many pages.
    for (int i = 0; i < 200; ++i)
        QCOMPARE(writeText(HKEY_CURRENT_USER, QStringLiteral("Software\\Bulk\\%1").arg(i), "v",
                           QString(100, QLatin1Char('x'))),
                 ERROR_SUCCESS);
    const QString database = SimulatedHost::databasePath();
    QVERIFY(SimulatedHost::use(hostDir->path() + "/elsewhere"));
    {
        // Fold the log into the file so that the damage is all there is.
        QProcess checkpoint;
        checkpoint.start("sqlite3", {database, "PRAGMA wal_checkpoint(TRUNCATE);"});
        QVERIFY(checkpoint.waitForFinished());
    }
    QFile::remove(database + "-wal");
    QFile::remove(database + "-shm");
    if (damage == QLatin1String("garbage")) {
        QFile file(database);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(8192, 'g'));
    } else if (damage == QLatin1String("truncate")) {
        QFile file(database);
        QVERIFY(file.resize(file.size() / 2));
    } else if (damage == QLatin1String("foreign")) {
        QVERIFY(QFile::remove(database));
        QProcess sqlite;
        sqlite.start("sqlite3", {database, "CREATE TABLE notes(text);"});
        QVERIFY(sqlite.waitForFinished());
    } else {
        QVERIFY(QFile::remove(database));
        QVERIFY(QDir().mkpath(database));
    }
    const QByteArray before = fileBytes(database);
    const QFileInfo beforeInfo(database);

    QVERIFY(!SimulatedHost::use(hostDir->path()) || damage == QLatin1String("truncate"));
    HKEY key = nullptr;
    LONG code = RegOpenKeyExW(HKEY_CURRENT_USER, w(QStringLiteral("Software\\Bulk\\199")), 0,
                              KEY_READ, &key);
    // A cut file may still open; then the damage shows on the first read
    // or write that reaches the missing pages.
    for (int i = 0; code == ERROR_SUCCESS && i < 200; ++i) {
        RegCloseKey(key);
        code = writeText(HKEY_CURRENT_USER, QStringLiteral("Software\\Bulk\\%1").arg(i), "v",
                         QStringLiteral("y"));
        if (code == ERROR_SUCCESS)
            code = RegOpenKeyExW(HKEY_CURRENT_USER, w(QStringLiteral("Software\\Bulk\\199")), 0,
                                 KEY_READ, &key);
    }
    QCOMPARE(code, result);
    QVERIFY(!Platform::hostProblem().isEmpty());
    QVERIFY2(Platform::hostProblem().contains(database), qPrintable(Platform::hostProblem()));
    QVERIFY(!Platform::errorText(code).isEmpty());
    if (damage != QLatin1String("truncate")) {
        QCOMPARE(fileBytes(database), before);
        QCOMPARE(QFileInfo(database).size(), beforeInfo.size());
    }
}

QProcess* SimulatedHostTest::startChild(const QString& role, const QString& prefix, int count)
{
    auto* child = new QProcess(this);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VEXOR_TEST_CHILD", role);
    environment.insert("VEXOR_TEST_PREFIX", prefix);
    environment.insert("VEXOR_TEST_COUNT", QString::number(count));
    environment.insert("VEXOR_TEST_HOST", hostDir->path());
    child->setProcessEnvironment(environment);
    child->start(QCoreApplication::applicationFilePath(), QStringList());
    return child;
}

void SimulatedHostTest::twoProcessesWritingAtOnceLoseNothing()
{
    constexpr int count = 300;
    QProcess* first = startChild("queue", "first", count);
    QProcess* second = startChild("queue", "second", count);
    for (QProcess* child : {first, second}) {
        QVERIFY(child->waitForFinished(120000));
        QVERIFY2(child->exitCode() == 0, child->readAllStandardError().constData());
    }
    for (const QString prefix : {"first", "second"}) {
        HKEY key = nullptr;
        QCOMPARE(
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, w("SOFTWARE\\Load\\" + prefix), 0, KEY_READ, &key),
            ERROR_SUCCESS);
        DWORD values = 0;
        QCOMPARE(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  &values, nullptr, nullptr, nullptr, nullptr),
                 ERROR_SUCCESS);
        RegCloseKey(key);
        QCOMPARE(values, DWORD(count));
    }
    // Appends to the one shared value lose no entry either.
    QCOMPARE(SimulatedHost::pendingFileOperations().size(), 2 * count);
}

void SimulatedHostTest::aKilledWriterLosesNothingAcknowledged()
{
    QProcess* writer = startChild("endless", "killed", 0);
    QVERIFY(writer->waitForStarted());
    int acknowledged = -1;
    QByteArray output;
    while (acknowledged < 200 && writer->waitForReadyRead(30000)) {
        output += writer->readAllStandardOutput();
        const QList<QByteArray> lines = output.split('\n');
        if (lines.size() >= 2)
            acknowledged = lines[lines.size() - 2].toInt();
    }
    QVERIFY2(acknowledged >= 200, writer->readAllStandardError().constData());
    ::kill(pid_t(writer->processId()), SIGKILL);
    QVERIFY(writer->waitForFinished());
    output += writer->readAllStandardOutput();
    const QList<QByteArray> lines = output.split('\n');
    acknowledged = lines[lines.size() - 2].toInt();

    // Read with a fresh connection, as the next process would.
    QVERIFY(SimulatedHost::use(hostDir->path()));
    HKEY key = nullptr;
    QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, w(QStringLiteral("SOFTWARE\\Load\\killed")), 0,
                           KEY_READ, &key),
             ERROR_SUCCESS);
    DWORD values = 0;
    QCOMPARE(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr),
             ERROR_SUCCESS);
    RegCloseKey(key);
    QVERIFY2(
        int(values) >= acknowledged + 1,
        qPrintable(QStringLiteral("%1 values, %2 acknowledged").arg(values).arg(acknowledged)));
    QVERIFY(int(values) <= acknowledged + 2);
    for (int i = 0; i < int(values); ++i) {
        const QString name = QStringLiteral("killed-%1").arg(i);
        QByteArray data;
        QCOMPARE(readData(HKEY_LOCAL_MACHINE, "SOFTWARE\\Load\\killed", name, &data),
                 ERROR_SUCCESS);
        QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(data.constData()),
                                    data.size() / 2 - 1),
                 name.repeated(50));
    }
    QVERIFY(Platform::hostProblem().isEmpty());
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
