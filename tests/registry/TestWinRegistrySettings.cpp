#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "Platform.h"
#include "RawRegistry.h"
#include "RegistryFaults.h"
#include "SimulatedHost.h"
#include "WinRegistrySettings.h"

namespace {

const QString basePath = QStringLiteral("HKLM\\SOFTWARE\\Vexor Test");
const QString baseKey = QStringLiteral("SOFTWARE\\Vexor Test");
// The organisation store searches Software\Vexor Test\App, then
// Software\Vexor Test\OrganizationDefaults: both below baseKey.
const QString organization = QStringLiteral("Vexor Test");
const QString application = QStringLiteral("App");
const QString gone = QStringLiteral("(the base key is gone)");

QStringList caughtWarnings;
QtMessageHandler testLogHandler = nullptr;

void catchWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg)
        caughtWarnings.append(text);
    else
        testLogHandler(type, context, text);
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// "org": the system-scope organisation store; "org-unnamed": the same without
// an organisation; "": basePath; anything else: that path.
std::unique_ptr<WinRegistrySettings> makeStore(const QString& construction,
                                               int format = WinRegistrySettings::Registry64Format)
{
    const auto view = WinRegistrySettings::Format(format);
    if (construction.startsWith(QLatin1String("org")))
        return std::make_unique<WinRegistrySettings>(
            view, WinRegistrySettings::SystemScope,
            construction == QLatin1String("org") ? organization : QString(), application);
    return std::make_unique<WinRegistrySettings>(construction.isEmpty() ? basePath : construction,
                                                 view);
}

// Steps: "read <key>", "write <key>" (the int 1), "remove <key>" (no key: clear
// everything), "list", "drop" and "regain" administrator rights. A read gives
// the value, a listing the keys.
QVariant perform(WinRegistrySettings& store, const QString& step)
{
    const QString operation = step.section(QLatin1Char(' '), 0, 0);
    const QString key = step.section(QLatin1Char(' '), 1);
    if (operation == QLatin1String("read"))
        return store.value(key);
    if (operation == QLatin1String("list"))
        return store.allKeys();
    if (operation == QLatin1String("write"))
        store.setValue(key, 1);
    else if (operation == QLatin1String("remove"))
        store.remove(key);
    else
        SimulatedHost::setElevated(operation == QLatin1String("regain"));
    return QVariant();
}

void compareVariants(const QVariant& actual, const QVariant& expected)
{
    QCOMPARE(QMetaType::typeName(actual.userType()), QMetaType::typeName(expected.userType()));
    QCOMPARE(actual, expected);
}

} // namespace

class TestWinRegistrySettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void enumerationsKeepTheirFixedValues();
    void pathConstructorFindsItsBaseKey_data();
    void pathConstructorFindsItsBaseKey();
    void organisationConstructorSearchesItsLocationsInOrder_data();
    void organisationConstructorSearchesItsLocationsInOrder();
    void firstUseCreatesOnlyTheWriteKey_data();
    void firstUseCreatesOnlyTheWriteKey();
    void withoutAdministratorRightsTheStoreFallsBackToReading_data();
    void withoutAdministratorRightsTheStoreFallsBackToReading();
    void keyFormsAddressTheSameValues_data();
    void keyFormsAddressTheSameValues();
    void emptyKeysReadNothingAndWriteNothing();
    void writesStoreExactBytes_data();
    void writesStoreExactBytes();
    void readsValuesWrittenByOthers_data();
    void readsValuesWrittenByOthers();
    void searchCoversEveryLocation_data();
    void searchCoversEveryLocation();
    void registryViewsAreKeptApart();
    void allKeysListsEveryValuePathOnce_data();
    void allKeysListsEveryValuePathOnce();
    void removeDeletesValuesAndKeyTrees_data();
    void removeDeletesValuesAndKeyTrees();
    void statusOnlyMovesToAccessError_data();
    void statusOnlyMovesToAccessError();
    void keysAreOpenedWithTheirFixedRights_data();
    void keysAreOpenedWithTheirFixedRights();
    void registryFailuresAreReportedAndContained_data();
    void registryFailuresAreReportedAndContained();

private:
    std::unique_ptr<QTemporaryDir> m_hostFolder;
};

void TestWinRegistrySettings::initTestCase()
{
    testLogHandler = qInstallMessageHandler(catchWarnings);
}

void TestWinRegistrySettings::init()
{
    m_hostFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_hostFolder->isValid());
    QString error;
    QVERIFY2(SimulatedHost::use(m_hostFolder->path(), &error), qPrintable(error));
    SimulatedHost::setElevated(true);
    RegistryFaults::reset();
    caughtWarnings.clear();
}

void TestWinRegistrySettings::cleanup()
{
    SimulatedHost::setElevated(true);
    // Every store is gone by now: whatever is still open leaked.
    QCOMPARE(SimulatedHost::openHandleCount(), 0);
}

void TestWinRegistrySettings::enumerationsKeepTheirFixedValues()
{
    const QMetaObject& meta = WinRegistrySettings::staticMetaObject;
    QCOMPARE(meta.className(), "WinRegistrySettings");
    const QStringList expected = {"Status NoError 0",          "Status AccessError 1",
                                  "Format Registry32Format 0", "Format Registry64Format 1",
                                  "Scope UserScope 0",         "Scope SystemScope 1"};
    QStringList found;
    for (const char* name : {"Status", "Format", "Scope"}) {
        const QMetaEnum enumeration = meta.enumerator(meta.indexOfEnumerator(name));
        for (int i = 0; i < enumeration.keyCount(); ++i)
            found << QStringLiteral("%1 %2 %3")
                         .arg(QLatin1String(name), QLatin1String(enumeration.key(i)))
                         .arg(enumeration.value(i));
    }
    QCOMPARE(found, expected);
}

void TestWinRegistrySettings::pathConstructorFindsItsBaseKey_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("key"); // the probe value, SOFTWARE\Vexor\probe below the root
    QTest::addColumn<bool>("recognised");
    const auto row = [](const char* name, const char* path, const char* root, bool recognised,
                        const char* key = "probe") {
        QTest::newRow(name) << QString(path) << QString(root) << QString(key) << recognised;
    };
    row("the long machine root is recognised", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexor", "HKLM", true);
    row("the short machine root is recognised", "HKLM\\SOFTWARE\\Vexor", "HKLM", true);
    row("a root alone is the root key itself", "HKLM", "HKLM", true, "SOFTWARE/Vexor/probe");
    row("one leading backslash is dropped", "\\HKLM\\SOFTWARE\\Vexor", "HKLM", true);
    row("a trailing backslash still opens the key", "HKLM\\SOFTWARE\\Vexor\\", "HKLM", true);
    row("the long user root is recognised", "HKEY_CURRENT_USER\\SOFTWARE\\Vexor", "HKCU", true);
    row("the short user root is recognised", "HKCU\\SOFTWARE\\Vexor", "HKCU", true);
    row("the long classes root is recognised", "HKEY_CLASSES_ROOT\\SOFTWARE\\Vexor", "HKCR", true);
    row("the short classes root is recognised", "HKCR\\SOFTWARE\\Vexor", "HKCR", true);
    row("the long users root is recognised", "HKEY_USERS\\SOFTWARE\\Vexor", "HKU", true);
    row("the short users root is recognised", "HKU\\SOFTWARE\\Vexor", "HKU", true);
    row("two leading backslashes are not recognised", "\\\\HKLM\\SOFTWARE\\Vexor", "HKLM", false);
    row("a lower-case root is not recognised", "hklm\\SOFTWARE\\Vexor", "HKLM", false);
    row("a forward slash after the root is not recognised", "HKLM/SOFTWARE/Vexor", "HKLM", false);
    row("letters after the root are not recognised", "HKLMX\\SOFTWARE\\Vexor", "HKLM", false);
    row("an unknown root is not recognised", "HKEY_CURRENT_CONFIG\\SOFTWARE\\Vexor", "HKLM", false);
    row("an empty path is not recognised", "", "HKLM", false);
}

void TestWinRegistrySettings::pathConstructorFindsItsBaseKey()
{
    QFETCH(QString, path);
    QFETCH(QString, root);
    QFETCH(QString, key);
    QFETCH(bool, recognised);
    const HKEY rootKey = RawRegistry::root(root);
    const QString probeKey = QStringLiteral("SOFTWARE\\Vexor");
    QVERIFY(RawRegistry::setText(rootKey, probeKey, QStringLiteral("probe"), "planted"));
    {
        WinRegistrySettings settings(path, WinRegistrySettings::Registry64Format);
        QCOMPARE(settings.value(key, QStringLiteral("fallback")).toString(),
                 recognised ? QStringLiteral("planted") : QStringLiteral("fallback"));
        QCOMPARE(settings.status(), WinRegistrySettings::NoError);
        settings.setValue(key + QStringLiteral("-written"), QStringLiteral("w"));
        QCOMPARE(settings.status(),
                 recognised ? WinRegistrySettings::NoError : WinRegistrySettings::AccessError);
    }
    QCOMPARE(RawRegistry::text(rootKey, probeKey, QStringLiteral("probe-written")).isNull(),
             !recognised);
    QCOMPARE(caughtWarnings, QStringList());
}

void TestWinRegistrySettings::organisationConstructorSearchesItsLocationsInOrder_data()
{
    QTest::addColumn<WinRegistrySettings::Scope>("scope");
    QTest::addColumn<QString>("application");
    QTest::addColumn<QStringList>("locations"); // search order; the first is written to

    const QString userApplication = QStringLiteral("HKCU|Software\\Vexor Test\\App");
    const QString userDefaults = QStringLiteral("HKCU|Software\\Vexor Test\\OrganizationDefaults");
    const QString machineApplication = QStringLiteral("HKLM|Software\\Vexor Test\\App");
    const QString machineDefaults =
        QStringLiteral("HKLM|Software\\Vexor Test\\OrganizationDefaults");
    QTest::newRow("the user scope searches user keys before machine keys")
        << WinRegistrySettings::UserScope << application
        << QStringList{userApplication, userDefaults, machineApplication, machineDefaults};
    QTest::newRow("the user scope without an application has only organisation keys")
        << WinRegistrySettings::UserScope << QString()
        << QStringList{userDefaults, machineDefaults};
    QTest::newRow("the system scope has only machine keys")
        << WinRegistrySettings::SystemScope << application
        << QStringList{machineApplication, machineDefaults};
    QTest::newRow("the system scope without an application writes the organisation defaults")
        << WinRegistrySettings::SystemScope << QString() << QStringList{machineDefaults};
}

void TestWinRegistrySettings::organisationConstructorSearchesItsLocationsInOrder()
{
    QFETCH(WinRegistrySettings::Scope, scope);
    QFETCH(QString, application);
    QFETCH(QStringList, locations);

    // Every candidate holds a probe naming itself; so does the bare
    // organisation key, which is never a location.
    QStringList candidates;
    for (const char* root : {"HKCU|", "HKLM|"})
        for (const char* below : {"\\App", "\\OrganizationDefaults", ""})
            candidates << QLatin1String(root) + QStringLiteral("Software\\Vexor Test") + below;
    const auto parts = [](const QString& candidate) { return candidate.split(QLatin1Char('|')); };
    for (const QString& candidate : candidates)
        QVERIFY(RawRegistry::setText(RawRegistry::root(parts(candidate)[0]), parts(candidate)[1],
                                     QStringLiteral("probe"), candidate, KEY_WOW64_32KEY));

    WinRegistrySettings settings(WinRegistrySettings::Registry32Format, scope, organization,
                                 application);
    for (const QString& expected : locations) {
        QCOMPARE(settings.value(QStringLiteral("probe")).toString(), expected);
        QVERIFY(RawRegistry::deleteValue(RawRegistry::root(parts(expected)[0]), parts(expected)[1],
                                         QStringLiteral("probe"), KEY_WOW64_32KEY));
    }
    QCOMPARE(settings.value(QStringLiteral("probe"), "none").toString(), QStringLiteral("none"));

    settings.setValue(QStringLiteral("written"), QStringLiteral("here"));
    QCOMPARE(settings.status(), WinRegistrySettings::NoError);
    for (const QString& candidate : candidates)
        QCOMPARE(RawRegistry::text(RawRegistry::root(parts(candidate)[0]), parts(candidate)[1],
                                   QStringLiteral("written"), KEY_WOW64_32KEY),
                 candidate == locations.first() ? QStringLiteral("here") : QString());
}

void TestWinRegistrySettings::firstUseCreatesOnlyTheWriteKey_data()
{
    QTest::addColumn<QString>("step");
    QTest::newRow("a read creates the missing write key") << "read anything";
    QTest::newRow("a listing creates the missing write key") << "list";
    QTest::newRow("removing a missing key creates the missing write key") << "remove missing";
    QTest::newRow("a write creates the missing write key") << "write anything";
}

void TestWinRegistrySettings::firstUseCreatesOnlyTheWriteKey()
{
    QFETCH(QString, step);
    const auto settings = makeStore(QStringLiteral("org"));
    QVERIFY2(!RawRegistry::keyExists(HKEY_LOCAL_MACHINE, baseKey), "constructing touches nothing");
    perform(*settings, step);
    QVERIFY(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, baseKey + QStringLiteral("\\App")));
    QVERIFY2(!RawRegistry::keyExists(HKEY_LOCAL_MACHINE,
                                     baseKey + QStringLiteral("\\OrganizationDefaults")),
             "a read-only location is never created");
    QCOMPARE(settings->status(), WinRegistrySettings::NoError);
}

void TestWinRegistrySettings::withoutAdministratorRightsTheStoreFallsBackToReading_data()
{
    QTest::addColumn<bool>("keyExists");
    QTest::addColumn<bool>("regainRightsBeforeWriting");
    QTest::addColumn<QString>("expectedRead");
    QTest::addColumn<bool>("writeLands");

    QTest::newRow("an existing key is read but not written") << true << false << "planted" << false;
    QTest::newRow("the read-only fallback lasts for the object's life")
        << true << true << "planted" << false;
    QTest::newRow("a missing key is neither created nor read")
        << false << false << "fallback" << false;
    QTest::newRow("a key that could not be opened is tried again on the next use")
        << false << true << "fallback" << true;
}

void TestWinRegistrySettings::withoutAdministratorRightsTheStoreFallsBackToReading()
{
    QFETCH(bool, keyExists);
    QFETCH(bool, regainRightsBeforeWriting);
    QFETCH(QString, expectedRead);
    QFETCH(bool, writeLands);
    if (keyExists)
        QVERIFY(RawRegistry::plant(baseKey, {"|probe=planted"}));
    SimulatedHost::setElevated(false);
    {
        WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
        QCOMPARE(settings.value(QStringLiteral("probe"), "fallback").toString(), expectedRead);
        QCOMPARE(settings.status(), WinRegistrySettings::NoError);
        SimulatedHost::setElevated(regainRightsBeforeWriting);
        settings.setValue(QStringLiteral("written"), QStringLiteral("x"));
        QCOMPARE(settings.status(),
                 writeLands ? WinRegistrySettings::NoError : WinRegistrySettings::AccessError);
    }
    QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, baseKey), keyExists || writeLands);
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, baseKey, QStringLiteral("written")),
             writeLands ? QStringLiteral("x") : QString());
    QCOMPARE(caughtWarnings, QStringList());
}

void TestWinRegistrySettings::keyFormsAddressTheSameValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("keyPath"); // below the base key
    QTest::addColumn<QString>("valueName");
    const auto row = [](const char* name, const char* key, const char* path, const char* value) {
        QTest::newRow(name) << QString(key) << QString(path) << QString(value);
    };
    row("a plain key names a value of the base key", "name", "", "name");
    row("slashes separate keys", "a/b/name", "a\\b", "name");
    row("backslashes separate keys too", "a\\b\\name", "a\\b", "name");
    row("leading, doubled and trailing slashes vanish", "/a//b/", "a", "b");
    row("mixed separators collapse", "\\a/\\b\\/name", "a\\b", "name");
    row("Default names the base key's default value", "Default", "", "");
    row("a full stop names the base key's default value", ".", "", "");
    row("X/Default names the default value of X", "X/Default", "X", "");
    row("X/. names the default value of X", "X/.", "X", "");
    row("the Default rule is case-sensitive", "X/default", "X", "default");
    row("Default inside a path is an ordinary key", "Default/v", "Default", "v");
    row("a key of slashes only names the base key's default value", "///", "", "");
}

void TestWinRegistrySettings::keyFormsAddressTheSameValues()
{
    QFETCH(QString, key);
    QFETCH(QString, keyPath);
    QFETCH(QString, valueName);
    const QString rawPath = keyPath.isEmpty() ? baseKey : baseKey + QLatin1Char('\\') + keyPath;

    WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
    settings.setValue(key, QStringLiteral("through the store"));
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, rawPath, valueName), "through the store");
    QCOMPARE(settings.allKeys().size(), 1);
    QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, rawPath, valueName, "from outside"));
    QCOMPARE(settings.value(key).toString(), QStringLiteral("from outside"));
    QCOMPARE(settings.status(), WinRegistrySettings::NoError);
}

void TestWinRegistrySettings::emptyKeysReadNothingAndWriteNothing()
{
    QVERIFY(RawRegistry::plant(baseKey, {"|=dflt"}));
    WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
    QVERIFY(!settings.value(QString(), QStringLiteral("fallback")).isValid());
    settings.setValue(QString(), QStringLiteral("overwritten?"));
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, baseKey, QString()), QStringLiteral("dflt"));
    QCOMPARE(settings.status(), WinRegistrySettings::NoError);
}

void TestWinRegistrySettings::writesStoreExactBytes_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<uint>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVariant>("readBack");
    const auto row = [](const char* name, const QVariant& value, DWORD type, const char* bytes,
                        const QVariant& readBack) {
        QTest::newRow(name) << value << uint(type) << hex(bytes) << readBack;
    };
    const QString zeroInside = QString::fromUtf16(u"a\0b", 3);
    row("an int is a little-endian DWORD", 1, REG_DWORD, "01000000", 1);
    row("an unsigned int keeps its 32 bits", 4294967295u, REG_DWORD, "ffffffff", -1);
    row("a long long is a little-endian QWORD", qlonglong(0x0102030405060708), REG_QWORD,
        "0807060504030201", qlonglong(0x0102030405060708));
    row("an unsigned long long keeps its 64 bits", ~qulonglong(0), REG_QWORD, "ffffffffffffffff",
        qlonglong(-1));
    row("text is UTF-16 with one terminator", QString::fromUtf8("aВ"), REG_SZ, "610012040000",
        QString::fromUtf8("aВ"));
    row("empty text is one terminator", QString(), REG_SZ, "0000", QString(""));
    row("text with a zero inside is stored whole and read up to the zero", zeroInside, REG_SZ,
        "6100000062000000", QStringLiteral("a"));
    row("a bool is the text true", true, REG_SZ, "74007200750065000000", QStringLiteral("true"));
    row("a list the framework cannot turn into text is empty text", QVariantList{1, 2}, REG_SZ,
        "0000", QString(""));
    row("a string list ends with two extra zero bytes", QStringList{"a", "b"}, REG_MULTI_SZ,
        "61000000620000000000", QStringList{"a", "b"});
    row("an empty string list is two zero bytes", QStringList(), REG_MULTI_SZ, "0000",
        QStringList());
    row("a string list keeps an empty string but reads back only what precedes it",
        QStringList{"a", "", "b"}, REG_MULTI_SZ, "610000000000620000000000", QStringList{"a"});
    row("bytes are binary without a terminator", hex("3bfc1300"), REG_BINARY, "3bfc1300",
        hex("3bfc1300"));
    row("no bytes are an empty binary value", QByteArray(), REG_BINARY, "", QByteArray());
}

void TestWinRegistrySettings::writesStoreExactBytes()
{
    QFETCH(QVariant, value);
    QFETCH(uint, type);
    QFETCH(QByteArray, bytes);
    QFETCH(QVariant, readBack);

    WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
    settings.setValue(QStringLiteral("Sub/Value"), value);
    QCOMPARE(settings.status(), WinRegistrySettings::NoError);
    DWORD storedType = REG_NONE;
    QByteArray stored;
    QVERIFY(RawRegistry::query(HKEY_LOCAL_MACHINE, baseKey + QStringLiteral("\\Sub"),
                               QStringLiteral("Value"), &storedType, &stored));
    QCOMPARE(uint(storedType), type);
    QCOMPARE(stored.toHex(), bytes.toHex());
    compareVariants(settings.value(QStringLiteral("Sub/Value")), readBack);
    QCOMPARE(caughtWarnings, QStringList());
}

void TestWinRegistrySettings::readsValuesWrittenByOthers_data()
{
    QTest::addColumn<uint>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("grownBytes"); // rewritten between the size and data queries
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<QString>("warning");
    const auto row = [](const char* name, DWORD type, const char* bytes, const QVariant& expected,
                        const char* warning = "", const char* grownBytes = "") {
        QTest::newRow(name) << uint(type) << hex(bytes) << hex(grownBytes) << expected
                            << QString(warning);
    };
    row("text without a terminator reads whole", REG_SZ, "68006900", QStringLiteral("hi"));
    row("text of an odd size stays inside its data", REG_SZ, "680069", QStringLiteral("hi"));
    row("text of no bytes reads as empty text", REG_SZ, "", QString(""));
    row("expandable text is returned unexpanded", REG_EXPAND_SZ, "250041002500000000",
        QStringLiteral("%A%"));
    row("text one unit longer by the time it is read still reads whole", REG_SZ, "6100",
        QStringLiteral("ab"), "", "61006200");
    row("a string list without terminators reads whole", REG_MULTI_SZ, "61006200",
        QStringList{"ab"});
    row("a string list stops at its first empty string", REG_MULTI_SZ,
        "6100000000006200000000000000", QStringList{"a"});
    row("a string list of no bytes is an empty list", REG_MULTI_SZ, "", QStringList());
    row("a string list of an odd size stays inside its data", REG_MULTI_SZ, "610000006200",
        QStringList{"a", "b"});
    row("a string list two units longer by the time it is read still reads whole", REG_MULTI_SZ,
        "6100", QStringList{"a", "b"}, "", "610000006200");
    row("a big-endian DWORD is taken in little-endian order", REG_DWORD_BIG_ENDIAN, "00000001",
        1 << 24);
    row("a short DWORD reads its missing bytes as zero", REG_DWORD, "0102", 0x0201);
    row("a DWORD of no bytes reads as zero", REG_DWORD, "", 0);
    row("a long DWORD reads its first four bytes", REG_DWORD, "0100000002000000", 1);
    row("a short QWORD reads its missing bytes as zero", REG_QWORD, "01000080",
        qlonglong(0x80000001));
    row("no type at all reads as bytes", REG_NONE, "0001", hex("0001"));
    row("a link gives an invalid value and a warning", REG_LINK, "41004200", QVariant(),
        "QSettings: Unknown data 6 type in Windows registry");
    row("a type code above the known ones gives an invalid value and a warning", 70000, "00",
        QVariant(), "QSettings: Unknown data 70000 type in Windows registry");
}

void TestWinRegistrySettings::readsValuesWrittenByOthers()
{
    QFETCH(uint, type);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, grownBytes);
    QFETCH(QVariant, expected);
    QFETCH(QString, warning);
    const QString keyPath = baseKey + QStringLiteral("\\k");
    QVERIFY(RawRegistry::setValue(HKEY_LOCAL_MACHINE, keyPath, QStringLiteral("v"), type, bytes));
    if (!grownBytes.isEmpty())
        RegistryFaults::beforeOnce(QStringLiteral("RegQueryValueExW"), QStringLiteral("call 2"),
                                   [&] {
                                       RawRegistry::setValue(HKEY_LOCAL_MACHINE, keyPath,
                                                             QStringLiteral("v"), type, grownBytes);
                                   });
    WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
    compareVariants(settings.value(QStringLiteral("k/v"), QStringLiteral("fallback")), expected);
    QCOMPARE(caughtWarnings, warning.isEmpty() ? QStringList() : QStringList{warning});
    QCOMPARE(settings.status(), WinRegistrySettings::NoError);
}

void TestWinRegistrySettings::searchCoversEveryLocation_data()
{
    QTest::addColumn<uint>("firstType"); // REG_NONE here: the first location lacks the value
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<QStringList>("warnings");
    QTest::newRow("a value only in the second location is found there")
        << uint(REG_NONE) << QVariant(QStringLiteral("second")) << QStringList();
    QTest::newRow("the first location's value wins")
        << uint(REG_SZ) << QVariant(QStringLiteral("first")) << QStringList();
    QTest::newRow("an unreadable type in the first location ends the search")
        << uint(REG_LINK) << QVariant()
        << QStringList{"QSettings: Unknown data 6 type in Windows registry"};
}

void TestWinRegistrySettings::searchCoversEveryLocation()
{
    QFETCH(uint, firstType);
    QFETCH(QVariant, expected);
    QFETCH(QStringList, warnings);
    QVERIFY(RawRegistry::plant(baseKey, {"OrganizationDefaults\\k|v=second"}));
    if (firstType != REG_NONE)
        QVERIFY(RawRegistry::setValue(HKEY_LOCAL_MACHINE, baseKey + QStringLiteral("\\App\\k"),
                                      QStringLiteral("v"), firstType,
                                      RawRegistry::utf16z(QStringLiteral("first"))));
    const auto settings = makeStore(QStringLiteral("org"));
    compareVariants(settings->value(QStringLiteral("k\\v"), QStringLiteral("fallback")), expected);
    QCOMPARE(caughtWarnings, warnings);
}

void TestWinRegistrySettings::registryViewsAreKeptApart()
{
    const QString keyPath = baseKey + QStringLiteral("\\k");
    {
        WinRegistrySettings view32(basePath, WinRegistrySettings::Registry32Format);
        WinRegistrySettings view64(basePath, WinRegistrySettings::Registry64Format);
        view32.setValue(QStringLiteral("k/v"), QStringLiteral("32"));
        view64.setValue(QStringLiteral("k/v"), QStringLiteral("64"));
        QCOMPARE(view32.value(QStringLiteral("k/v")).toString(), QStringLiteral("32"));
        view64.remove(QStringLiteral("k"));
    }
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, keyPath, QStringLiteral("v"), KEY_WOW64_32KEY),
             QStringLiteral("32"));
    QVERIFY(!RawRegistry::keyExists(HKEY_LOCAL_MACHINE, keyPath, KEY_WOW64_64KEY));
}

void TestWinRegistrySettings::allKeysListsEveryValuePathOnce_data()
{
    QTest::addColumn<QString>("construction");
    QTest::addColumn<QStringList>("planted");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("paths come in code-unit order, upper case first")
        << "" << QStringList{"|b=1", "|A=2", "s|x=3"} << QStringList{"A", "b", "s/x"};
    QTest::newRow("the base key's default value lists as a full stop")
        << "" << QStringList{"|=1"} << QStringList{"."};
    QTest::newRow("a subkey's default value lists as the subkey and a full stop")
        << "" << QStringList{"s|=1"} << QStringList{"s/."};
    QTest::newRow("keys without values list nothing")
        << "" << QStringList{"a\\", "a\\b\\", "c\\"} << QStringList();
    QTest::newRow("deep values list with their whole path")
        << "" << QStringList{"a\\b\\c|v=1", "a|w=2"} << QStringList{"a/b/c/v", "a/w"};
    QTest::newRow("a slash inside a registry name lists as a backslash")
        << "" << QStringList{"|x/y=1", "k/1|v=2"} << QStringList{"k\\1/v", "x\\y"};
    QTest::newRow("every location is listed and a path found twice comes once")
        << "org"
        << QStringList{"App|shared=1", "App\\z|own=1", "OrganizationDefaults|shared=2",
                       "OrganizationDefaults|Defaults=2"}
        << QStringList{"Defaults", "shared", "z/own"};
    QTest::newRow("an unrecognised root lists nothing")
        << "HKLM/SOFTWARE/Vexor Test" << QStringList{"|v=1"} << QStringList();
}

void TestWinRegistrySettings::allKeysListsEveryValuePathOnce()
{
    QFETCH(QString, construction);
    QFETCH(QStringList, planted);
    QFETCH(QStringList, expected);
    QVERIFY(RawRegistry::plant(baseKey, planted));
    const auto settings = makeStore(construction);
    QCOMPARE(settings->allKeys(), expected);
    QCOMPARE(settings->status(), WinRegistrySettings::NoError);
    QCOMPARE(caughtWarnings, QStringList());
}

void TestWinRegistrySettings::removeDeletesValuesAndKeyTrees_data()
{
    QTest::addColumn<QStringList>("planted");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("remaining"); // the raw tree once the store is gone

    QTest::newRow("a key names both a value and a key tree, and both go")
        << QStringList{"|VEXOR=v",       "VEXOR|ATR=1", "VEXOR\\deep\\deeper|x=2",
                       "VEXOR\\empty\\", "|Other=3",    "Other|y=4"}
        << QStringList{"remove VEXOR"} << QStringList{"Other\\", "Other\\|y", "|Other"};
    QTest::newRow("A/B removes the value B of A and the tree A\\B")
        << QStringList{"A|B=1", "A|keep=2", "A\\B|x=3", "A\\B\\C\\"} << QStringList{"remove A/B"}
        << QStringList{"A\\", "A\\|keep"};
    QTest::newRow("A\\B names one key whose name holds a slash")
        << QStringList{"A|B=1", "A\\B|x=3", "A/B|y=4"} << QStringList{"remove A\\B"}
        << QStringList{"A\\", "A\\B\\", "A\\B\\|x", "A\\|B"};
    QTest::newRow("X/Default removes the default value of X and a key X\\Default")
        << QStringList{"X|=1", "X|other=2", "X\\Default|v=3"} << QStringList{"remove X/Default"}
        << QStringList{"X\\", "X\\|other"};
    QTest::newRow("surrounding slashes are dropped")
        << QStringList{"A\\B|x=1", "A|y=2"} << QStringList{"remove //A//B/"}
        << QStringList{"A\\", "A\\|y"};
    QTest::newRow("a missing key changes nothing")
        << QStringList{"A|x=1"} << QStringList{"remove Missing/Key"} << QStringList{"A\\", "A\\|x"};

    const QStringList full = {"|=default", "|a=1", "s\\t|x=3", "s\\u\\", "w\\"};
    QTest::newRow("clearing empties the write key and deletes it with the store")
        << full << QStringList{"remove"} << QStringList{gone};
    QTest::newRow("a key of one slash clears too")
        << full << QStringList{"remove /"} << QStringList{gone};
    QTest::newRow("a write after clearing keeps the key with that value")
        << full << QStringList{"remove", "write kept"} << QStringList{"|kept"};
    QTest::newRow("a removal after clearing does not keep the key")
        << full << QStringList{"remove", "remove nothing"} << QStringList{gone};
}

void TestWinRegistrySettings::removeDeletesValuesAndKeyTrees()
{
    QFETCH(QStringList, planted);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, remaining);
    QVERIFY(RawRegistry::plant(baseKey, planted));
    {
        WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
        for (const QString& step : steps)
            perform(settings, step);
        QCOMPARE(settings.status(), WinRegistrySettings::NoError);
    }
    QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, baseKey)
                 ? RawRegistry::tree(HKEY_LOCAL_MACHINE, baseKey)
                 : QStringList{gone},
             remaining);
    QCOMPARE(caughtWarnings, QStringList());
}

void TestWinRegistrySettings::statusOnlyMovesToAccessError_data()
{
    QTest::addColumn<QString>("construction");
    QTest::addColumn<QStringList>("steps"); // step=expected status after it

    QTest::newRow("an unrecognised root reads and lists without error, then fails a write")
        << "HKLMX" << QStringList{"read v=0", "list=0", "write v=1"};
    QTest::newRow("an unrecognised root fails a removal")
        << "hklm\\SOFTWARE" << QStringList{"remove v=1"};
    QTest::newRow("an unrecognised root fails clearing")
        << "HKLM/SOFTWARE" << QStringList{"remove=1"};
    QTest::newRow("an empty organisation fails at once")
        << "org-unnamed" << QStringList{"read v=1", "list=1"};
    QTest::newRow("writing without rights fails and stays failed after rights return")
        << "" << QStringList{"drop=0", "write v=1", "regain=1", "write v=1", "remove v=1"};
    QTest::newRow("removing without rights fails") << "" << QStringList{"drop=0", "remove v=1"};
    QTest::newRow("writing under the user root needs no administrator rights")
        << "HKCU\\Software\\Vexor Test"
        << QStringList{"drop=0", "write v=0", "remove v=0", "remove=0"};
    QTest::newRow("a later successful write does not reset the status")
        << "HKLM\\SOFTWARE\\Vexor Test\\Missing"
        << QStringList{"drop=0", "write v=1", "regain=1", "write v=1", "read v=1"};
}

void TestWinRegistrySettings::statusOnlyMovesToAccessError()
{
    QFETCH(QString, construction);
    QFETCH(QStringList, steps);
    QVERIFY(RawRegistry::plant(baseKey, {"\\"}));
    const auto settings = makeStore(construction);
    for (const QString& step : steps) {
        perform(*settings, step.section(QLatin1Char('='), 0, 0));
        QVERIFY2(int(settings->status()) == step.section(QLatin1Char('='), 1).toInt(),
                 qPrintable(step));
        // Only the one base key's handle outlives an operation.
        QVERIFY2(SimulatedHost::openHandleCount() <= 1, qPrintable(step));
    }
}

void TestWinRegistrySettings::keysAreOpenedWithTheirFixedRights_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QStringList>("planted");
    QTest::addColumn<QString>("step");
    QTest::addColumn<QStringList>("rights"); // every mask asked for, the base key's included

    QTest::newRow("a read asks for reading rights below a base key opened for writing")
        << 1 << QStringList{"k|v=1"} << "read k/v" << QStringList{"20119", "2011f"};
    QTest::newRow("the 32-bit view adds its own bit")
        << 0 << QStringList{"k|v=1"} << "read k/v" << QStringList{"20219", "2021f"};
    QTest::newRow("an unknown format asks for full access without a view bit")
        << 7 << QStringList{"k|v=1"} << "read k/v" << QStringList{"f003f"};
    QTest::newRow("a write opens or creates its key for reading and writing")
        << 1 << QStringList() << "write a/b/v" << QStringList{"2011f"};
    QTest::newRow("a listing walks the tree for reading")
        << 1 << QStringList{"|v=1", "s|w=1"} << "list" << QStringList{"20119", "2011f"};
    QTest::newRow("a removal opens every key of the tree for writing")
        << 1 << QStringList{"k\\s|w=1"} << "remove k" << QStringList{"2011f"};
    QTest::newRow("clearing opens every key for writing")
        << 1 << QStringList{"|v=1", "s\\t|w=1"} << "remove" << QStringList{"2011f"};
}

void TestWinRegistrySettings::keysAreOpenedWithTheirFixedRights()
{
    QFETCH(int, format);
    QFETCH(QStringList, planted);
    QFETCH(QString, step);
    QFETCH(QStringList, rights);
    QVERIFY(RawRegistry::plant(baseKey, planted));
    RegistryFaults::reset();
    {
        const auto settings = makeStore(QString(), format);
        perform(*settings, step);
        QCOMPARE(RegistryFaults::rightsAsked(), rights);
    }
    QCOMPARE(caughtWarnings, QStringList());
}

void TestWinRegistrySettings::registryFailuresAreReportedAndContained_data()
{
    QTest::addColumn<QString>("construction");
    QTest::addColumn<QStringList>("planted");
    QTest::addColumn<QString>("fault"); // function|subject|code
    QTest::addColumn<QString>("step");
    QTest::addColumn<QVariant>("seen");        // what a read or listing gave, else the raw tree
    QTest::addColumn<QStringList>("warnings"); // "%1": the error text
    QTest::addColumn<int>("status");

    QTest::newRow("a refused value write warns and fails the status, keeping the keys made")
        << "" << QStringList() << "RegSetValueExW|v|5"
        << "write a/b/v" << QVariant(QStringList{"a\\", "a\\b\\"})
        << QStringList{"QSettings: failed to set subkey \"a\\b\\v\": %1"} << 1;
    QTest::newRow("a key path that cannot be made for a write fails the status quietly")
        << "" << QStringList() << "RegCreateKeyExW|a\\b\\|5"
        << "write a/b/v" << QVariant(QStringList()) << QStringList() << 1;
    QTest::newRow("a subkey that cannot be deleted stops its level and its parent")
        << "" << QStringList{"K\\l|x=1", "K\\m|x=1", "K\\n|x=1", "|K=1"} << "RegDeleteKeyW|m|5"
        << "remove K" << QVariant(QStringList{"K\\", "K\\m\\", "K\\m\\|x", "K\\n\\", "K\\n\\|x"})
        << QStringList{"RegDeleteKey failed on subkey \"m\": %1",
                       "QSettings: RegDeleteKey failed on key \"K\": %1"}
        << 0;
    QTest::newRow("a value that cannot be deleted while clearing leaves the others to go")
        << "" << QStringList{"|a=1", "|b=1", "|c=1"} << "RegDeleteValueW|b|5"
        << "remove" << QVariant(QStringList{"|b"})
        << QStringList{"QSettings: RegDeleteValue failed on subkey \"b\": %1"} << 0;
    QTest::newRow("a write key that cannot be deleted at the end is named as it was given")
        << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexor Test\\" << QStringList{"|a=1"} << "RegDeleteKeyW||5"
        << "remove" << QVariant(QStringList())
        << QStringList{"QSettings: Failed to delete key \"SOFTWARE\\Vexor Test\\\": %1"} << 0;
    QTest::newRow("a key whose information cannot be read lists none of its values")
        << "" << QStringList{"|a=1", "s|b=1"} << "RegQueryInfoKeyW|call 1|1009"
        << "list" << QVariant(QStringList{"s/b"}) << QStringList{"RegQueryInfoKey() failed: %1"}
        << 0;
    QTest::newRow("a value name that cannot be read is skipped")
        << "" << QStringList{"|a=1", "|b=1"} << "RegEnumValueW|0|1009"
        << "list" << QVariant(QStringList{"b"}) << QStringList{"RegEnumValue failed: %1"} << 0;
    QTest::newRow("a subkey name that cannot be read is skipped with the same warning")
        << "" << QStringList{"s|a=1", "t|b=1"} << "RegEnumKeyExW|0|1009"
        << "list" << QVariant(QStringList{"t/b"}) << QStringList{"RegEnumValue failed: %1"} << 0;
    QTest::newRow("a value whose data cannot be read is looked for in the next location")
        << "org" << QStringList{"App|v=first", "OrganizationDefaults|v=second"}
        << "RegQueryValueExW|call 2|5"
        << "read v" << QVariant(QStringLiteral("second")) << QStringList() << 0;
}

void TestWinRegistrySettings::registryFailuresAreReportedAndContained()
{
    QFETCH(QString, construction);
    QFETCH(QStringList, planted);
    QFETCH(QString, fault);
    QFETCH(QString, step);
    QFETCH(QVariant, seen);
    QFETCH(QStringList, warnings);
    QFETCH(int, status);
    QVERIFY(RawRegistry::plant(baseKey, planted));
    const QStringList faultParts = fault.split(QLatin1Char('|'));
    RegistryFaults::reset();
    RegistryFaults::failOnce(faultParts[0], faultParts[1], LONG(faultParts[2].toInt()));
    {
        const auto settings = makeStore(construction);
        QVariant result = perform(*settings, step);
        if (!result.isValid())
            result = RawRegistry::tree(HKEY_LOCAL_MACHINE, baseKey);
        QCOMPARE(result, seen);
        QCOMPARE(int(settings->status()), status);
    }
    for (QString& warning : warnings)
        warning = warning.arg(Platform::errorText(faultParts[2].toLong()));
    QCOMPARE(caughtWarnings, warnings);
}

QTEST_GUILESS_MAIN(TestWinRegistrySettings)
#include "TestWinRegistrySettings.moc"
