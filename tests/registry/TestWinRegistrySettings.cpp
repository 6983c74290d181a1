#include <QtTest>

#include <optional>

#include "Platform.h"
#include "RawRegistry.h"
#include "RegistryFault.h"
#include "SimulatedHost.h"
#include "TestHost.h"
#include "WinRegistrySettings.h"

// What the settings store adds above the registry, each test on a fresh
// simulated host; the registry's own ways are the conformance suite's. The
// store is seen through RawRegistry, which names its roots by HKEY alone,
// never through RegistryRoot. A row of a table is a check, most comparing
// what happened, written as the row is, with the row; row i of paths, remove
// and faults works below a key of its own, base\i.
using Store = WinRegistrySettings;
using Strings = QStringList;

static const QString base = QStringLiteral("SOFTWARE\\Vexor Test"), lm = "HKLM\\" + base;
static const HKEY machine = HKEY_LOCAL_MACHINE;
static Strings warned;
static QtMessageHandler testLog;

static void catchWarning(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg)
        warned.append(text);
    else
        testLog(type, context, text);
}

class TestWinRegistrySettings : public QObject
{
    Q_OBJECT
    std::optional<TestHost> host; // one at a time: emplace ends the last one first

private slots:
    void initTestCase() { testLog = qInstallMessageHandler(catchWarning); }

    void init() { QVERIFY2(host.emplace("x86_64", false).isReady(), qPrintable(host->error())); }

    // Every store is gone: what is open leaked. A test takes the warnings it expects.
    void cleanup()
    {
        QCOMPARE(std::exchange(warned, {}) << QString::number(SimulatedHost::openHandleCount()),
                 Strings{"0"});
    }

    // A row: a store's path (a root, then base\i), a key, the status after
    // writing it, then where it lands, read in each root of the test's own
    // (sub\key\ and sub\|name), and whether it reads back. A root is named
    // exactly, in full or short, after at most one backslash. Slashes and
    // backslashes separate keys; leading, doubled and trailing ones vanish;
    // "Default" and "." name a key's default value. Registry32Format is the
    // 32-bit view.
    void paths()
    {
        const QList<QPair<QString, HKEY>> roots{
            {"HKLM", HKEY_LOCAL_MACHINE},
            {"HKCU", HKEY_CURRENT_USER},
            {"HKCR", HKEY_CLASSES_ROOT},
            {"HKU", HKEY_USERS},
        };
        const Strings rows{
            "HKEY_LOCAL_MACHINE name 0 HKLM:|name",
            "HKLM a/b/n 0 HKLM:a\\,a\\b\\,a\\b\\|n",
            "\\HKLM a\\b\\n 0 HKLM:a\\,a\\b\\,a\\b\\|n",
            "HKEY_CURRENT_USER \\a/\\b\\/n 0 HKCU:a\\,a\\b\\,a\\b\\|n",
            "HKCU /a//b/ 0 HKCU:a\\,a\\|b",
            "HKEY_CLASSES_ROOT Default 0 HKCR:|",
            "HKCR . 0 HKCR:|",
            "HKEY_USERS /// 0 HKU:|",
            "HKU X/Default 0 HKU:X\\,X\\|",
            "HKLM X/default 0 HKLM:X\\,X\\|default",
            "HKLM Default/v 0 HKLM:Default\\,Default\\|v",
            "hklm v 1 unread",
            "HKLM/ v 1 unread",
            "\\\\HKLM v 1 unread",
            "HKEY_CURRENT_CONFIG v 1 unread",
        };
        for (int i = 0; i < rows.size(); ++i) {
            const QString at = base + '\\' + QString::number(i), key = rows[i].section(' ', 1, 1);
            Store store(rows[i].section(' ', 0, 0) + '\\' + at, Store::Registry32Format);
            store.setValue(key, key);
            QString seen = rows[i].section(' ', 0, 1) + ' ' + QString::number(store.status());
            for (const auto& [name, root] : roots)
                seen += ' ' + name + ':' + RawRegistry::tree(root, at, KEY_WOW64_32KEY).join(',');
            seen.remove(QRegularExpression(" \\w+:(?= |$)")); // the roots that hold nothing
            QCOMPARE(seen + (store.value(key) == key ? "" : " unread"), rows[i]);
        }
    }

    // A row: a value written through the store (or none: the bytes are
    // planted), the type and bytes stored, what the store reads. The first of
    // two locations is read, even for an empty or unreadable value.
    void codecs()
    {
        const std::tuple<QVariant, DWORD, const char*, QVariant> rows[] = {
            {1, 4, "01000000", 1},
            {4294967295u, 4, "ffffffff", -1},
            {Q_INT64_C(0x0102030405060708), 11, "0807060504030201", Q_INT64_C(0x0102030405060708)},
            {QString("aВ"), 1, "610012040000", "aВ"},
            {true, 1, "74007200750065000000", "true"},
            {Strings{"a", "b"}, 7, "61000000620000000000", Strings{"a", "b"}},
            {Strings{"a", "", "b"}, 7, "610000000000620000000000", Strings{"a"}},
            {Strings{}, 7, "0000", Strings{}},
            {QByteArray(2, 1), 3, "0101", QByteArray(2, 1)},
            {{}, 1, "68006900", "hi"},
            {{}, 1, "680069", "hi"},
            {{}, 1, "610000006200", "a"},
            {{}, 1, "", ""},
            {{}, 2, "250041002500000000", "%A%"},
            {{}, 0, "0101", QByteArray(2, 1)},
            {{}, 7, "61006200", Strings{"ab"}},
            {{}, 7, "610000006200", Strings{"a", "b"}},
            {{}, 7, "6100000000006200000000000000", Strings{"a"}},
            {{}, 5, "00000001", 0x01000000},
            {{}, 4, "0102", 0x0201},
            {{}, 4, "0100000002000000", 1},
            {{}, 11, "01000080", qlonglong(0x80000001)},
            {{}, 70000, "00", {}},
        };
        QVERIFY(RawRegistry::plant(machine, base, {"OrganizationDefaults\\k|v=second"}));
        Store store(Store::Registry64Format, Store::SystemScope, "Vexor Test", "App");
        const QString at = base + "\\App\\k";
        for (const auto& [written, type, hex, read] : rows) {
            if (written.isValid())
                store.setValue("k/v", written);
            else
                RawRegistry::setValue(machine, at, "v", type, QByteArray::fromHex(hex));
            const QVariant seen = store.value("k/v");
            QCOMPARE(RawRegistry::tree(machine, at, KEY_WOW64_64KEY, true).join(' ') + ' ' +
                         seen.typeName(),
                     QString("|v = %1 %2 ").arg(type).arg(hex) + read.typeName());
            QCOMPARE(seen, read);
        }
        QCOMPARE(std::exchange(warned, {}),
                 Strings{"QSettings: Unknown data 70000 type in Windows registry"});
    }

    // A row: a key, then what goes: the value it names and that key tree; a
    // backslash stays in a name.
    void remove()
    {
        const Strings rows{
            "V V\\ V\\deep\\ V\\deep\\|y |V",
            "A/B A\\B\\ A\\B\\C\\ A\\|B",
            "A\\B A/B\\ A/B\\|y",
            "X/Default X\\Default\\ X\\Default\\|v X\\|",
            "Missing/Key",
        };
        const Strings planted{
            "|V=1",    "V\\deep|y=2", "A|B=3",     "A|keep=4",       "A\\B\\C\\",
            "A/B|y=5", "X|=6",        "X|other=7", "X\\Default|v=8",
        };
        for (int i = 0; i < rows.size(); ++i) {
            const QString key = rows[i].section(' ', 0, 0), at = base + '\\' + QString::number(i);
            QVERIFY(RawRegistry::plant(machine, at, planted));
            Strings gone = RawRegistry::tree(machine, at);
            Store("HKLM\\" + at, Store::Registry64Format).remove(key);
            for (const QString& left : RawRegistry::tree(machine, at))
                gone.removeOne(left);
            QCOMPARE((Strings(key) + gone).join(' '), rows[i]);
        }
    }

    // Every value path once, in code-unit order, a default value as "."; read
    // without rights, the write key then read-only for the store's life. An
    // empty organisation fails at once. Clearing empties the write key, which
    // goes with the store unless written to.
    void listAndClear()
    {
        QVERIFY(RawRegistry::plant(
            machine, base, {"|b=1", "|A=2", "|=3", "s|=4", "s\\t|x/y=5", "k/1|v=6", "e\\"}));
        SimulatedHost::setElevated(false);
        Store reader(lm, Store::Registry64Format),
            none(Store::Registry64Format, Store::SystemScope, "", "App");
        const QString keys = reader.allKeys().join(' ');
        SimulatedHost::setElevated(true);
        reader.setValue("w", 1);
        QCOMPARE(keys + ' ' + QString::number(reader.status()) + QString::number(none.status()),
                 ". A b k\\1/v s/. s/t/x\\y 11");
        for (const QString then : {"remove", "write"}) {
            QVERIFY(RawRegistry::plant(machine, base, {"|a=1", "s\\t|x=2"}));
            QScopedPointer<Store> store(new Store(lm, Store::Registry64Format));
            store->remove(then == "write" ? "" : "/");
            QCOMPARE(RawRegistry::tree(machine, base) + store->allKeys(), Strings());
            if (then == "write")
                store->setValue("kept", 1);
            else
                store->remove("nothing");
            store.reset();
            QCOMPARE(RawRegistry::tree(machine, base)
                         << QString::number(RawRegistry::keyExists(machine, base)),
                     then == "write" ? Strings({"|kept", "1"}) : Strings({"0"}));
        }
    }

    // A row: FUNCTION|SUBJECT|OPERATION|the status and warnings (%1 the error's
    // text, %2 the write key): that call fails (RegistryFault.h). Only a failed
    // write fails the status, and for good: a good write follows it.
    void faults()
    {
        const Strings rows{
            "RegSetValueExW|v|write a/b/v|1 QSettings: failed to set subkey \"a\\b\\v\": %1",
            "RegDeleteKeyExW|m|remove K|0 RegDeleteKey failed on subkey \"m\": %1 "
            "QSettings: RegDeleteKey failed on key \"K\": %1",
            "RegDeleteValueW|b|remove |0 QSettings: RegDeleteValue failed on subkey \"b\": %1",
            "RegDeleteKeyExW||remove |0 QSettings: Failed to delete key \"%2\": %1",
            "RegQueryInfoKeyW|#1|list|0 RegQueryInfoKey() failed: %1",
            "RegEnumValueW|0|list|0 RegEnumValue failed: %1",
        };
        for (int i = 0; i < rows.size(); ++i) {
            const Strings row = rows[i].split('|');
            const QString at = base + '\\' + QString::number(i), verb = row[2].section(' ', 0, 0);
            QVERIFY(RawRegistry::plant(machine, at, {"K\\l|x=1", "K\\m|x=1", "|b=1"}));
            QScopedPointer<Store> store(new Store("HKLM\\" + at, Store::Registry64Format));
            RegistryFault::armed = {{row[0], row[1], ERROR_ACCESS_DENIED}};
            if (verb == "write")
                store->setValue(row[2].section(' ', 1), 1);
            else if (verb == "list")
                store->allKeys();
            else
                store->remove(row[2].section(' ', 1));
            store->setValue(verb == "write" ? "z" : "", 1); // "" writes nothing
            const QString status = QString::number(store->status());
            store.reset();
            QCOMPARE(
                (row.mid(0, 3) << status + ' ' + std::exchange(warned, {}).join(' ')).join('|'),
                QString(rows[i])
                    .replace("%1", Platform::errorText(ERROR_ACCESS_DENIED))
                    .replace("%2", at));
        }
    }
};

QTEST_GUILESS_MAIN(TestWinRegistrySettings)
#include "TestWinRegistrySettings.moc"
