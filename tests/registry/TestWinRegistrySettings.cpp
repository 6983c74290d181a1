#include <QtTest>

#include <memory>

#include "Platform.h"
#include "RawRegistry.h"
#include "RegistryFaults.h"
#include "TestHost.h"
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
// an organisation; "": basePath; anything else: that path. "@<n>" at the end
// picks the format n instead of the 64-bit view.
std::unique_ptr<WinRegistrySettings> makeStore(QString construction)
{
    const int at = construction.indexOf(QLatin1Char('@'));
    const auto format = WinRegistrySettings::Format(at < 0 ? 1 : construction.mid(at + 1).toInt());
    construction.truncate(at < 0 ? construction.size() : at);
    if (construction.startsWith(QLatin1String("org")))
        return std::make_unique<WinRegistrySettings>(
            format, WinRegistrySettings::SystemScope,
            construction == QLatin1String("org") ? organization : QString(), application);
    return std::make_unique<WinRegistrySettings>(construction.isEmpty() ? basePath : construction,
                                                 format);
}

// Steps: "read <key>" and "list" add what they found to *seen (a missing value
// reads as "fallback", listed keys are joined by commas); "write <key>" writes the int 1;
// "remove <key>" (no key: clear everything); "drop" and "regain" administrator
// rights.
void perform(WinRegistrySettings& store, const QString& step, QStringList* seen)
{
    const QString operation = step.section(QLatin1Char(' '), 0, 0);
    const QString key = step.section(QLatin1Char(' '), 1);
    if (operation == QLatin1String("read"))
        seen->append(store.value(key, QStringLiteral("fallback")).toString());
    else if (operation == QLatin1String("list"))
        seen->append(store.allKeys().join(QLatin1Char(',')));
    else if (operation == QLatin1String("write"))
        store.setValue(key, 1);
    else if (operation == QLatin1String("remove"))
        store.remove(key);
    else
        TestHost::setElevated(operation == QLatin1String("regain"));
}

// A scenario: build a store on planted values (below baseKey in HKLM), arm at
// most one registry fault ("function|subject|code"), run steps ("step=status
// expected after it"), then compare what reads and listings saw, the raw tree
// below baseKey once the store is gone (when given) and the warnings ("%1":
// the fault's error text).
void addScenarioColumns()
{
    QTest::addColumn<QString>("construction");
    QTest::addColumn<QStringList>("planted");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("seen");
    QTest::addColumn<QVariant>("remaining");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<QString>("fault");
}

void scenario(const char* name, const QString& construction, const QStringList& planted,
              const QStringList& steps, const QStringList& seen, const QVariant& remaining,
              const QStringList& warnings = {}, const QString& fault = {})
{
    QTest::newRow(name) << construction << planted << steps << seen << remaining << warnings
                        << fault;
}

void runScenario()
{
    QFETCH(QString, construction);
    QFETCH(QStringList, planted);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, seen);
    QFETCH(QVariant, remaining);
    QFETCH(QStringList, warnings);
    QFETCH(QString, fault);
    if (!TestHost::simulated && !fault.isEmpty())
        QSKIP("The linker's stand-ins for registry calls cannot reach a Windows program's.");
    if (!TestHost::simulated && steps.contains(QStringLiteral("drop=0")))
        QSKIP("A Windows process cannot give up its administrator rights and take them back.");
    QVERIFY(RawRegistry::plant(HKEY_LOCAL_MACHINE, baseKey, planted));
    const QStringList faultParts = fault.split(QLatin1Char('|'));
    RegistryFaults::reset();
    if (!fault.isEmpty())
        RegistryFaults::failOnce(faultParts[0], faultParts[1], faultParts[2].toInt());
    {
        const auto settings = makeStore(construction);
        QStringList found;
        for (const QString& step : steps) {
            perform(*settings, step.section(QLatin1Char('='), 0, 0), &found);
            QVERIFY2(int(settings->status()) == step.section(QLatin1Char('='), 1).toInt(),
                     qPrintable(step));
            // Only base keys' handles outlive an operation.
            QVERIFY2(!TestHost::simulated || TestHost::openHandleCount() <= 2, qPrintable(step));
        }
        QCOMPARE(found, seen);
    }
    TestHost::setElevated(true);
    if (remaining.isValid())
        QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, baseKey)
                     ? RawRegistry::tree(HKEY_LOCAL_MACHINE, baseKey)
                     : QStringList{gone},
                 remaining.toStringList());
    for (QString& warning : warnings)
        warning = warning.arg(Platform::errorText(faultParts.value(2).toInt()));
    QCOMPARE(caughtWarnings, warnings);
}

} // namespace

class TestWinRegistrySettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHost> m_host;

private slots:
    void initTestCase() { testLogHandler = qInstallMessageHandler(catchWarnings); }

    void init()
    {
        m_host.reset(); // the last test's host first: it leaves the process on an idle host
        m_host = std::make_unique<TestHost>(QStringLiteral("x86_64"), false);
        QVERIFY2(m_host->isReady(), qPrintable(m_host->error()));
        RegistryFaults::reset();
        caughtWarnings.clear();
    }

    void cleanup()
    {
        TestHost::setElevated(true);
        // Every store is gone by now: whatever is still open leaked.
        if (TestHost::simulated)
            QCOMPARE(TestHost::openHandleCount(), 0);
    }

    void pathConstructorFindsItsBaseKey_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("found"); // the root whose probe was read, or "fallback"
        const auto row = [](const char* name, const char* path, const char* found,
                            const char* key = "Vexor/probe") {
            QTest::newRow(name) << QString(path) << QString(key) << QString(found);
        };
        row("the long machine root is recognised", "HKEY_LOCAL_MACHINE\\SOFTWARE", "HKLM");
        row("the short machine root is recognised", "HKLM\\SOFTWARE", "HKLM");
        row("a root alone is the root key itself", "HKLM", "HKLM", "SOFTWARE/Vexor/probe");
        row("one leading backslash is dropped", "\\HKLM\\SOFTWARE", "HKLM");
        row("a trailing backslash still opens the key", "HKLM\\SOFTWARE\\", "HKLM");
        row("the long user root is recognised", "HKEY_CURRENT_USER\\SOFTWARE", "HKCU");
        row("the short user root is recognised", "HKCU\\SOFTWARE", "HKCU");
        row("the long classes root is recognised", "HKEY_CLASSES_ROOT\\SOFTWARE", "HKCR");
        row("the short classes root is recognised", "HKCR\\SOFTWARE", "HKCR");
        row("the long users root is recognised", "HKEY_USERS\\SOFTWARE", "HKU");
        row("the short users root is recognised", "HKU\\SOFTWARE", "HKU");
        row("two leading backslashes are not recognised", "\\\\HKLM\\SOFTWARE", "fallback");
        row("a lower-case root is not recognised", "hklm\\SOFTWARE", "fallback");
        row("a forward slash after the root is not recognised", "HKLM/SOFTWARE", "fallback");
        row("letters after the root are not recognised", "HKLMX\\SOFTWARE", "fallback");
        row("an unknown root is not recognised", "HKEY_CURRENT_CONFIG\\SOFTWARE", "fallback");
        row("an empty path is not recognised", "", "fallback");
    }

    void pathConstructorFindsItsBaseKey()
    {
        QFETCH(QString, path);
        QFETCH(QString, key);
        QFETCH(QString, found);
        for (const char* root : {"HKLM", "HKCU", "HKCR", "HKU"})
            QVERIFY(RawRegistry::plant(RawRegistry::root(root), QStringLiteral("SOFTWARE"),
                                       {QStringLiteral("Vexor|probe=") + root}));
        WinRegistrySettings settings(path, WinRegistrySettings::Registry64Format);
        QCOMPARE(settings.value(key, QStringLiteral("fallback")).toString(), found);
        settings.setValue(key, QStringLiteral("written"));
        QCOMPARE(settings.status() == WinRegistrySettings::NoError, found != "fallback");
        QCOMPARE(settings.value(key, QStringLiteral("fallback")).toString(),
                 found == "fallback" ? found : QStringLiteral("written"));
    }

    void organisationConstructorSearchesItsLocationsInOrder_data()
    {
        QTest::addColumn<WinRegistrySettings::Scope>("scope");
        QTest::addColumn<QString>("application");
        QTest::addColumn<QStringList>("locations"); // search order; the first is written to
        const QString keys = QStringLiteral("Software\\Vexor Test\\");
        const QString userApp = "HKCU|" + keys + "App";
        const QString userDefaults = "HKCU|" + keys + "OrganizationDefaults";
        const QString machineApp = "HKLM|" + keys + "App";
        const QString machineDefaults = "HKLM|" + keys + "OrganizationDefaults";
        QTest::newRow("the user scope searches user keys before machine keys")
            << WinRegistrySettings::UserScope << application
            << QStringList{userApp, userDefaults, machineApp, machineDefaults};
        QTest::newRow("the user scope without an application has only organisation keys")
            << WinRegistrySettings::UserScope << QString()
            << QStringList{userDefaults, machineDefaults};
        QTest::newRow("the system scope has only machine keys")
            << WinRegistrySettings::SystemScope << application
            << QStringList{machineApp, machineDefaults};
        QTest::newRow("the system scope without an application writes the organisation defaults")
            << WinRegistrySettings::SystemScope << QString() << QStringList{machineDefaults};
    }

    void organisationConstructorSearchesItsLocationsInOrder()
    {
        QFETCH(WinRegistrySettings::Scope, scope);
        QFETCH(QString, application);
        QFETCH(QStringList, locations);
        // Location i holds the probes p0 to pi, each naming the location, so
        // that pi is first found in location i. Keys that are no location
        // (the bare organisation key among them) hold every probe.
        QStringList candidates;
        for (const char* root : {"HKCU|", "HKLM|"})
            for (const char* below : {"\\App", "\\OrganizationDefaults", ""})
                candidates << QLatin1String(root) + QStringLiteral("Software\\Vexor Test") + below;
        for (const QString& candidate : candidates) {
            const int index = locations.indexOf(candidate);
            const int rank = index < 0 ? locations.size() : index;
            const QStringList parts = candidate.split(QLatin1Char('|'));
            for (int probe = 0; probe <= rank; ++probe)
                QVERIFY(RawRegistry::plant(RawRegistry::root(parts[0]), parts[1],
                                           {QStringLiteral("|p%1=%2").arg(probe).arg(candidate)},
                                           KEY_WOW64_32KEY));
        }
        WinRegistrySettings settings(WinRegistrySettings::Registry32Format, scope, organization,
                                     application);
        QStringList found;
        for (int probe = 0; probe <= locations.size(); ++probe)
            found << settings.value(QStringLiteral("p%1").arg(probe), "none").toString();
        QCOMPARE(found, locations + QStringList{"none"});

        settings.setValue(QStringLiteral("written"), QStringLiteral("here"));
        QCOMPARE(settings.status(), WinRegistrySettings::NoError);
        for (const QString& candidate : candidates)
            QCOMPARE(RawRegistry::tree(RawRegistry::root(candidate.section('|', 0, 0)),
                                       candidate.section('|', 1), KEY_WOW64_32KEY)
                         .contains("|written"),
                     candidate == locations.first());
    }

    void keyFormsAddressTheSameValues_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("keyPath"); // below the base key
        QTest::addColumn<QString>("valueName");
        const auto row = [](const char* name, const char* key, const char* path,
                            const char* value) {
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

    void keyFormsAddressTheSameValues()
    {
        QFETCH(QString, key);
        QFETCH(QString, keyPath);
        QFETCH(QString, valueName);
        const QString rawValue = (keyPath.isEmpty() ? "|" : keyPath + "\\|") + valueName;
        WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
        settings.setValue(key, QStringLiteral("through the store"));
        QVERIFY(RawRegistry::tree(HKEY_LOCAL_MACHINE, baseKey).contains(rawValue));
        QCOMPARE(settings.allKeys().size(), 1);
        QVERIFY(RawRegistry::plant(HKEY_LOCAL_MACHINE, baseKey, {rawValue + "=outside"}));
        QCOMPARE(settings.value(key).toString(), QStringLiteral("outside"));
    }

    void valuesReadAsTheRegistryHoldsThem_data()
    {
        QTest::addColumn<QVariant>("written"); // invalid: the bytes are planted instead
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("grownBytes"); // rewritten between size and data queries
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<QString>("warning");
        const auto write = [](const char* name, const QVariant& value, DWORD type,
                              const char* bytes, const QVariant& readBack) {
            QTest::newRow(name) << value << uint(type) << hex(bytes) << QByteArray() << readBack
                                << QString();
        };
        const auto plant = [](const char* name, DWORD type, const char* bytes,
                              const QVariant& expected, const char* warning = "",
                              const char* grownBytes = "") {
            QTest::newRow(name) << QVariant() << uint(type) << hex(bytes) << hex(grownBytes)
                                << expected << QString(warning);
        };
        write("an int is a little-endian DWORD", 1, REG_DWORD, "01000000", 1);
        write("an unsigned int keeps its 32 bits", 4294967295u, REG_DWORD, "ffffffff", -1);
        write("a long long is a little-endian QWORD", qlonglong(0x0102030405060708), REG_QWORD,
              "0807060504030201", qlonglong(0x0102030405060708));
        write("an unsigned long long keeps its 64 bits", ~qulonglong(0), REG_QWORD,
              "ffffffffffffffff", qlonglong(-1));
        write("text is UTF-16 with one terminator", QString::fromUtf8("aВ"), REG_SZ, "610012040000",
              QString::fromUtf8("aВ"));
        write("empty text is one terminator", QString(), REG_SZ, "0000", QString(""));
        write("text with a zero inside is stored whole and read up to the zero",
              QString::fromUtf16(u"a\0b", 3), REG_SZ, "6100000062000000", QStringLiteral("a"));
        write("a bool is the text true", true, REG_SZ, "74007200750065000000",
              QStringLiteral("true"));
        write("a list the framework cannot turn into text is empty text", QVariantList{1, 2},
              REG_SZ, "0000", QString(""));
        write("a string list ends with two extra zero bytes", QStringList{"a", "b"}, REG_MULTI_SZ,
              "61000000620000000000", QStringList{"a", "b"});
        write("an empty string list is two zero bytes", QStringList(), REG_MULTI_SZ, "0000",
              QStringList());
        write("a string list keeps an empty string but reads back only what precedes it",
              QStringList{"a", "", "b"}, REG_MULTI_SZ, "610000000000620000000000",
              QStringList{"a"});
        write("bytes are binary without a terminator", hex("3bfc1300"), REG_BINARY, "3bfc1300",
              hex("3bfc1300"));

        plant("text without a terminator reads whole", REG_SZ, "68006900", QStringLiteral("hi"));
        plant("text of an odd size stays inside its data", REG_SZ, "680069", QStringLiteral("hi"));
        plant("text of no bytes reads as empty text", REG_SZ, "", QString(""));
        plant("expandable text is returned unexpanded", REG_EXPAND_SZ, "250041002500000000",
              QStringLiteral("%A%"));
        plant("text one unit longer by the time it is read still reads whole", REG_SZ, "6100",
              QStringLiteral("ab"), "", "61006200");
        plant("a string list without terminators reads whole", REG_MULTI_SZ, "61006200",
              QStringList{"ab"});
        plant("a string list stops at its first empty string", REG_MULTI_SZ,
              "6100000000006200000000000000", QStringList{"a"});
        plant("a string list of no bytes is an empty list", REG_MULTI_SZ, "", QStringList());
        plant("a string list of an odd size stays inside its data", REG_MULTI_SZ, "610000006200",
              QStringList{"a", "b"});
        plant("a string list two units longer by the time it is read still reads whole",
              REG_MULTI_SZ, "6100", QStringList{"a", "b"}, "", "610000006200");
        plant("a big-endian DWORD is taken in little-endian order", REG_DWORD_BIG_ENDIAN,
              "00000001", 1 << 24);
        plant("a short DWORD reads its missing bytes as zero", REG_DWORD, "0102", 0x0201);
        plant("a DWORD of no bytes reads as zero", REG_DWORD, "", 0);
        plant("a long DWORD reads its first four bytes", REG_DWORD, "0100000002000000", 1);
        plant("a short QWORD reads its missing bytes as zero", REG_QWORD, "01000080",
              qlonglong(0x80000001));
        plant("no type at all reads as bytes", REG_NONE, "0001", hex("0001"));
        plant("a link is an invalid value, warned about, and ends the search", REG_LINK, "41004200",
              QVariant(), "QSettings: Unknown data 6 type in Windows registry");
        plant("a type code above the known ones is an invalid value, warned about", 70000, "00",
              QVariant(), "QSettings: Unknown data 70000 type in Windows registry");
    }

    // On the organisation store, whose second location always holds the text
    // "second": the first location's value wins, even when unreadable.
    void valuesReadAsTheRegistryHoldsThem()
    {
        QFETCH(QVariant, written);
        QFETCH(uint, type);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, grownBytes);
        QFETCH(QVariant, expected);
        QFETCH(QString, warning);
        if (!TestHost::simulated && !grownBytes.isEmpty())
            QSKIP("The linker's stand-ins for registry calls cannot reach a Windows program's.");
        const QString keyPath = baseKey + QStringLiteral("\\App\\k");
        QVERIFY(
            RawRegistry::plant(HKEY_LOCAL_MACHINE, baseKey, {"OrganizationDefaults\\k|v=second"}));
        const auto settings = makeStore(QStringLiteral("org"));
        if (written.isValid()) {
            settings->setValue(QStringLiteral("k/v"), written);
            DWORD storedType = REG_NONE;
            QByteArray stored;
            QVERIFY(RawRegistry::query(HKEY_LOCAL_MACHINE, keyPath, "v", &storedType, &stored));
            QCOMPARE(uint(storedType), type);
            QCOMPARE(stored.toHex(), bytes.toHex());
        } else {
            QVERIFY(RawRegistry::setValue(HKEY_LOCAL_MACHINE, keyPath, "v", type, bytes));
        }
        RegistryFaults::reset();
        if (!grownBytes.isEmpty())
            RegistryFaults::failOnce("RegQueryValueExW", "call 2", ERROR_SUCCESS, [&] {
                RawRegistry::setValue(HKEY_LOCAL_MACHINE, keyPath, "v", type, grownBytes);
            });
        const QVariant read = settings->value(QStringLiteral("k/v"), QStringLiteral("fallback"));
        QCOMPARE(QMetaType::typeName(read.userType()), QMetaType::typeName(expected.userType()));
        QCOMPARE(read, expected);
        QCOMPARE(caughtWarnings, warning.isEmpty() ? QStringList() : QStringList{warning});
        QCOMPARE(settings->status(), WinRegistrySettings::NoError);
    }

    void statusOnlyMovesToAccessErrorAndOnlyTheWriteKeyIsMade_data()
    {
        addScenarioColumns();
        const QString missing = QStringLiteral("HKLM\\SOFTWARE\\Vexor Test\\Missing");
        scenario("an unrecognised root reads and lists without error, then fails a write", "HKLMX",
                 {}, {"write =0", "read v=0", "list=0", "write v=1"}, {"fallback", ""},
                 QVariant(gone));
        scenario("an unrecognised root fails a removal", "hklm\\SOFTWARE", {}, {"remove v=1"}, {},
                 QVariant(gone));
        scenario("an unrecognised root fails clearing", "HKLM/SOFTWARE", {}, {"remove=1"}, {},
                 QVariant(gone));
        scenario("an empty organisation fails at once", "org-unnamed", {}, {"read v=1", "list=1"},
                 {"fallback", ""}, QVariant(gone));
        scenario("an empty key reads nothing and writes nothing", "", {"|=dflt"},
                 {"read =0", "write =0", "read Default=0"}, {"", "dflt"}, QStringList{"|"});
        scenario("an existing write key is read and listed but not written without rights", "",
                 {"k|probe=planted"}, {"drop=0", "read k/probe=0", "list=0", "write w=1"},
                 {"planted", "k/probe"}, QStringList{"k\\", "k\\|probe"});
        scenario("the read-only fallback lasts for the object's life", "", {"|probe=planted"},
                 {"drop=0", "read probe=0", "regain=0", "write w=1", "remove probe=1"}, {"planted"},
                 QStringList{"|probe"});
        scenario("a missing write key is neither made nor read without rights", missing, {},
                 {"drop=0", "read v=0", "write v=1", "remove v=1"}, {"fallback"}, QVariant(gone));
        scenario("a write key that could not be opened is tried again and then made", missing, {},
                 {"drop=0", "read v=0", "regain=0", "write v=0"}, {"fallback"},
                 QStringList{"Missing\\", "Missing\\|v"});
        scenario("a later successful write does not reset the status", missing, {},
                 {"drop=0", "write v=1", "regain=1", "write v=1", "read v=1"}, {"1"},
                 QStringList{"Missing\\", "Missing\\|v"});
        scenario("writing under the user root needs no administrator rights",
                 "HKCU\\Software\\Vexor Test", {},
                 {"drop=0", "write v=0", "remove v=0", "remove=0"}, {}, QVariant(gone));
        scenario("a read makes the missing write key but no read-only location", "org", {},
                 {"read v=0"}, {"fallback"}, QStringList{"App\\"});
        scenario("a listing makes the missing write key", "org", {}, {"list=0"}, {""},
                 QStringList{"App\\"});
        scenario("removing a missing key makes the missing write key", "org", {}, {"remove v=0"},
                 {}, QStringList{"App\\"});
        scenario("a write makes the missing write key", "org", {}, {"write v=0"}, {},
                 QStringList{"App\\", "App\\|v"});
    }

    void statusOnlyMovesToAccessErrorAndOnlyTheWriteKeyIsMade() { runScenario(); }

    void allKeysListsEveryValuePathOnce_data()
    {
        addScenarioColumns();
        scenario("paths come in code-unit order, upper case first", "", {"|b=1", "|A=2", "s|x=3"},
                 {"list=0"}, {"A,b,s/x"}, QVariant());
        scenario("the base key's default value lists as a full stop", "", {"|=1"}, {"list=0"},
                 {"."}, QVariant());
        scenario("a subkey's default value lists as the subkey and a full stop", "", {"s|=1"},
                 {"list=0"}, {"s/."}, QVariant());
        scenario("keys without values list nothing", "", {"a\\", "a\\b\\", "c\\"}, {"list=0"}, {""},
                 QVariant());
        scenario("deep values list with their whole path", "", {"a\\b\\c|v=1", "a|w=2"}, {"list=0"},
                 {"a/b/c/v,a/w"}, QVariant());
        scenario("a slash inside a registry name lists as a backslash", "", {"|x/y=1", "k/1|v=2"},
                 {"list=0"}, {"k\\1/v,x\\y"}, QVariant());
        scenario("every location is listed and a path found in two comes once", "org",
                 {"App|shared=1", "App\\z|own=1", "OrganizationDefaults|shared=2",
                  "OrganizationDefaults|Defaults=2"},
                 {"list=0"}, {"Defaults,shared,z/own"}, QVariant());
    }

    void allKeysListsEveryValuePathOnce() { runScenario(); }

    void removeDeletesValuesAndKeyTrees_data()
    {
        addScenarioColumns();
        scenario("a key names both a value and a key tree, and both go", "",
                 {"|VEXOR=v", "VEXOR|ATR=1", "VEXOR\\deep\\deeper|x=2", "VEXOR\\empty\\",
                  "|Other=3", "Other|y=4"},
                 {"remove VEXOR=0"}, {}, QStringList{"Other\\", "Other\\|y", "|Other"});
        scenario("A/B removes the value B of A and the tree A\\B", "",
                 {"A|B=1", "A|keep=2", "A\\B|x=3", "A\\B\\C\\"}, {"remove A/B=0"}, {},
                 QStringList{"A\\", "A\\|keep"});
        scenario("A\\B names one key whose name holds a slash", "",
                 {"A|B=1", "A\\B|x=3", "A/B|y=4"}, {"remove A\\B=0"}, {},
                 QStringList{"A\\", "A\\B\\", "A\\B\\|x", "A\\|B"});
        scenario("X/Default removes the default value of X and a key X\\Default", "",
                 {"X|=1", "X|other=2", "X\\Default|v=3"}, {"remove X/Default=0"}, {},
                 QStringList{"X\\", "X\\|other"});
        scenario("surrounding slashes are dropped", "", {"A\\B|x=1", "A|y=2"}, {"remove //A//B/=0"},
                 {}, QStringList{"A\\", "A\\|y"});
        scenario("a missing key changes nothing", "", {"A|x=1"}, {"remove Missing/Key=0"}, {},
                 QStringList{"A\\", "A\\|x"});
        const QStringList full = {"|=default", "|a=1", "s\\t|x=3", "s\\u\\", "w\\"};
        scenario("clearing empties the write key and deletes it with the store", "", full,
                 {"remove=0", "list=0"}, {""}, QVariant(gone));
        scenario("a key of one slash clears too", "", full, {"remove /=0"}, {}, QVariant(gone));
        scenario("a write after clearing keeps the key with that value", "", full,
                 {"remove=0", "write kept=0"}, {}, QStringList{"|kept"});
        scenario("a removal after clearing does not keep the key", "", full,
                 {"remove=0", "remove nothing=0"}, {}, QVariant(gone));
    }

    void removeDeletesValuesAndKeyTrees() { runScenario(); }

    void registryFailuresAreReportedAndContained_data()
    {
        addScenarioColumns();
        scenario("a refused value write warns and fails the status, keeping the keys made", "", {},
                 {"write a/b/v=1"}, {}, QStringList{"a\\", "a\\b\\"},
                 {"QSettings: failed to set subkey \"a\\b\\v\": %1"}, "RegSetValueExW|v|5");
        scenario("a key path that cannot be made for a write fails the status quietly", "", {},
                 {"write a/b/v=1"}, {}, QStringList(), {}, "RegCreateKeyExW|a\\b\\|5");
        scenario("a subkey that cannot be deleted stops its level and its parent", "",
                 {"K\\l|x=1", "K\\m|x=1", "K\\n|x=1", "|K=1"}, {"remove K=0"}, {},
                 QStringList{"K\\", "K\\m\\", "K\\m\\|x", "K\\n\\", "K\\n\\|x"},
                 {"RegDeleteKey failed on subkey \"m\": %1",
                  "QSettings: RegDeleteKey failed on key \"K\": %1"},
                 "RegDeleteKeyW|m|5");
        scenario("a value that cannot be deleted while clearing leaves the others to go", "",
                 {"|a=1", "|b=1", "|c=1"}, {"remove=0", "write z=0"}, {}, QStringList{"|b", "|z"},
                 {"QSettings: RegDeleteValue failed on subkey \"b\": %1"}, "RegDeleteValueW|b|5");
        scenario("a write key that cannot be deleted at the end is named as it was given",
                 "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vexor Test\\", {"|a=1"}, {"remove=0"}, {},
                 QStringList(), {"QSettings: Failed to delete key \"SOFTWARE\\Vexor Test\\\": %1"},
                 "RegDeleteKeyW||5");
        scenario("a key whose information cannot be read lists none of its values", "",
                 {"|a=1", "s|b=1"}, {"list=0"}, {"s/b"}, QVariant(),
                 {"RegQueryInfoKey() failed: %1"}, "RegQueryInfoKeyW|call 1|1009");
        scenario("a value name that cannot be read is skipped", "", {"|a=1", "|b=1"}, {"list=0"},
                 {"b"}, QVariant(), {"RegEnumValue failed: %1"}, "RegEnumValueW|0|1009");
        scenario("a subkey name that cannot be read is skipped with the same warning", "",
                 {"s|a=1", "t|b=1"}, {"list=0"}, {"t/b"}, QVariant(), {"RegEnumValue failed: %1"},
                 "RegEnumKeyExW|0|1009");
        scenario("a value whose data cannot be read is looked for in the next location", "org",
                 {"App|v=first", "OrganizationDefaults|v=second"}, {"read v=0"}, {"second"},
                 QVariant(), {}, "RegQueryValueExW|call 2|5");
    }

    void registryFailuresAreReportedAndContained() { runScenario(); }
};

QTEST_GUILESS_MAIN(TestWinRegistrySettings)
#include "TestWinRegistrySettings.moc"
