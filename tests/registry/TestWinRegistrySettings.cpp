#include <QScopedPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "Platform.h"
#include "RawRegistry.h"
#include "SimulatedHost.h"
#include "WarningCatcher.h"
#include "WinRegistrySettings.h"

namespace {

const QString basePath = QStringLiteral("HKLM\\SOFTWARE\\Vexor Test");
const QString baseKey = QStringLiteral("SOFTWARE\\Vexor Test");
const QString organization = QStringLiteral("Quellon");
const QString application = QStringLiteral("Vexor K Crypto Pro");

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// Plants values and empty keys below the test base key. Entries are "path|name=text"
// for a REG_SZ value (empty name: the default value) and "path\" for a key.
void plant(const QStringList& entries)
{
    for (const QString& entry : entries) {
        if (entry.endsWith(QLatin1Char('\\'))) {
            QVERIFY(
                RawRegistry::createKey(HKEY_LOCAL_MACHINE, baseKey + QLatin1Char('\\') + entry));
            continue;
        }
        const int bar = entry.indexOf(QLatin1Char('|'));
        const int equals = entry.indexOf(QLatin1Char('='), bar);
        const QString path = entry.left(bar);
        const QString name = entry.mid(bar + 1, equals - bar - 1);
        const QString keyPath = path.isEmpty() ? baseKey : baseKey + QLatin1Char('\\') + path;
        QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, keyPath, name, entry.mid(equals + 1)));
    }
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
    void init();
    void cleanup();

    void metaObjectDescribesTheEnumerations();
    void pathConstructorFindsItsBaseKey_data();
    void pathConstructorFindsItsBaseKey();
    void organisationConstructorSearchesItsLocationsInOrder_data();
    void organisationConstructorSearchesItsLocationsInOrder();
    void firstUseCreatesOnlyTheWritableBaseKey_data();
    void firstUseCreatesOnlyTheWritableBaseKey();
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
    void allKeysListsEveryValuePath_data();
    void allKeysListsEveryValuePath();
    void allKeysMergesLocationsWithoutDuplicates();
    void removeDeletesValueAndKeyTree_data();
    void removeDeletesValueAndKeyTree();
    void clearingTheStoreDeletesTheWriteKeyAtDestruction_data();
    void clearingTheStoreDeletesTheWriteKeyAtDestruction();
    void failedDestructionDeleteNamesTheSubkeyAsGiven();
    void statusOnlyMovesToAccessError_data();
    void statusOnlyMovesToAccessError();
    void operationsLeaveOnlyBaseKeyHandlesOpen_data();
    void operationsLeaveOnlyBaseKeyHandlesOpen();

private:
    std::unique_ptr<QTemporaryDir> m_hostFolder;
    std::unique_ptr<WarningCatcher> m_warnings;
};

void TestWinRegistrySettings::init()
{
    m_hostFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_hostFolder->isValid());
    QString error;
    QVERIFY2(SimulatedHost::use(m_hostFolder->path(), &error), qPrintable(error));
    SimulatedHost::setElevated(true);
    m_warnings = std::make_unique<WarningCatcher>();
}

void TestWinRegistrySettings::cleanup()
{
    m_warnings.reset();
    SimulatedHost::setElevated(true);
    QCOMPARE(SimulatedHost::openHandleCount(), 0);
}

void TestWinRegistrySettings::metaObjectDescribesTheEnumerations()
{
    const QMetaObject& meta = WinRegistrySettings::staticMetaObject;
    QCOMPARE(meta.className(), "WinRegistrySettings");
    const struct
    {
        const char* enumeration;
        const char* enumerator;
        int value;
    } expected[] = {
        {"Status", "NoError", 0},          {"Status", "AccessError", 1},
        {"Format", "Registry32Format", 0}, {"Format", "Registry64Format", 1},
        {"Scope", "UserScope", 0},         {"Scope", "SystemScope", 1},
    };
    for (const auto& row : expected) {
        const int index = meta.indexOfEnumerator(row.enumeration);
        QVERIFY2(index >= 0, row.enumeration);
        QCOMPARE(meta.enumerator(index).keyToValue(row.enumerator), row.value);
    }
    WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
    QVERIFY(qobject_cast<WinRegistrySettings*>(&settings));
    QVERIFY(!settings.parent());
}

void TestWinRegistrySettings::pathConstructorFindsItsBaseKey_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("recognised");

    const QString probeKey = QStringLiteral("probe");
    QTest::newRow("the long machine root with a subkey is recognised")
        << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexor"
        << "HKLM" << probeKey << true;
    QTest::newRow("the short machine root with a subkey is recognised")
        << "HKLM\\SOFTWARE\\Vexor"
        << "HKLM" << probeKey << true;
    QTest::newRow("a root alone is the root key itself") << "HKLM"
                                                         << "HKLM"
                                                         << "SOFTWARE/Vexor/probe" << true;
    QTest::newRow("one leading backslash is dropped") << "\\HKLM\\SOFTWARE\\Vexor"
                                                      << "HKLM" << probeKey << true;
    QTest::newRow("a trailing backslash still opens the key")
        << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexor\\"
        << "HKLM" << probeKey << true;
    QTest::newRow("the long user root is recognised") << "HKEY_CURRENT_USER\\SOFTWARE\\Vexor"
                                                      << "HKCU" << probeKey << true;
    QTest::newRow("the short user root is recognised") << "HKCU\\SOFTWARE\\Vexor"
                                                       << "HKCU" << probeKey << true;
    QTest::newRow("the long classes root is recognised") << "HKEY_CLASSES_ROOT\\SOFTWARE\\Vexor"
                                                         << "HKCR" << probeKey << true;
    QTest::newRow("the short classes root is recognised") << "HKCR\\SOFTWARE\\Vexor"
                                                          << "HKCR" << probeKey << true;
    QTest::newRow("the long users root is recognised") << "HKEY_USERS\\SOFTWARE\\Vexor"
                                                       << "HKU" << probeKey << true;
    QTest::newRow("the short users root is recognised") << "HKU\\SOFTWARE\\Vexor"
                                                        << "HKU" << probeKey << true;
    QTest::newRow("two leading backslashes are not recognised") << "\\\\HKLM\\SOFTWARE\\Vexor"
                                                                << "HKLM" << probeKey << false;
    QTest::newRow("a lower-case root is not recognised") << "hklm\\SOFTWARE\\Vexor"
                                                         << "HKLM" << probeKey << false;
    QTest::newRow("a forward slash after the root is not recognised")
        << "HKLM/SOFTWARE/Vexor"
        << "HKLM" << probeKey << false;
    QTest::newRow("letters after the root are not recognised") << "HKLMX\\SOFTWARE\\Vexor"
                                                               << "HKLM" << probeKey << false;
    QTest::newRow("an unknown root is not recognised") << "HKEY_CURRENT_CONFIG\\SOFTWARE\\Vexor"
                                                       << "HKLM" << probeKey << false;
    QTest::newRow("an empty path is not recognised") << ""
                                                     << "HKLM" << probeKey << false;
}

void TestWinRegistrySettings::pathConstructorFindsItsBaseKey()
{
    QFETCH(QString, path);
    QFETCH(QString, root);
    QFETCH(QString, key);
    QFETCH(bool, recognised);

    const HKEY rootKey = RawRegistry::root(root);
    QVERIFY(RawRegistry::setText(rootKey, QStringLiteral("SOFTWARE\\Vexor"),
                                 QStringLiteral("probe"), QStringLiteral("planted")));
    {
        WinRegistrySettings settings(path, WinRegistrySettings::Registry64Format);
        const QVariant read = settings.value(key, QStringLiteral("fallback"));
        QCOMPARE(read.toString(),
                 recognised ? QStringLiteral("planted") : QStringLiteral("fallback"));
        QCOMPARE(settings.status(), WinRegistrySettings::NoError);

        settings.setValue(key + QStringLiteral("-written"), 7);
        QCOMPARE(settings.status(),
                 recognised ? WinRegistrySettings::NoError : WinRegistrySettings::AccessError);
    }
    // Both probe keys name a value of SOFTWARE\Vexor below the root.
    DWORD type = REG_NONE;
    QByteArray data;
    QCOMPARE(RawRegistry::query(rootKey, QStringLiteral("SOFTWARE\\Vexor"),
                                QStringLiteral("probe-written"), &type, &data),
             recognised);
    QVERIFY(m_warnings->warnings().isEmpty());
}

void TestWinRegistrySettings::organisationConstructorSearchesItsLocationsInOrder_data()
{
    QTest::addColumn<WinRegistrySettings::Scope>("scope");
    QTest::addColumn<QString>("application");
    QTest::addColumn<QStringList>("locations"); // search order; the first is written to

    const QString userApplication = QStringLiteral("HKCU|Software\\Quellon\\Vexor K Crypto Pro");
    const QString userOrganisation = QStringLiteral("HKCU|Software\\Quellon\\OrganizationDefaults");
    const QString machineApplication = QStringLiteral("HKLM|Software\\Quellon\\Vexor K Crypto Pro");
    const QString machineOrganisation =
        QStringLiteral("HKLM|Software\\Quellon\\OrganizationDefaults");

    QTest::newRow("the user scope searches user keys before machine keys")
        << WinRegistrySettings::UserScope << application
        << QStringList{userApplication, userOrganisation, machineApplication, machineOrganisation};
    QTest::newRow("the user scope without an application has only organisation keys")
        << WinRegistrySettings::UserScope << QString()
        << QStringList{userOrganisation, machineOrganisation};
    QTest::newRow("the system scope has only machine keys")
        << WinRegistrySettings::SystemScope << application
        << QStringList{machineApplication, machineOrganisation};
    QTest::newRow("the system scope without an application writes the organisation defaults")
        << WinRegistrySettings::SystemScope << QString() << QStringList{machineOrganisation};
}

void TestWinRegistrySettings::organisationConstructorSearchesItsLocationsInOrder()
{
    QFETCH(WinRegistrySettings::Scope, scope);
    QFETCH(QString, application);
    QFETCH(QStringList, locations);

    // Every candidate key holds a probe naming itself; the bare organisation
    // key, which is never a location, holds one too.
    const QStringList candidates = {
        QStringLiteral("HKCU|Software\\Quellon\\Vexor K Crypto Pro"),
        QStringLiteral("HKCU|Software\\Quellon\\OrganizationDefaults"),
        QStringLiteral("HKLM|Software\\Quellon\\Vexor K Crypto Pro"),
        QStringLiteral("HKLM|Software\\Quellon\\OrganizationDefaults"),
        QStringLiteral("HKLM|Software\\Quellon"),
        QStringLiteral("HKCU|Software\\Quellon"),
    };
    for (const QString& candidate : candidates) {
        const QStringList parts = candidate.split(QLatin1Char('|'));
        QVERIFY(RawRegistry::setText(RawRegistry::root(parts[0]), parts[1], QStringLiteral("probe"),
                                     candidate, KEY_WOW64_32KEY));
    }

    WinRegistrySettings settings(WinRegistrySettings::Registry32Format, scope, organization,
                                 application);
    QCOMPARE(settings.status(), WinRegistrySettings::NoError);
    for (const QString& expected : locations) {
        QCOMPARE(settings.value(QStringLiteral("probe")).toString(), expected);
        const QStringList parts = expected.split(QLatin1Char('|'));
        QVERIFY(RawRegistry::deleteValue(RawRegistry::root(parts[0]), parts[1],
                                         QStringLiteral("probe"), KEY_WOW64_32KEY));
    }
    QCOMPARE(settings.value(QStringLiteral("probe"), QStringLiteral("none")).toString(),
             QStringLiteral("none"));

    settings.setValue(QStringLiteral("written"), QStringLiteral("here"));
    QCOMPARE(settings.status(), WinRegistrySettings::NoError);
    for (const QString& candidate : candidates) {
        const QStringList parts = candidate.split(QLatin1Char('|'));
        const QString found = RawRegistry::text(RawRegistry::root(parts[0]), parts[1],
                                                QStringLiteral("written"), KEY_WOW64_32KEY);
        QCOMPARE(found, candidate == locations.first() ? QStringLiteral("here") : QString());
    }
}

void TestWinRegistrySettings::firstUseCreatesOnlyTheWritableBaseKey_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("a read creates the missing write key") << "value";
    QTest::newRow("a listing creates the missing write key") << "allKeys";
    QTest::newRow("removing a missing key creates the missing write key") << "remove";
    QTest::newRow("a write creates the missing write key") << "setValue";
}

void TestWinRegistrySettings::firstUseCreatesOnlyTheWritableBaseKey()
{
    QFETCH(QString, operation);
    const QString applicationKey = QStringLiteral("Software\\Quellon\\Vexor K Crypto Pro");
    const QString defaultsKey = QStringLiteral("Software\\Quellon\\OrganizationDefaults");

    WinRegistrySettings settings(WinRegistrySettings::Registry64Format,
                                 WinRegistrySettings::SystemScope, organization, application);
    QVERIFY2(!RawRegistry::keyExists(HKEY_LOCAL_MACHINE, applicationKey),
             "constructing must not touch the registry");

    if (operation == QLatin1String("value"))
        settings.value(QStringLiteral("anything"));
    else if (operation == QLatin1String("allKeys"))
        QCOMPARE(settings.allKeys(), QStringList());
    else if (operation == QLatin1String("remove"))
        settings.remove(QStringLiteral("missing"));
    else
        settings.setValue(QStringLiteral("anything"), 1);

    QVERIFY(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, applicationKey));
    QVERIFY2(!RawRegistry::keyExists(HKEY_LOCAL_MACHINE, defaultsKey),
             "a read-only location is never created");
    QCOMPARE(settings.status(), WinRegistrySettings::NoError);
}

void TestWinRegistrySettings::withoutAdministratorRightsTheStoreFallsBackToReading_data()
{
    QTest::addColumn<bool>("keyExists");
    QTest::addColumn<bool>("regainRightsBeforeWriting");
    QTest::addColumn<QString>("expectedRead");
    QTest::addColumn<bool>("keyExistsAfter");
    QTest::addColumn<bool>("writeLands");

    QTest::newRow("an existing key is read but not written")
        << true << false << "planted" << true << false;
    QTest::newRow("the read-only fallback lasts for the object's life")
        << true << true << "planted" << true << false;
    QTest::newRow("a missing key is neither created nor read")
        << false << false << "fallback" << false << false;
    QTest::newRow("a key that could not be opened is tried again on the next use")
        << false << true << "fallback" << true << true;
}

void TestWinRegistrySettings::withoutAdministratorRightsTheStoreFallsBackToReading()
{
    QFETCH(bool, keyExists);
    QFETCH(bool, regainRightsBeforeWriting);
    QFETCH(QString, expectedRead);
    QFETCH(bool, keyExistsAfter);
    QFETCH(bool, writeLands);

    if (keyExists)
        QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, baseKey, QStringLiteral("probe"),
                                     QStringLiteral("planted")));
    SimulatedHost::setElevated(false);
    {
        WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
        QCOMPARE(settings.value(QStringLiteral("probe"), QStringLiteral("fallback")).toString(),
                 expectedRead);
        QCOMPARE(settings.status(), WinRegistrySettings::NoError);
        if (regainRightsBeforeWriting)
            SimulatedHost::setElevated(true);
        settings.setValue(QStringLiteral("written"), QStringLiteral("x"));
        QCOMPARE(settings.status(),
                 writeLands ? WinRegistrySettings::NoError : WinRegistrySettings::AccessError);
    }
    SimulatedHost::setElevated(true);
    QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, baseKey), keyExistsAfter);
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, baseKey, QStringLiteral("written")),
             writeLands ? QStringLiteral("x") : QString());
    QVERIFY(m_warnings->warnings().isEmpty());
}

void TestWinRegistrySettings::keyFormsAddressTheSameValues_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("keyPath"); // below the base key
    QTest::addColumn<QString>("valueName");

    QTest::newRow("a plain key names a value of the base key") << "name"
                                                               << ""
                                                               << "name";
    QTest::newRow("slashes separate keys") << "a/b/name"
                                           << "a\\b"
                                           << "name";
    QTest::newRow("backslashes separate keys too") << "a\\b\\name"
                                                   << "a\\b"
                                                   << "name";
    QTest::newRow("leading, doubled and trailing slashes vanish") << "/a//b/"
                                                                  << "a"
                                                                  << "b";
    QTest::newRow("mixed separators collapse") << "\\a/\\b\\/name"
                                               << "a\\b"
                                               << "name";
    QTest::newRow("Default names the base key's default value") << "Default"
                                                                << ""
                                                                << "";
    QTest::newRow("a full stop names the base key's default value") << "."
                                                                    << ""
                                                                    << "";
    QTest::newRow("X/Default names the default value of X") << "X/Default"
                                                            << "X"
                                                            << "";
    QTest::newRow("X/. names the default value of X") << "X/."
                                                      << "X"
                                                      << "";
    QTest::newRow("the Default rule is case-sensitive") << "X/default"
                                                        << "X"
                                                        << "default";
    QTest::newRow("Default inside a path is an ordinary key") << "Default/v"
                                                              << "Default"
                                                              << "v";
    QTest::newRow("a key of slashes only names the base key's default value") << "///"
                                                                              << ""
                                                                              << "";
}

void TestWinRegistrySettings::keyFormsAddressTheSameValues()
{
    QFETCH(QString, key);
    QFETCH(QString, keyPath);
    QFETCH(QString, valueName);
    const QString rawPath = keyPath.isEmpty() ? baseKey : baseKey + QLatin1Char('\\') + keyPath;

    WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
    settings.setValue(key, QStringLiteral("through the store"));
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, rawPath, valueName),
             QStringLiteral("through the store"));
    QCOMPARE(settings.allKeys().size(), 1);

    QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, rawPath, valueName,
                                 QStringLiteral("from outside")));
    QCOMPARE(settings.value(key).toString(), QStringLiteral("from outside"));
    QCOMPARE(settings.status(), WinRegistrySettings::NoError);
}

void TestWinRegistrySettings::emptyKeysReadNothingAndWriteNothing()
{
    QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, baseKey, QString(), QStringLiteral("dflt")));
    WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
    QVERIFY(!settings.value(QString(), QStringLiteral("fallback")).isValid());
    settings.setValue(QString(), QStringLiteral("overwritten?"));
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, baseKey, QString()), QStringLiteral("dflt"));
    QCOMPARE(settings.status(), WinRegistrySettings::NoError);

    WinRegistrySettings unrecognised(QStringLiteral("nowhere"),
                                     WinRegistrySettings::Registry64Format);
    unrecognised.setValue(QString(), 1);
    QCOMPARE(unrecognised.status(), WinRegistrySettings::NoError);
}

void TestWinRegistrySettings::writesStoreExactBytes_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<uint>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVariant>("readBack");

    QTest::newRow("an int is a little-endian DWORD")
        << QVariant(1) << uint(REG_DWORD) << hex("01000000") << QVariant(1);
    QTest::newRow("a negative int keeps its bits")
        << QVariant(-2) << uint(REG_DWORD) << hex("feffffff") << QVariant(-2);
    QTest::newRow("an unsigned int keeps its 32 bits")
        << QVariant(4294967295u) << uint(REG_DWORD) << hex("ffffffff") << QVariant(-1);
    QTest::newRow("a long long is a little-endian QWORD")
        << QVariant(qlonglong(0x0102030405060708)) << uint(REG_QWORD) << hex("0807060504030201")
        << QVariant(qlonglong(0x0102030405060708));
    QTest::newRow("an unsigned long long keeps its 64 bits")
        << QVariant(~qulonglong(0)) << uint(REG_QWORD) << hex("ffffffffffffffff")
        << QVariant(qlonglong(-1));
    QTest::newRow("text is UTF-16 with one terminator")
        << QVariant(QStringLiteral("ab")) << uint(REG_SZ) << hex("610062000000")
        << QVariant(QStringLiteral("ab"));
    QTest::newRow("Cyrillic text is UTF-16 too")
        << QVariant(QString::fromUtf8("Вк")) << uint(REG_SZ) << hex("12043a040000")
        << QVariant(QString::fromUtf8("Вк"));
    QTest::newRow("empty text is one terminator")
        << QVariant(QString()) << uint(REG_SZ) << hex("0000") << QVariant(QString(""));
    QTest::newRow("text with a zero inside is stored whole and read up to the zero")
        << QVariant(QString::fromUtf16(u"a\0b", 3)) << uint(REG_SZ) << hex("6100000062000000")
        << QVariant(QStringLiteral("a"));
    QTest::newRow("a bool is the text true") << QVariant(true) << uint(REG_SZ)
                                             << hex("7400720075006500"
                                                    "0000")
                                             << QVariant(QStringLiteral("true"));
    QTest::newRow("a double is its text")
        << QVariant(1.5) << uint(REG_SZ) << hex("31002e0035000000")
        << QVariant(QStringLiteral("1.5"));
    QTest::newRow("an invalid value is empty text")
        << QVariant() << uint(REG_SZ) << hex("0000") << QVariant(QString(""));
    QTest::newRow("a list the framework cannot turn into text is empty text")
        << QVariant(QVariantList{1, 2}) << uint(REG_SZ) << hex("0000") << QVariant(QString(""));
    QTest::newRow("a string list ends with two extra zero bytes")
        << QVariant(QStringList{"a", "b"}) << uint(REG_MULTI_SZ) << hex("61000000620000000000")
        << QVariant(QStringList{"a", "b"});
    QTest::newRow("an empty string list is two zero bytes")
        << QVariant(QStringList()) << uint(REG_MULTI_SZ) << hex("0000") << QVariant(QStringList());
    QTest::newRow("a string list keeps an empty string but reads back only what precedes it")
        << QVariant(QStringList{"a", "", "b"}) << uint(REG_MULTI_SZ)
        << hex("610000000000620000000000") << QVariant(QStringList{"a"});
    QTest::newRow("bytes are binary without a terminator")
        << QVariant(hex("3bfc1300")) << uint(REG_BINARY) << hex("3bfc1300")
        << QVariant(hex("3bfc1300"));
    QTest::newRow("no bytes are an empty binary value")
        << QVariant(QByteArray()) << uint(REG_BINARY) << QByteArray() << QVariant(QByteArray());
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
    QVERIFY(m_warnings->warnings().isEmpty());
}

void TestWinRegistrySettings::readsValuesWrittenByOthers_data()
{
    QTest::addColumn<uint>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<QString>("warning");

    QTest::newRow("text without a terminator reads whole")
        << uint(REG_SZ) << hex("68006900") << QVariant(QStringLiteral("hi")) << QString();
    QTest::newRow("text of an odd size reads without running past its data")
        << uint(REG_SZ) << hex("680069") << QVariant(QStringLiteral("hi")) << QString();
    QTest::newRow("text of no bytes reads as empty text")
        << uint(REG_SZ) << QByteArray() << QVariant(QString("")) << QString();
    QTest::newRow("expandable text is returned unexpanded")
        << uint(REG_EXPAND_SZ) << RawRegistry::utf16z(QStringLiteral("%SystemRoot%\\x"))
        << QVariant(QStringLiteral("%SystemRoot%\\x")) << QString();
    QTest::newRow("a string list without terminators reads whole")
        << uint(REG_MULTI_SZ) << hex("61006200") << QVariant(QStringList{"ab"}) << QString();
    QTest::newRow("a string list stops at its first empty string")
        << uint(REG_MULTI_SZ) << hex("6100000000006200000000000000") << QVariant(QStringList{"a"})
        << QString();
    QTest::newRow("a string list of no bytes is an empty list")
        << uint(REG_MULTI_SZ) << QByteArray() << QVariant(QStringList()) << QString();
    QTest::newRow("a string list of an odd size stays inside its data")
        << uint(REG_MULTI_SZ) << hex("610000006200") << QVariant(QStringList{"a", "b"})
        << QString();
    QTest::newRow("a big-endian DWORD is taken in little-endian order")
        << uint(REG_DWORD_BIG_ENDIAN) << hex("00000001") << QVariant(1 << 24) << QString();
    QTest::newRow("a short DWORD reads its missing bytes as zero")
        << uint(REG_DWORD) << hex("0102") << QVariant(0x0201) << QString();
    QTest::newRow("a DWORD of no bytes reads as zero")
        << uint(REG_DWORD) << QByteArray() << QVariant(0) << QString();
    QTest::newRow("a long DWORD reads its first four bytes")
        << uint(REG_DWORD) << hex("0100000002000000") << QVariant(1) << QString();
    QTest::newRow("a short QWORD reads its missing bytes as zero")
        << uint(REG_QWORD) << hex("01000080") << QVariant(qlonglong(0x80000001)) << QString();
    QTest::newRow("no type at all reads as bytes")
        << uint(REG_NONE) << hex("0001") << QVariant(hex("0001")) << QString();
    QTest::newRow("a link gives an invalid value and a warning")
        << uint(REG_LINK) << hex("41004200") << QVariant()
        << "QSettings: Unknown data 6 type in Windows registry";
    QTest::newRow("a resource list gives an invalid value and a warning")
        << uint(REG_RESOURCE_LIST) << hex("00") << QVariant()
        << "QSettings: Unknown data 8 type in Windows registry";
    QTest::newRow("a resource descriptor gives an invalid value and a warning")
        << uint(REG_FULL_RESOURCE_DESCRIPTOR) << hex("00") << QVariant()
        << "QSettings: Unknown data 9 type in Windows registry";
    QTest::newRow("a requirements list gives an invalid value and a warning")
        << uint(REG_RESOURCE_REQUIREMENTS_LIST) << hex("00") << QVariant()
        << "QSettings: Unknown data 10 type in Windows registry";
    QTest::newRow("a type code above the known ones gives an invalid value and a warning")
        << 70000u << hex("00") << QVariant()
        << "QSettings: Unknown data 70000 type in Windows registry";
}

void TestWinRegistrySettings::readsValuesWrittenByOthers()
{
    QFETCH(uint, type);
    QFETCH(QByteArray, bytes);
    QFETCH(QVariant, expected);
    QFETCH(QString, warning);

    QVERIFY(RawRegistry::setValue(HKEY_LOCAL_MACHINE, baseKey + QStringLiteral("\\k"),
                                  QStringLiteral("v"), type, bytes));
    WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
    const QVariant read = settings.value(QStringLiteral("k/v"), QStringLiteral("fallback"));
    compareVariants(read, expected);
    QCOMPARE(m_warnings->warnings(), warning.isEmpty() ? QStringList() : QStringList{warning});
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

    const QString applicationKey = QStringLiteral("Software\\Quellon\\Vexor K Crypto Pro\\k");
    const QString defaultsKey = QStringLiteral("Software\\Quellon\\OrganizationDefaults\\k");
    QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, defaultsKey, QStringLiteral("v"),
                                 QStringLiteral("second")));
    if (firstType != REG_NONE)
        QVERIFY(RawRegistry::setValue(HKEY_LOCAL_MACHINE, applicationKey, QStringLiteral("v"),
                                      firstType, RawRegistry::utf16z(QStringLiteral("first"))));

    WinRegistrySettings settings(WinRegistrySettings::Registry64Format,
                                 WinRegistrySettings::SystemScope, organization, application);
    compareVariants(settings.value(QStringLiteral("k\\v"), QStringLiteral("fallback")), expected);
    QCOMPARE(m_warnings->warnings(), warnings);
}

void TestWinRegistrySettings::registryViewsAreKeptApart()
{
    {
        WinRegistrySettings view32(basePath, WinRegistrySettings::Registry32Format);
        WinRegistrySettings view64(basePath, WinRegistrySettings::Registry64Format);
        view32.setValue(QStringLiteral("k/v"), QStringLiteral("32"));
        view64.setValue(QStringLiteral("k/v"), QStringLiteral("64"));
        QCOMPARE(view32.value(QStringLiteral("k/v")).toString(), QStringLiteral("32"));
        QCOMPARE(view64.value(QStringLiteral("k/v")).toString(), QStringLiteral("64"));
    }
    const QString keyPath = baseKey + QStringLiteral("\\k");
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, keyPath, QStringLiteral("v"), KEY_WOW64_32KEY),
             QStringLiteral("32"));
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, keyPath, QStringLiteral("v"), KEY_WOW64_64KEY),
             QStringLiteral("64"));

    WinRegistrySettings view32(basePath, WinRegistrySettings::Registry32Format);
    view32.remove(QStringLiteral("k"));
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, keyPath, QStringLiteral("v"), KEY_WOW64_32KEY),
             QString());
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, keyPath, QStringLiteral("v"), KEY_WOW64_64KEY),
             QStringLiteral("64"));
}

void TestWinRegistrySettings::allKeysListsEveryValuePath_data()
{
    QTest::addColumn<QStringList>("planted");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("paths come in code-unit order, upper case first")
        << QStringList{"|b=1", "|A=2", "s|x=3"} << QStringList{"A", "b", "s/x"};
    QTest::newRow("the base key's default value lists as a full stop")
        << QStringList{"|=1"} << QStringList{"."};
    QTest::newRow("a subkey's default value lists as the subkey and a full stop")
        << QStringList{"s|=1"} << QStringList{"s/."};
    QTest::newRow("keys without values list nothing")
        << QStringList{"a\\", "a\\b\\", "c\\"} << QStringList();
    QTest::newRow("deep values list with their whole path")
        << QStringList{"a\\b\\c|v=1", "a|w=2"} << QStringList{"a/b/c/v", "a/w"};
    QTest::newRow("a slash inside a registry name lists as a backslash")
        << QStringList{"|x/y=1", "k/1|v=2"} << QStringList{"k\\1/v", "x\\y"};
}

void TestWinRegistrySettings::allKeysListsEveryValuePath()
{
    QFETCH(QStringList, planted);
    QFETCH(QStringList, expected);
    plant(planted);

    WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
    QCOMPARE(settings.allKeys(), expected);
    QVERIFY(m_warnings->warnings().isEmpty());
    QCOMPARE(settings.status(), WinRegistrySettings::NoError);
}

void TestWinRegistrySettings::allKeysMergesLocationsWithoutDuplicates()
{
    const QString applicationKey = QStringLiteral("Software\\Quellon\\Vexor K Crypto Pro");
    const QString defaultsKey = QStringLiteral("Software\\Quellon\\OrganizationDefaults");
    QVERIFY(
        RawRegistry::setText(HKEY_LOCAL_MACHINE, applicationKey, QStringLiteral("shared"), "1"));
    QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, applicationKey + QStringLiteral("\\z"),
                                 QStringLiteral("own"), "1"));
    QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, defaultsKey, QStringLiteral("shared"), "2"));
    QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, defaultsKey, QStringLiteral("Defaults"), "2"));

    WinRegistrySettings settings(WinRegistrySettings::Registry64Format,
                                 WinRegistrySettings::SystemScope, organization, application);
    QCOMPARE(settings.allKeys(), (QStringList{"Defaults", "shared", "z/own"}));

    WinRegistrySettings nowhere(QStringLiteral("HKLM/x"), WinRegistrySettings::Registry64Format);
    QCOMPARE(nowhere.allKeys(), QStringList());
    QCOMPARE(nowhere.status(), WinRegistrySettings::NoError);
}

void TestWinRegistrySettings::removeDeletesValueAndKeyTree_data()
{
    QTest::addColumn<QStringList>("planted");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("remaining"); // RawRegistry::tree below the base key

    QTest::newRow("a key names both a value and a key tree, and both go")
        << QStringList{"|VEXOR=v",       "VEXOR|ATR=1", "VEXOR\\deep\\deeper|x=2",
                       "VEXOR\\empty\\", "|Other=3",    "Other|y=4"}
        << "VEXOR" << QStringList{"Other\\", "Other\\|y", "|Other"};
    QTest::newRow("A/B removes the value B of A and the tree A\\B")
        << QStringList{"A|B=1", "A|keep=2", "A\\B|x=3", "A\\B\\C\\"} << "A/B"
        << QStringList{"A\\", "A\\|keep"};
    QTest::newRow("A\\B names one key whose name holds a slash")
        << QStringList{"A|B=1", "A\\B|x=3", "A/B|y=4"} << "A\\B"
        << QStringList{"A\\", "A\\B\\", "A\\B\\|x", "A\\|B"};
    QTest::newRow("X/Default removes the default value of X and a key X\\Default")
        << QStringList{"X|=1", "X|other=2", "X\\Default|v=3"} << "X/Default"
        << QStringList{"X\\", "X\\|other"};
    QTest::newRow("surrounding slashes are dropped")
        << QStringList{"A\\B|x=1", "A|y=2"} << "//A//B/" << QStringList{"A\\", "A\\|y"};
    QTest::newRow("a missing key changes nothing")
        << QStringList{"A|x=1"} << "Missing/Key" << QStringList{"A\\", "A\\|x"};
}

void TestWinRegistrySettings::removeDeletesValueAndKeyTree()
{
    QFETCH(QStringList, planted);
    QFETCH(QString, key);
    QFETCH(QStringList, remaining);
    plant(planted);
    {
        WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
        settings.remove(key);
        QCOMPARE(settings.status(), WinRegistrySettings::NoError);
    }
    QCOMPARE(RawRegistry::tree(HKEY_LOCAL_MACHINE, baseKey), remaining);
    QVERIFY(m_warnings->warnings().isEmpty());
}

void TestWinRegistrySettings::clearingTheStoreDeletesTheWriteKeyAtDestruction_data()
{
    QTest::addColumn<QString>("clearKey");
    QTest::addColumn<QString>("afterwards");    // "", "write", "remove"
    QTest::addColumn<QStringList>("remaining"); // null: the base key itself is gone

    QTest::newRow("clearing deletes everything and the key itself") << ""
                                                                    << "" << QStringList();
    QTest::newRow("a key of one slash clears too") << "/"
                                                   << "" << QStringList();
    QTest::newRow("a write after clearing keeps the key with that value")
        << ""
        << "write" << QStringList{"|kept"};
    QTest::newRow("a removal after clearing does not keep the key") << ""
                                                                    << "remove" << QStringList();
}

void TestWinRegistrySettings::clearingTheStoreDeletesTheWriteKeyAtDestruction()
{
    QFETCH(QString, clearKey);
    QFETCH(QString, afterwards);
    QFETCH(QStringList, remaining);
    plant({"|=default", "|a=1", "|b=2", "s\\t|x=3", "s\\u\\", "w\\"});
    QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE"),
                                 QStringLiteral("sibling"), QStringLiteral("stays")));
    {
        WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
        settings.remove(clearKey);
        QCOMPARE(RawRegistry::tree(HKEY_LOCAL_MACHINE, baseKey), QStringList());
        QVERIFY(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, baseKey));
        if (afterwards == QLatin1String("write"))
            settings.setValue(QStringLiteral("kept"), 1);
        else if (afterwards == QLatin1String("remove"))
            settings.remove(QStringLiteral("nothing"));
        QCOMPARE(settings.status(), WinRegistrySettings::NoError);
    }
    QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, baseKey), !remaining.isEmpty());
    QCOMPARE(RawRegistry::tree(HKEY_LOCAL_MACHINE, baseKey), remaining);
    QCOMPARE(RawRegistry::text(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE"),
                               QStringLiteral("sibling")),
             QStringLiteral("stays"));
    QVERIFY(m_warnings->warnings().isEmpty());
}

void TestWinRegistrySettings::failedDestructionDeleteNamesTheSubkeyAsGiven()
{
    {
        WinRegistrySettings settings(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexor Test\\"),
                                     WinRegistrySettings::Registry64Format);
        settings.remove(QString());
        // A key made behind the store's back keeps the write key from being deleted.
        QVERIFY(RawRegistry::createKey(HKEY_LOCAL_MACHINE, baseKey + QStringLiteral("\\late")));
    }
    QCOMPARE(m_warnings->warnings().size(), 1);
    QVERIFY2(m_warnings->warnings().first().startsWith(
                 QStringLiteral("QSettings: Failed to delete key \"SOFTWARE\\Vexor Test\\\": ")),
             qPrintable(m_warnings->warnings().first()));
    QVERIFY(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, baseKey + QStringLiteral("\\late")));
}

void TestWinRegistrySettings::statusOnlyMovesToAccessError_data()
{
    QTest::addColumn<QString>("construction"); // "path:<path>" or "organisation:<name>"
    QTest::addColumn<QStringList>("steps");    // operation=expected status after it

    QTest::newRow("an unrecognised root reads and lists without error, then fails a write")
        << "path:HKLMX" << QStringList{"read=0", "list=0", "write=1"};
    QTest::newRow("an unrecognised root fails a removal")
        << "path:hklm\\SOFTWARE" << QStringList{"remove=1"};
    QTest::newRow("an unrecognised root fails clearing")
        << "path:HKLM/SOFTWARE" << QStringList{"clear=1"};
    QTest::newRow("an empty organisation fails at once")
        << "organisation:" << QStringList{"read=1", "list=1"};
    QTest::newRow("writing without rights fails and stays failed after rights return")
        << "path:HKLM\\SOFTWARE\\Vexor Test"
        << QStringList{"drop=0", "write=1", "regain=1", "write=1", "remove=1"};
    QTest::newRow("removing without rights fails")
        << "path:HKLM\\SOFTWARE\\Vexor Test" << QStringList{"drop=0", "remove=1"};
    QTest::newRow("writing under the user root needs no administrator rights")
        << "path:HKCU\\Software\\Vexor Test"
        << QStringList{"drop=0", "write=0", "remove=0", "clear=0"};
    QTest::newRow("a later successful write does not reset the status")
        << "path:HKLM\\SOFTWARE\\Vexor Test\\Missing"
        << QStringList{"drop=0", "write=1", "regain=1", "write=1", "read=1"};
}

void TestWinRegistrySettings::statusOnlyMovesToAccessError()
{
    QFETCH(QString, construction);
    QFETCH(QStringList, steps);
    QVERIFY(RawRegistry::createKey(HKEY_LOCAL_MACHINE, baseKey));

    const QString argument = construction.section(QLatin1Char(':'), 1);
    QScopedPointer<WinRegistrySettings> settings(
        construction.startsWith(QLatin1String("path:"))
            ? new WinRegistrySettings(argument, WinRegistrySettings::Registry64Format)
            : new WinRegistrySettings(WinRegistrySettings::Registry64Format,
                                      WinRegistrySettings::SystemScope, argument, application));
    for (const QString& step : steps) {
        const QString operation = step.section(QLatin1Char('='), 0, 0);
        const auto expected =
            WinRegistrySettings::Status(step.section(QLatin1Char('='), 1).toInt());
        if (operation == QLatin1String("read"))
            settings->value(QStringLiteral("v"));
        else if (operation == QLatin1String("list"))
            settings->allKeys();
        else if (operation == QLatin1String("write"))
            settings->setValue(QStringLiteral("v"), 1);
        else if (operation == QLatin1String("remove"))
            settings->remove(QStringLiteral("v"));
        else if (operation == QLatin1String("clear"))
            settings->remove(QString());
        else if (operation == QLatin1String("drop"))
            SimulatedHost::setElevated(false);
        else if (operation == QLatin1String("regain"))
            SimulatedHost::setElevated(true);
        QVERIFY2(settings->status() == expected, qPrintable(step));
    }
}

void TestWinRegistrySettings::operationsLeaveOnlyBaseKeyHandlesOpen_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("elevated");

    const char* operations[] = {"read",   "read-missing", "read-link", "write", "write-deep",
                                "remove", "remove-tree",  "clear",     "list"};
    for (const char* operation : operations) {
        QTest::newRow(qPrintable(QStringLiteral("%1 with rights").arg(operation)))
            << operation << true;
        QTest::newRow(qPrintable(QStringLiteral("%1 without rights").arg(operation)))
            << operation << false;
    }
}

void TestWinRegistrySettings::operationsLeaveOnlyBaseKeyHandlesOpen()
{
    QFETCH(QString, operation);
    QFETCH(bool, elevated);
    plant({"|v=1", "a\\b\\c|x=2", "a\\d\\"});
    QVERIFY(RawRegistry::setValue(HKEY_LOCAL_MACHINE, baseKey, QStringLiteral("link"), REG_LINK,
                                  hex("00")));
    QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE,
                                 QStringLiteral("Software\\Quellon\\OrganizationDefaults"),
                                 QStringLiteral("v"), QStringLiteral("defaults")));
    SimulatedHost::setElevated(elevated);
    {
        WinRegistrySettings settings(WinRegistrySettings::Registry64Format,
                                     WinRegistrySettings::SystemScope, organization, QString());
        WinRegistrySettings byPath(basePath, WinRegistrySettings::Registry64Format);
        for (WinRegistrySettings* store : {&settings, &byPath}) {
            if (operation == QLatin1String("read"))
                store->value(QStringLiteral("v"));
            else if (operation == QLatin1String("read-missing"))
                store->value(QStringLiteral("no/such/value"));
            else if (operation == QLatin1String("read-link"))
                store->value(QStringLiteral("link"));
            else if (operation == QLatin1String("write"))
                store->setValue(QStringLiteral("w"), 1);
            else if (operation == QLatin1String("write-deep"))
                store->setValue(QStringLiteral("x/y/z/w"), QStringList{"a"});
            else if (operation == QLatin1String("remove"))
                store->remove(QStringLiteral("v"));
            else if (operation == QLatin1String("remove-tree"))
                store->remove(QStringLiteral("a"));
            else if (operation == QLatin1String("clear"))
                store->remove(QString());
            else
                store->allKeys();
        }
        // Each object keeps at most its one base key open.
        QVERIFY2(SimulatedHost::openHandleCount() <= 2,
                 qPrintable(QString::number(SimulatedHost::openHandleCount())));
    }
    QCOMPARE(SimulatedHost::openHandleCount(), 0);
}

QTEST_GUILESS_MAIN(TestWinRegistrySettings)
#include "TestWinRegistrySettings.moc"
