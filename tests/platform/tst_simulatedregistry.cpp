#include "HostDatabase.h"
#include "Platform.h"
#include "SimulatedHost.h"
#include "WinApi.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <optional>
#include <thread>
#include <vector>

namespace {

LPCWSTR w(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

// Opens or creates a key and closes it when the test is done with it.
class Key
{
public:
    Key() = default;
    ~Key()
    {
        if (handle)
            RegCloseKey(handle);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    LONG create(HKEY parent, const QString& path, REGSAM sam = KEY_ALL_ACCESS,
                DWORD* disposition = nullptr)
    {
        reset();
        return RegCreateKeyExW(parent, w(path), 0, nullptr, 0, sam, nullptr, &handle, disposition);
    }
    LONG open(HKEY parent, const QString& path, REGSAM sam = KEY_READ)
    {
        reset();
        return RegOpenKeyExW(parent, w(path), 0, sam, &handle);
    }
    void reset()
    {
        if (handle)
            RegCloseKey(handle);
        handle = nullptr;
    }
    HKEY handle = nullptr;
};

QByteArray textData(const QString& text)
{
    QByteArray data(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    data.append(2, '\0');
    return data;
}

LONG setText(HKEY key, const QString& name, const QString& text)
{
    const QByteArray data = textData(text);
    return RegSetValueExW(key, w(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                          DWORD(data.size()));
}

QByteArray readData(HKEY key, const QString& name, DWORD* type = nullptr, LONG* result = nullptr)
{
    DWORD size = 0;
    LONG code = RegQueryValueExW(key, w(name), nullptr, type, nullptr, &size);
    QByteArray data;
    if (code == ERROR_SUCCESS) {
        data.resize(int(size));
        code = RegQueryValueExW(key, w(name), nullptr, type, reinterpret_cast<LPBYTE>(data.data()),
                                &size);
    }
    if (result)
        *result = code;
    return code == ERROR_SUCCESS ? data : QByteArray();
}

QStringList subKeys(HKEY key)
{
    QStringList names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        const LONG code =
            RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (code != ERROR_SUCCESS)
            break;
        names.append(QString::fromUtf16(reinterpret_cast<const char16_t*>(name), int(length)));
    }
    return names;
}

QStringList valueNames(HKEY key)
{
    QStringList names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[512];
        DWORD length = 512;
        const LONG code =
            RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (code != ERROR_SUCCESS)
            break;
        names.append(QString::fromUtf16(reinterpret_cast<const char16_t*>(name), int(length)));
    }
    return names;
}

} // namespace

class SimulatedRegistryTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void viewsRedirectSoftware_data();
    void viewsRedirectSoftware();
    void thirtyTwoBitHostHasOneView();
    void namesAreCaseInsensitiveAndCasePreserving();
    void handleRightsAreEnforced_data();
    void handleRightsAreEnforced();
    void deletingAKeyWithSubkeysFails();
    void closedAndDeletedHandles();
    void shortBuffersReportTheNeededSize();
    void dataRoundTripsByteForByte_data();
    void dataRoundTripsByteForByte();
    void enumerationOrder();
    void queryInfoReportsLengthsWithoutTerminator();
    void pathsAndNameLimits_data();
    void pathsAndNameLimits();
    void withoutElevationMachineKeysAreReadOnly_data();
    void withoutElevationMachineKeysAreReadOnly();
    void failedOpenOrCreateClearsTheResult_data();
    void failedOpenOrCreateClearsTheResult();
    void emptySubkeyOnARootGivesTheRoot_data();
    void emptySubkeyOnARootGivesTheRoot();
    void shortNameBufferKeepsItsLength_data();
    void shortNameBufferKeepsItsLength();
    void shortDataBufferStillReturnsTheName();
    void shortClassBufferKeepsBothLengths();
    void createReportsWhatItFound_data();
    void createReportsWhatItFound();
    void createWaitsForAnotherWriter();
    void rewritingAValueChangesOnlyWhatDiffers_data();
    void rewritingAValueChangesOnlyWhatDiffers();

private:
    void useHost(const QString& architecture);
    std::unique_ptr<QTemporaryDir> hostDir;
};

void SimulatedRegistryTest::useHost(const QString& architecture)
{
    hostDir = std::make_unique<QTemporaryDir>();
    QVERIFY(hostDir->isValid());
    SimulatedHost::CreateOptions options;
    options.architecture = architecture;
    QString error;
    QVERIFY2(SimulatedHost::create(hostDir->path(), options, &error), qPrintable(error));
    QVERIFY2(SimulatedHost::use(hostDir->path(), &error), qPrintable(error));
}

void SimulatedRegistryTest::init()
{
    SimulatedHost::setElevated(true);
    useHost(QStringLiteral("x86_64"));
}

void SimulatedRegistryTest::cleanup()
{
    QCOMPARE(SimulatedHost::openHandleCount(), 0);
}

void SimulatedRegistryTest::viewsRedirectSoftware_data()
{
    QTest::addColumn<QString>("writeParent");
    QTest::addColumn<QString>("writePath");
    QTest::addColumn<REGSAM>("writeView");
    QTest::addColumn<QString>("foundAt");
    QTest::addColumn<QString>("absentAt");

    const QString marker = QStringLiteral("Quellon\\Vexor K Crypto Pro");
    QTest::newRow("a 32-bit view write from HKLM lands below Wow6432Node")
        << QString() << "SOFTWARE\\" + marker << KEY_WOW64_32KEY
        << "SOFTWARE\\Wow6432Node\\" + marker << "SOFTWARE\\" + marker;
    QTest::newRow("a 32-bit view write below a native SOFTWARE handle is redirected too")
        << QStringLiteral("SOFTWARE") << marker << KEY_WOW64_32KEY
        << "SOFTWARE\\Wow6432Node\\" + marker << "SOFTWARE\\" + marker;
    QTest::newRow("a 64-bit view write stays in the native tree")
        << QString() << "SOFTWARE\\" + marker << KEY_WOW64_64KEY << "SOFTWARE\\" + marker
        << "SOFTWARE\\Wow6432Node\\" + marker;
    QTest::newRow("a 32-bit view path naming Wow6432Node is not redirected twice")
        << QString() << "SOFTWARE\\Wow6432Node\\" + marker << KEY_WOW64_32KEY
        << "SOFTWARE\\Wow6432Node\\" + marker << "SOFTWARE\\Wow6432Node\\Wow6432Node\\" + marker;
    QTest::newRow("keys outside SOFTWARE are shared by both views")
        << QString() << QStringLiteral("SYSTEM\\Vexor") << KEY_WOW64_32KEY
        << QStringLiteral("SYSTEM\\Vexor") << QStringLiteral("SOFTWARE\\Wow6432Node\\Vexor");
}

void SimulatedRegistryTest::viewsRedirectSoftware()
{
    QFETCH(QString, writeParent);
    QFETCH(QString, writePath);
    QFETCH(REGSAM, writeView);
    QFETCH(QString, foundAt);
    QFETCH(QString, absentAt);

    Key parent;
    HKEY base = HKEY_LOCAL_MACHINE;
    if (!writeParent.isEmpty()) {
        QCOMPARE(parent.open(HKEY_LOCAL_MACHINE, writeParent, KEY_ALL_ACCESS | KEY_WOW64_64KEY),
                 ERROR_SUCCESS);
        base = parent.handle;
    }
    Key written;
    QCOMPARE(written.create(base, writePath, KEY_ALL_ACCESS | writeView), ERROR_SUCCESS);
    QCOMPARE(setText(written.handle, QStringLiteral("Installed"), QStringLiteral("1")),
             ERROR_SUCCESS);

    Key native;
    QCOMPARE(native.open(HKEY_LOCAL_MACHINE, foundAt, KEY_READ | KEY_WOW64_64KEY), ERROR_SUCCESS);
    QCOMPARE(readData(native.handle, QStringLiteral("Installed")), textData(QStringLiteral("1")));
    Key absent;
    QCOMPARE(absent.open(HKEY_LOCAL_MACHINE, absentAt, KEY_READ | KEY_WOW64_64KEY),
             ERROR_FILE_NOT_FOUND);
}

void SimulatedRegistryTest::thirtyTwoBitHostHasOneView()
{
    useHost(QStringLiteral("i386"));
    QCOMPARE(SimulatedHost::architecture(), QStringLiteral("i386"));
    Key written;
    QCOMPARE(written.create(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Quellon"),
                            KEY_ALL_ACCESS | KEY_WOW64_32KEY),
             ERROR_SUCCESS);
    Key native;
    QCOMPARE(native.open(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Quellon"), KEY_READ),
             ERROR_SUCCESS);
    Key noNode;
    QCOMPARE(noNode.open(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Wow6432Node"), KEY_READ),
             ERROR_FILE_NOT_FOUND);
    // Both flags at once are refused only where the flags mean something.
    Key both;
    QCOMPARE(both.open(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE"),
                       KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY),
             ERROR_SUCCESS);
}

void SimulatedRegistryTest::namesAreCaseInsensitiveAndCasePreserving()
{
    Key created;
    DWORD disposition = 0;
    QCOMPARE(created.create(HKEY_CURRENT_USER, QStringLiteral("Software\\MixedCase"),
                            KEY_ALL_ACCESS, &disposition),
             ERROR_SUCCESS);
    QCOMPARE(disposition, REG_CREATED_NEW_KEY);
    QCOMPARE(setText(created.handle, QStringLiteral("ValueName"), QStringLiteral("first")),
             ERROR_SUCCESS);
    QCOMPARE(setText(created.handle, QStringLiteral("VALUENAME"), QStringLiteral("second")),
             ERROR_SUCCESS);

    Key again;
    QCOMPARE(again.create(HKEY_CURRENT_USER, QStringLiteral("SOFTWARE\\mixedcase"), KEY_ALL_ACCESS,
                          &disposition),
             ERROR_SUCCESS);
    QCOMPARE(disposition, REG_OPENED_EXISTING_KEY);
    QCOMPARE(readData(again.handle, QStringLiteral("valuename")),
             textData(QStringLiteral("second")));
    QCOMPARE(valueNames(again.handle), QStringList{QStringLiteral("ValueName")});

    Key software;
    QCOMPARE(software.open(HKEY_CURRENT_USER, QStringLiteral("software")), ERROR_SUCCESS);
    QCOMPARE(subKeys(software.handle), QStringList{QStringLiteral("MixedCase")});
}

void SimulatedRegistryTest::handleRightsAreEnforced_data()
{
    QTest::addColumn<REGSAM>("rights");
    QTest::addColumn<LONG>("setResult");
    QTest::addColumn<LONG>("deleteValueResult");
    QTest::addColumn<LONG>("createResult");
    QTest::addColumn<LONG>("queryResult");

    QTest::newRow("a read handle cannot set, delete or create")
        << KEY_READ << ERROR_ACCESS_DENIED << ERROR_ACCESS_DENIED << ERROR_ACCESS_DENIED
        << ERROR_SUCCESS;
    QTest::newRow("a set-value handle cannot create subkeys")
        << (KEY_QUERY_VALUE | KEY_SET_VALUE) << ERROR_SUCCESS << ERROR_SUCCESS
        << ERROR_ACCESS_DENIED << ERROR_SUCCESS;
    QTest::newRow("a create-subkey handle cannot set values or read them")
        << KEY_CREATE_SUB_KEY << ERROR_ACCESS_DENIED << ERROR_ACCESS_DENIED << ERROR_SUCCESS
        << ERROR_ACCESS_DENIED;
    QTest::newRow("read and write rights allow everything")
        << (KEY_READ | KEY_WRITE) << ERROR_SUCCESS << ERROR_SUCCESS << ERROR_SUCCESS
        << ERROR_SUCCESS;
    QTest::newRow("generic write and read rights allow everything")
        << REGSAM(0xC0000000) << ERROR_SUCCESS << ERROR_SUCCESS << ERROR_SUCCESS << ERROR_SUCCESS;
}

void SimulatedRegistryTest::handleRightsAreEnforced()
{
    QFETCH(REGSAM, rights);
    QFETCH(LONG, setResult);
    QFETCH(LONG, deleteValueResult);
    QFETCH(LONG, createResult);
    QFETCH(LONG, queryResult);

    Key setup;
    QCOMPARE(setup.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Rights")), ERROR_SUCCESS);
    QCOMPARE(setText(setup.handle, QStringLiteral("Existing"), QStringLiteral("x")), ERROR_SUCCESS);

    Key limited;
    QCOMPARE(limited.open(HKEY_CURRENT_USER, QStringLiteral("Software\\Rights"), rights),
             ERROR_SUCCESS);
    QCOMPARE(setText(limited.handle, QStringLiteral("New"), QStringLiteral("y")), setResult);
    QCOMPARE(RegDeleteValueW(limited.handle, w(QStringLiteral("Existing"))), deleteValueResult);
    Key child;
    QCOMPARE(child.create(limited.handle, QStringLiteral("Child")), createResult);
    DWORD size = 0;
    QCOMPARE(RegQueryValueExW(limited.handle, w(QStringLiteral("New")), nullptr, nullptr, nullptr,
                              &size),
             queryResult == ERROR_SUCCESS && setResult != ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND
                                                                        : queryResult);
    // An existing subkey opens whatever rights the parent handle carries.
    Key existing;
    QCOMPARE(existing.create(setup.handle, QStringLiteral("Existing")), ERROR_SUCCESS);
    Key reopened;
    QCOMPARE(reopened.create(limited.handle, QStringLiteral("Existing")), ERROR_SUCCESS);
}

void SimulatedRegistryTest::deletingAKeyWithSubkeysFails()
{
    Key tree;
    QCOMPARE(tree.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Tree\\Leaf")), ERROR_SUCCESS);
    QCOMPARE(setText(tree.handle, QStringLiteral("v"), QStringLiteral("1")), ERROR_SUCCESS);
    tree.reset();
    QCOMPARE(RegDeleteKeyW(HKEY_CURRENT_USER, w(QStringLiteral("Software\\Tree"))),
             ERROR_ACCESS_DENIED);
    QCOMPARE(RegDeleteKeyW(HKEY_CURRENT_USER, w(QStringLiteral("Software\\Tree\\Leaf"))),
             ERROR_SUCCESS);
    QCOMPARE(RegDeleteKeyW(HKEY_CURRENT_USER, w(QStringLiteral("Software\\Tree\\Leaf"))),
             ERROR_FILE_NOT_FOUND);
    // Recreating the key finds none of the deleted key's values.
    QCOMPARE(tree.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Tree\\Leaf")), ERROR_SUCCESS);
    QCOMPARE(valueNames(tree.handle), QStringList());
    tree.reset();
    // An empty subkey deletes the key the handle refers to.
    Key leaf;
    QCOMPARE(leaf.open(HKEY_CURRENT_USER, QStringLiteral("Software\\Tree\\Leaf"), KEY_READ),
             ERROR_SUCCESS);
    QCOMPARE(RegDeleteKeyW(leaf.handle, w(QString())), ERROR_SUCCESS);
    QCOMPARE(RegDeleteKeyW(HKEY_CURRENT_USER, w(QStringLiteral("Software\\Tree"))), ERROR_SUCCESS);
}

void SimulatedRegistryTest::closedAndDeletedHandles()
{
    Key first;
    QCOMPARE(first.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Stale")), ERROR_SUCCESS);
    Key second;
    QCOMPARE(second.open(HKEY_CURRENT_USER, QStringLiteral("Software\\Stale"), KEY_ALL_ACCESS),
             ERROR_SUCCESS);
    QCOMPARE(RegDeleteKeyW(HKEY_CURRENT_USER, w(QStringLiteral("Software\\Stale"))), ERROR_SUCCESS);
    QCOMPARE(setText(first.handle, QStringLiteral("v"), QStringLiteral("1")), ERROR_KEY_DELETED);
    DWORD count = 99;
    QCOMPARE(RegQueryInfoKeyW(second.handle, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr),
             ERROR_KEY_DELETED);
    QCOMPARE(count, DWORD(99));
    Key child;
    QCOMPARE(child.create(second.handle, QStringLiteral("Child")), ERROR_KEY_DELETED);
    // A key of the same name made later is a different key.
    Key recreated;
    QCOMPARE(recreated.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Stale")), ERROR_SUCCESS);
    QCOMPARE(setText(first.handle, QStringLiteral("v"), QStringLiteral("1")), ERROR_KEY_DELETED);

    HKEY closed = first.handle;
    QCOMPARE(RegCloseKey(closed), ERROR_SUCCESS);
    first.handle = nullptr;
    QCOMPARE(RegCloseKey(closed), ERROR_INVALID_HANDLE);
    QCOMPARE(setText(closed, QStringLiteral("v"), QStringLiteral("1")), ERROR_INVALID_HANDLE);
    QCOMPARE(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    QCOMPARE(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

void SimulatedRegistryTest::shortBuffersReportTheNeededSize()
{
    Key key;
    QCOMPARE(key.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Sizes")), ERROR_SUCCESS);
    const QString longName = QStringLiteral("AValueNameOfTwentyFive123");
    QCOMPARE(setText(key.handle, longName, QStringLiteral("12345")), ERROR_SUCCESS);

    DWORD type = 0;
    DWORD size = 4;
    QByteArray buffer(16, char(0xbd));
    QCOMPARE(RegQueryValueExW(key.handle, w(longName), nullptr, &type,
                              reinterpret_cast<LPBYTE>(buffer.data()), &size),
             ERROR_MORE_DATA);
    QCOMPARE(size, DWORD(12));
    QCOMPARE(type, REG_SZ);
    QCOMPARE(buffer, QByteArray(16, char(0xbd)));

    WCHAR name[32];
    DWORD nameLength = 25; // no room for the terminator
    QCOMPARE(RegEnumValueW(key.handle, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
             ERROR_MORE_DATA);
    nameLength = 26;
    size = 11;
    QCOMPARE(RegEnumValueW(key.handle, 0, name, &nameLength, nullptr, &type,
                           reinterpret_cast<LPBYTE>(buffer.data()), &size),
             ERROR_MORE_DATA);
    QCOMPARE(size, DWORD(12));
    nameLength = 26;
    size = 12;
    QCOMPARE(RegEnumValueW(key.handle, 0, name, &nameLength, nullptr, &type,
                           reinterpret_cast<LPBYTE>(buffer.data()), &size),
             ERROR_SUCCESS);
    QCOMPARE(nameLength, DWORD(25));
    QCOMPARE(RegEnumValueW(key.handle, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
             ERROR_NO_MORE_ITEMS);

    Key child;
    QCOMPARE(child.create(key.handle, QStringLiteral("Child")), ERROR_SUCCESS);
    nameLength = 5;
    QCOMPARE(RegEnumKeyExW(key.handle, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
             ERROR_MORE_DATA);
    nameLength = 6;
    QCOMPARE(RegEnumKeyExW(key.handle, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
             ERROR_SUCCESS);
    QCOMPARE(nameLength, DWORD(5));
    QCOMPARE(RegEnumKeyExW(key.handle, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
             ERROR_NO_MORE_ITEMS);
}

void SimulatedRegistryTest::dataRoundTripsByteForByte_data()
{
    QTest::addColumn<DWORD>("type");
    QTest::addColumn<QByteArray>("data");

    QByteArray multi;
    for (const QString& part : {QStringLiteral("first"), QString(), QStringLiteral("third")})
        multi += textData(part);
    multi.append(2, '\0');
    QTest::newRow("a multi-string with an empty string inside keeps every byte")
        << REG_MULTI_SZ << multi;
    QTest::newRow("binary data with zero bytes keeps every byte")
        << REG_BINARY << QByteArray::fromHex("3b0294800000001f");
    QTest::newRow("a string without its terminator is stored as given")
        << REG_SZ << QByteArray("h\0i\0", 4);
    QTest::newRow("an odd byte count is kept") << REG_SZ << QByteArray("abc", 3);
    QTest::newRow("an empty value is kept empty") << REG_BINARY << QByteArray();
    QTest::newRow("an unknown type code is kept") << DWORD(0x12345) << QByteArray("x", 1);
    QTest::newRow("a DWORD of the wrong size is kept") << REG_DWORD << QByteArray("\1\2", 2);
}

void SimulatedRegistryTest::dataRoundTripsByteForByte()
{
    QFETCH(DWORD, type);
    QFETCH(QByteArray, data);
    Key key;
    QCOMPARE(key.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Data")), ERROR_SUCCESS);
    QCOMPARE(RegSetValueExW(key.handle, nullptr, 0, type,
                            reinterpret_cast<const BYTE*>(data.constData()), DWORD(data.size())),
             ERROR_SUCCESS);
    DWORD readType = 0;
    LONG result = 0;
    const QByteArray read = readData(key.handle, QString(), &readType, &result);
    QCOMPARE(result, ERROR_SUCCESS);
    QCOMPARE(readType, type);
    QCOMPARE(read, data);
    QCOMPARE(valueNames(key.handle), QStringList{QString()});
}

void SimulatedRegistryTest::enumerationOrder()
{
    Key key;
    QCOMPARE(key.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Order")), ERROR_SUCCESS);
    const QStringList inserted = {"b", "A", "_x", "c", "Z"};
    for (const QString& name : inserted) {
        Key child;
        QCOMPARE(child.create(key.handle, name), ERROR_SUCCESS);
        QCOMPARE(setText(key.handle, name, name), ERROR_SUCCESS);
    }
    // Subkeys by upper-cased name ('_' sorts after 'Z'), values as created.
    QCOMPARE(subKeys(key.handle), (QStringList{"A", "b", "c", "Z", "_x"}));
    QCOMPARE(valueNames(key.handle), inserted);
    // Rewriting a value keeps its place.
    QCOMPARE(setText(key.handle, QStringLiteral("B"), QStringLiteral("again")), ERROR_SUCCESS);
    QCOMPARE(valueNames(key.handle), inserted);
}

void SimulatedRegistryTest::queryInfoReportsLengthsWithoutTerminator()
{
    Key key;
    QCOMPARE(key.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Info")), ERROR_SUCCESS);
    Key child;
    QCOMPARE(child.create(key.handle, QStringLiteral("SevenCh")), ERROR_SUCCESS);
    QCOMPARE(child.create(key.handle, QStringLiteral("Two")), ERROR_SUCCESS);
    QCOMPARE(setText(key.handle, QStringLiteral("Nine12345"), QStringLiteral("abc")),
             ERROR_SUCCESS);
    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxValueName = 0, maxValue = 0;
    QCOMPARE(RegQueryInfoKeyW(key.handle, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr,
                              &values, &maxValueName, &maxValue, nullptr, nullptr),
             ERROR_SUCCESS);
    QCOMPARE(subKeys, DWORD(2));
    QCOMPARE(maxSubKey, DWORD(7));
    QCOMPARE(values, DWORD(1));
    QCOMPARE(maxValueName, DWORD(9));
    QCOMPARE(maxValue, DWORD(8));
}

void SimulatedRegistryTest::pathsAndNameLimits_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<LONG>("result");

    QTest::newRow("a trailing backslash is accepted") << "Software\\Limits\\" << ERROR_SUCCESS;
    QTest::newRow("doubled backslashes are skipped") << "Software\\\\Limits" << ERROR_SUCCESS;
    QTest::newRow("a leading backslash is a bad path")
        << "\\Software\\Limits" << ERROR_BAD_PATHNAME;
    QTest::newRow("a 255-character key name is allowed")
        << "Software\\" + QString(255, QLatin1Char('k')) << ERROR_SUCCESS;
    QTest::newRow("a 256-character key name is refused")
        << "Software\\" + QString(256, QLatin1Char('k')) << ERROR_INVALID_PARAMETER;
}

void SimulatedRegistryTest::pathsAndNameLimits()
{
    QFETCH(QString, path);
    QFETCH(LONG, result);
    Key key;
    QCOMPARE(key.create(HKEY_CURRENT_USER, path), result);

    Key valueKey;
    QCOMPARE(valueKey.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Values")), ERROR_SUCCESS);
    QCOMPARE(setText(valueKey.handle, QString(16383, QLatin1Char('v')), QStringLiteral("1")),
             ERROR_SUCCESS);
    QCOMPARE(setText(valueKey.handle, QString(16384, QLatin1Char('v')), QStringLiteral("1")),
             ERROR_INVALID_PARAMETER);
}

void SimulatedRegistryTest::withoutElevationMachineKeysAreReadOnly_data()
{
    QTest::addColumn<bool>("elevated");
    QTest::addColumn<LONG>("writeOpen");
    QTest::addColumn<LONG>("createNew");
    QTest::addColumn<LONG>("deleteKey");

    QTest::newRow("an elevated process writes the machine keys")
        << true << ERROR_SUCCESS << ERROR_SUCCESS << ERROR_SUCCESS;
    QTest::newRow("a process without administrator rights only reads them")
        << false << ERROR_ACCESS_DENIED << ERROR_ACCESS_DENIED << ERROR_ACCESS_DENIED;
}

void SimulatedRegistryTest::withoutElevationMachineKeysAreReadOnly()
{
    QFETCH(bool, elevated);
    QFETCH(LONG, writeOpen);
    QFETCH(LONG, createNew);
    QFETCH(LONG, deleteKey);

    Key setup;
    QCOMPARE(setup.create(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Quellon\\Old")),
             ERROR_SUCCESS);
    QCOMPARE(setText(setup.handle, QStringLiteral("v"), QStringLiteral("1")), ERROR_SUCCESS);
    setup.reset();

    SimulatedHost::setElevated(elevated);
    Key reader;
    QCOMPARE(reader.open(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Quellon\\Old"), KEY_READ),
             ERROR_SUCCESS);
    QCOMPARE(readData(reader.handle, QStringLiteral("v")), textData(QStringLiteral("1")));
    Key writer;
    QCOMPARE(writer.open(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Quellon\\Old"),
                         KEY_READ | KEY_WRITE),
             writeOpen);
    Key created;
    QCOMPARE(created.create(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Quellon\\New"), KEY_READ),
             createNew);
    QCOMPARE(setText(HKEY_LOCAL_MACHINE, QStringLiteral("v"), QStringLiteral("1")), writeOpen);
    QCOMPARE(RegDeleteKeyW(HKEY_LOCAL_MACHINE, w(QStringLiteral("SOFTWARE\\Quellon\\Old"))),
             deleteKey);
    // The user's own keys stay writable.
    Key user;
    QCOMPARE(user.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Quellon")), ERROR_SUCCESS);
    SimulatedHost::setElevated(true);
}

void SimulatedRegistryTest::failedOpenOrCreateClearsTheResult_data()
{
    QTest::addColumn<bool>("create");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("path");
    QTest::addColumn<REGSAM>("sam");
    QTest::addColumn<LONG>("result");

    QTest::newRow("opening a missing key") << false << "base"
                                           << "nope" << REGSAM(KEY_READ) << ERROR_FILE_NOT_FOUND;
    QTest::newRow("opening below a missing middle level")
        << false << "base"
        << "a\\nope\\c" << REGSAM(KEY_READ) << ERROR_FILE_NOT_FOUND;
    QTest::newRow("opening with a leading backslash")
        << false << "base"
        << "\\a" << REGSAM(KEY_READ) << ERROR_BAD_PATHNAME;
    QTest::newRow("creating with a leading backslash")
        << true << "base"
        << "\\a" << REGSAM(KEY_ALL_ACCESS) << ERROR_BAD_PATHNAME;
    QTest::newRow("creating a key name that is too long")
        << true << "base" << QString(256, QLatin1Char('k')) << REGSAM(KEY_ALL_ACCESS)
        << ERROR_INVALID_PARAMETER;
    QTest::newRow("asking for both views at once")
        << true << "machine"
        << "SOFTWARE\\Answers" << REGSAM(KEY_ALL_ACCESS | KEY_WOW64_32KEY | KEY_WOW64_64KEY)
        << ERROR_INVALID_PARAMETER;
    QTest::newRow("opening below a closed handle")
        << false << "closed"
        << "a" << REGSAM(KEY_READ) << ERROR_INVALID_HANDLE;
    QTest::newRow("opening below a null handle")
        << false << "null"
        << "Software" << REGSAM(KEY_READ) << ERROR_INVALID_HANDLE;
    QTest::newRow("creating below a read-only handle")
        << true << "read-only"
        << "made" << REGSAM(KEY_ALL_ACCESS) << ERROR_ACCESS_DENIED;
    QTest::newRow("creating below a deleted key")
        << true << "deleted"
        << "child" << REGSAM(KEY_ALL_ACCESS) << ERROR_KEY_DELETED;
}

void SimulatedRegistryTest::failedOpenOrCreateClearsTheResult()
{
    QFETCH(bool, create);
    QFETCH(QString, parent);
    QFETCH(QString, path);
    QFETCH(REGSAM, sam);
    QFETCH(LONG, result);

    Key base;
    QCOMPARE(base.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Answers\\a")), ERROR_SUCCESS);
    QCOMPARE(base.open(HKEY_CURRENT_USER, QStringLiteral("Software\\Answers"), KEY_ALL_ACCESS),
             ERROR_SUCCESS);
    Key readOnly;
    QCOMPARE(readOnly.open(base.handle, QString(), KEY_READ), ERROR_SUCCESS);
    Key doomed;
    QCOMPARE(doomed.create(base.handle, QStringLiteral("doomed")), ERROR_SUCCESS);
    QCOMPARE(RegDeleteKeyW(base.handle, w(QStringLiteral("doomed"))), ERROR_SUCCESS);
    Key closing;
    QCOMPARE(closing.open(base.handle, QString()), ERROR_SUCCESS);
    HKEY closed = closing.handle;
    closing.reset();

    const QMap<QString, HKEY> parents = {{QStringLiteral("base"), base.handle},
                                         {QStringLiteral("machine"), HKEY_LOCAL_MACHINE},
                                         {QStringLiteral("closed"), closed},
                                         {QStringLiteral("null"), nullptr},
                                         {QStringLiteral("read-only"), readOnly.handle},
                                         {QStringLiteral("deleted"), doomed.handle}};
    // A caller that closes whatever it got back must not close a stale value.
    HKEY key = reinterpret_cast<HKEY>(quintptr(0xbdbdbd));
    const LONG code = create ? RegCreateKeyExW(parents.value(parent), w(path), 0, nullptr, 0, sam,
                                               nullptr, &key, nullptr)
                             : RegOpenKeyExW(parents.value(parent), w(path), 0, sam, &key);
    QCOMPARE(code, result);
    QCOMPARE(key, HKEY(nullptr));
}

void SimulatedRegistryTest::emptySubkeyOnARootGivesTheRoot_data()
{
    QTest::addColumn<bool>("machine");
    QTest::addColumn<bool>("nullSubkey");
    QTest::addColumn<REGSAM>("sam");
    QTest::addColumn<bool>("elevated");
    QTest::addColumn<LONG>("result");

    QTest::newRow("an empty subkey on the user root")
        << false << false << REGSAM(KEY_READ) << true << ERROR_SUCCESS;
    QTest::newRow("a null subkey on the machine root")
        << true << true << REGSAM(KEY_READ) << true << ERROR_SUCCESS;
    QTest::newRow("a view flag on the machine root")
        << true << false << REGSAM(KEY_READ | KEY_WOW64_32KEY) << true << ERROR_SUCCESS;
    QTest::newRow("reading the machine root without administrator rights")
        << true << false << REGSAM(KEY_READ) << false << ERROR_SUCCESS;
    QTest::newRow("writing the machine root without administrator rights is refused")
        << true << false << REGSAM(KEY_WRITE) << false << ERROR_ACCESS_DENIED;
    QTest::newRow("both view flags are refused before the root is handed back")
        << true << false << REGSAM(KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY) << true
        << ERROR_INVALID_PARAMETER;
}

void SimulatedRegistryTest::emptySubkeyOnARootGivesTheRoot()
{
    QFETCH(bool, machine);
    QFETCH(bool, nullSubkey);
    QFETCH(REGSAM, sam);
    QFETCH(bool, elevated);
    QFETCH(LONG, result);

    const HKEY root = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    SimulatedHost::setElevated(elevated);
    HKEY key = reinterpret_cast<HKEY>(quintptr(0xbdbdbd));
    const QString empty = QStringLiteral("");
    QCOMPARE(RegOpenKeyExW(root, nullSubkey ? nullptr : w(empty), 0, sam, &key), result);
    SimulatedHost::setElevated(true);
    QCOMPARE(key, result == ERROR_SUCCESS ? root : HKEY(nullptr));
    QCOMPARE(SimulatedHost::openHandleCount(), 0);
    if (result == ERROR_SUCCESS) {
        QCOMPARE(RegCloseKey(key), ERROR_SUCCESS);
        Key child;
        QCOMPARE(child.create(root, QStringLiteral("Software\\AfterRootClose")), ERROR_SUCCESS);
    }
}

void SimulatedRegistryTest::shortNameBufferKeepsItsLength_data()
{
    QTest::addColumn<bool>("subkeys");
    QTest::addColumn<DWORD>("length");

    QTest::newRow("a subkey name buffer without room for the terminator") << true << DWORD(4);
    QTest::newRow("a subkey name buffer of one") << true << DWORD(1);
    QTest::newRow("a subkey name buffer of zero") << true << DWORD(0);
    QTest::newRow("a value name buffer without room for the terminator") << false << DWORD(4);
    QTest::newRow("a value name buffer of one") << false << DWORD(1);
    QTest::newRow("a value name buffer of zero") << false << DWORD(0);
}

void SimulatedRegistryTest::shortNameBufferKeepsItsLength()
{
    QFETCH(bool, subkeys);
    QFETCH(DWORD, length);

    Key key;
    QCOMPARE(key.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Names")), ERROR_SUCCESS);
    Key child;
    QCOMPARE(child.create(key.handle, QStringLiteral("Name")), ERROR_SUCCESS);
    QCOMPARE(setText(key.handle, QStringLiteral("Name"), QStringLiteral("12345")), ERROR_SUCCESS);

    WCHAR name[16];
    std::fill(std::begin(name), std::end(name), WCHAR(0xbdbd));
    DWORD given = length;
    DWORD type = 0xbd;
    DWORD size = 0;
    const LONG code =
        subkeys ? RegEnumKeyExW(key.handle, 0, name, &given, nullptr, nullptr, nullptr, nullptr)
                : RegEnumValueW(key.handle, 0, name, &given, nullptr, &type, nullptr, &size);
    QCOMPARE(code, ERROR_MORE_DATA);
    QCOMPARE(given, length);
    QVERIFY(std::all_of(std::begin(name), std::end(name),
                        [](WCHAR unit) { return unit == WCHAR(0xbdbd); }));
    if (!subkeys) {
        // The name did not fit, yet the value's type and size still come back.
        QCOMPARE(type, REG_SZ);
        QCOMPARE(size, DWORD(12));
    }
}

void SimulatedRegistryTest::shortDataBufferStillReturnsTheName()
{
    Key key;
    QCOMPARE(key.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Data")), ERROR_SUCCESS);
    QCOMPARE(setText(key.handle, QStringLiteral("only"), QStringLiteral("0123456789")),
             ERROR_SUCCESS);

    WCHAR name[16];
    DWORD length = 16;
    DWORD type = 0;
    QByteArray data(32, char(0xbd));
    DWORD size = 4;
    QCOMPARE(RegEnumValueW(key.handle, 0, name, &length, nullptr, &type,
                           reinterpret_cast<LPBYTE>(data.data()), &size),
             ERROR_MORE_DATA);
    QCOMPARE(length, DWORD(4));
    QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(name), 5),
             QStringLiteral("only") + QChar(0));
    QCOMPARE(type, REG_SZ);
    QCOMPARE(size, DWORD(22));
    QCOMPARE(data, QByteArray(32, char(0xbd)));
}

void SimulatedRegistryTest::shortClassBufferKeepsBothLengths()
{
    Key key;
    QCOMPARE(key.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Classes")), ERROR_SUCCESS);
    HKEY child = nullptr;
    const QString keyClass = QStringLiteral("someclass");
    QCOMPARE(RegCreateKeyExW(key.handle, w(QStringLiteral("child")), 0,
                             const_cast<LPWSTR>(w(keyClass)), 0, KEY_ALL_ACCESS, nullptr, &child,
                             nullptr),
             ERROR_SUCCESS);
    QCOMPARE(RegCloseKey(child), ERROR_SUCCESS);

    WCHAR name[16];
    WCHAR classBuffer[16];
    std::fill(std::begin(name), std::end(name), WCHAR(0xbdbd));
    std::fill(std::begin(classBuffer), std::end(classBuffer), WCHAR(0xbdbd));
    DWORD nameLength = 16;
    DWORD classLength = 3;
    QCOMPARE(RegEnumKeyExW(key.handle, 0, name, &nameLength, nullptr, classBuffer, &classLength,
                           nullptr),
             ERROR_MORE_DATA);
    QCOMPARE(nameLength, DWORD(16));
    QCOMPARE(classLength, DWORD(3));
    QCOMPARE(name[0], WCHAR(0xbdbd));
    QCOMPARE(classBuffer[0], WCHAR(0xbdbd));

    classLength = 16;
    QCOMPARE(RegEnumKeyExW(key.handle, 0, name, &nameLength, nullptr, classBuffer, &classLength,
                           nullptr),
             ERROR_SUCCESS);
    QCOMPARE(nameLength, DWORD(5));
    QCOMPARE(classLength, DWORD(9));
    QCOMPARE(QString::fromUtf16(reinterpret_cast<const char16_t*>(classBuffer), 9), keyClass);
}

void SimulatedRegistryTest::createReportsWhatItFound_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<REGSAM>("sam");
    QTest::addColumn<bool>("elevated");
    QTest::addColumn<LONG>("result");
    QTest::addColumn<DWORD>("disposition");
    QTest::addColumn<QString>("nativePath"); // where the key is afterwards, if anywhere

    const REGSAM all = KEY_ALL_ACCESS;
    QTest::newRow("an existing key is opened")
        << "SOFTWARE\\Present\\Leaf" << all << true << ERROR_SUCCESS
        << DWORD(REG_OPENED_EXISTING_KEY) << "SOFTWARE\\Present\\Leaf";
    QTest::newRow("a missing last level is made")
        << "SOFTWARE\\Present\\New" << all << true << ERROR_SUCCESS << DWORD(REG_CREATED_NEW_KEY)
        << "SOFTWARE\\Present\\New";
    QTest::newRow("missing middle levels are made")
        << "SOFTWARE\\Absent\\Middle\\Leaf" << all << true << ERROR_SUCCESS
        << DWORD(REG_CREATED_NEW_KEY) << "SOFTWARE\\Absent\\Middle\\Leaf";
    QTest::newRow("an existing key of the 32-bit view is opened")
        << "SOFTWARE\\Present32" << REGSAM(all | KEY_WOW64_32KEY) << true << ERROR_SUCCESS
        << DWORD(REG_OPENED_EXISTING_KEY) << "SOFTWARE\\Wow6432Node\\Present32";
    QTest::newRow("a key of the 32-bit view is made in its node")
        << "SOFTWARE\\New32" << REGSAM(all | KEY_WOW64_32KEY) << true << ERROR_SUCCESS
        << DWORD(REG_CREATED_NEW_KEY) << "SOFTWARE\\Wow6432Node\\New32";
    QTest::newRow("without administrator rights an existing machine key opens for reading")
        << "SOFTWARE\\Present\\Leaf" << REGSAM(KEY_READ) << false << ERROR_SUCCESS
        << DWORD(REG_OPENED_EXISTING_KEY) << "SOFTWARE\\Present\\Leaf";
    QTest::newRow("without administrator rights a missing machine key is refused and not made")
        << "SOFTWARE\\Absent\\Leaf" << REGSAM(KEY_READ) << false << ERROR_ACCESS_DENIED << DWORD(0)
        << QString();
}

void SimulatedRegistryTest::createReportsWhatItFound()
{
    QFETCH(QString, path);
    QFETCH(REGSAM, sam);
    QFETCH(bool, elevated);
    QFETCH(LONG, result);
    QFETCH(DWORD, disposition);
    QFETCH(QString, nativePath);

    Key setup;
    QCOMPARE(setup.create(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Present\\Leaf")),
             ERROR_SUCCESS);
    QCOMPARE(setup.create(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Present32"),
                          KEY_ALL_ACCESS | KEY_WOW64_32KEY),
             ERROR_SUCCESS);
    setup.reset();

    SimulatedHost::setElevated(elevated);
    Key key;
    DWORD given = 0;
    const LONG code = key.create(HKEY_LOCAL_MACHINE, path, sam, &given);
    SimulatedHost::setElevated(true);
    QCOMPARE(code, result);
    QCOMPARE(given, disposition);

    Key native;
    const QString checked = nativePath.isEmpty() ? path : nativePath;
    QCOMPARE(native.open(HKEY_LOCAL_MACHINE, checked, KEY_READ | KEY_WOW64_64KEY),
             nativePath.isEmpty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
    if (nativePath.isEmpty()) {
        Key parent;
        QCOMPARE(parent.open(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\Absent"),
                             KEY_READ | KEY_WOW64_64KEY),
                 ERROR_FILE_NOT_FOUND);
    }
}

void SimulatedRegistryTest::createWaitsForAnotherWriter()
{
    Key parent;
    QCOMPARE(parent.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Race")), ERROR_SUCCESS);

    // Another process holds the write lock while this one makes a key: the
    // create must wait for it rather than fail or report a host problem.
    HostDatabase other;
    QCOMPARE(other.open(SimulatedHost::folder() + QStringLiteral("/registry.db"), false),
             ERROR_SUCCESS);
    std::optional<HostDatabase::Transaction> holding;
    holding.emplace(other, true);
    QCOMPARE(holding->beginError(), ERROR_SUCCESS);
    LONG released = ERROR_INVALID_HANDLE;
    std::thread releaser([&] {
        QThread::msleep(200);
        released = holding->commit();
    });
    Key child;
    DWORD disposition = 0;
    const LONG code =
        child.create(parent.handle, QStringLiteral("New"), KEY_ALL_ACCESS, &disposition);
    releaser.join();
    QCOMPARE(released, ERROR_SUCCESS);
    QCOMPARE(code, ERROR_SUCCESS);
    QCOMPARE(disposition, DWORD(REG_CREATED_NEW_KEY));
    QCOMPARE(Platform::hostProblem(), QString());
    QCOMPARE(subKeys(parent.handle), QStringList{QStringLiteral("New")});
}

void SimulatedRegistryTest::rewritingAValueChangesOnlyWhatDiffers_data()
{
    QTest::addColumn<DWORD>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("changes");

    const QByteArray first = textData(QStringLiteral("C:\\CSP"));
    QTest::newRow("the same type and bytes leave the key untouched") << REG_SZ << first << false;
    QTest::newRow("the same bytes under another type are a change")
        << REG_EXPAND_SZ << first << true;
    QTest::newRow("one byte more is a change") << REG_SZ << first + '\0' << true;
    QTest::newRow("one byte less is a change") << REG_SZ << first.left(first.size() - 1) << true;
    QTest::newRow("empty data is a change") << REG_SZ << QByteArray() << true;
    QByteArray flipped = first;
    flipped[0] = 'D';
    QTest::newRow("other bytes of the same length are a change") << REG_SZ << flipped << true;
    // Far larger than a database page: the data spills over many pages.
    QByteArray large(200000, '\0');
    for (int i = 0; i < large.size(); ++i)
        large[i] = char((i * 7 + 3) & 0xff);
    QTest::newRow("a value over many pages is stored whole") << REG_BINARY << large << true;
}

void SimulatedRegistryTest::rewritingAValueChangesOnlyWhatDiffers()
{
    QFETCH(DWORD, type);
    QFETCH(QByteArray, data);
    QFETCH(bool, changes);

    Key key;
    QCOMPARE(key.create(HKEY_CURRENT_USER, QStringLiteral("Software\\Rewrite")), ERROR_SUCCESS);
    QCOMPARE(setText(key.handle, QStringLiteral("Path"), QStringLiteral("C:\\CSP")), ERROR_SUCCESS);
    FILETIME before{};
    QCOMPARE(RegQueryInfoKeyW(key.handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, &before),
             ERROR_SUCCESS);
    // The time of last write counts milliseconds: let one pass.
    QThread::msleep(3);

    QCOMPARE(RegSetValueExW(key.handle, w(QStringLiteral("PATH")), 0, type,
                            reinterpret_cast<const BYTE*>(data.constData()), DWORD(data.size())),
             ERROR_SUCCESS);
    DWORD storedType = 0;
    QCOMPARE(readData(key.handle, QStringLiteral("Path"), &storedType), data);
    QCOMPARE(storedType, type);
    QCOMPARE(valueNames(key.handle), QStringList{QStringLiteral("Path")});
    FILETIME after{};
    QCOMPARE(RegQueryInfoKeyW(key.handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, &after),
             ERROR_SUCCESS);
    const bool moved = after.dwLowDateTime != before.dwLowDateTime ||
                       after.dwHighDateTime != before.dwHighDateTime;
    QCOMPARE(moved, changes);
}

QTEST_GUILESS_MAIN(SimulatedRegistryTest)
#include "tst_simulatedregistry.moc"
