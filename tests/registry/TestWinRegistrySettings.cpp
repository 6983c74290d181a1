#include <QtTest>

#include "Platform.h"
#include "RawRegistry.h"
#include "RegistryFault.h"
#include "TestHost.h"
#include "WinRegistrySettings.h"

// What the settings store adds above the registry, each test on a fresh
// simulated host; the registry's own ways are the conformance suite's. A table
// row is a check, most comparing what happened, written as the row is, with
// the row; row i of a table works below a key of its own, base\i.
using Store = WinRegistrySettings;
using Strings = QStringList;

namespace {

const QString base = QStringLiteral("SOFTWARE\\Vexor Test"), lm = "HKLM\\" + base;
Strings warned;
QtMessageHandler testLog;

void catchWarning(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    type == QtWarningMsg ? warned.append(text) : testLog(type, context, text);
}

// The test's own names of the roots, never RegistryRoot's, which is under test.
HKEY root(const QString& name)
{
    const HKEY roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
    return roots[Strings{"HKCR", "HKCU", "HKLM", "HKU"}.indexOf(name)];
}

// What is below ROOT\at, sorted: "sub\key\" and "sub\|name", data adding " = type hex".
QString tree(const QString& at = base, const QString& in = "HKLM", bool data = false,
             REGSAM view = KEY_WOW64_64KEY)
{
    return RawRegistry::tree(root(in), at, view, data).join(' ');
}

// "path|name=text" (REG_SZ) or "path\" (a key), below HKLM\at.
bool plant(const Strings& entries, const QString& at = base)
{
    return RawRegistry::plant(HKEY_LOCAL_MACHINE, at, entries);
}

QString shown(const QVariant& value)
{
    QString text;
    QDebug(&text) << value;
    return text;
}

} // namespace

class TestWinRegistrySettings : public QObject
{
    Q_OBJECT
    QScopedPointer<TestHost> m_host;

private slots:
    void initTestCase() { testLog = qInstallMessageHandler(catchWarning); }

    void init()
    {
        m_host.reset(); // the last host first: it leaves the process on an idle host
        m_host.reset(new TestHost(QStringLiteral("x86_64"), false));
        QVERIFY2(m_host->isReady(), qPrintable(m_host->error()));
        RegistryFault::armed.clear();
    }

    void cleanup()
    {
        TestHost::setElevated(true);
        QCOMPARE(TestHost::openHandleCount(), 0);       // every store is gone: the rest leaked
        QCOMPARE(std::exchange(warned, {}), Strings()); // a test takes the warnings it expects
    }

    // A path names a root exactly, in full or short, after at most one
    // backslash. Row i writes the value i; the last four name no root.
    void roots()
    {
        // clang-format off
        const Strings paths{"HKEY_LOCAL_MACHINE", "HKLM", "\\HKLM", "HKEY_CURRENT_USER", "HKCU",
            "HKEY_CLASSES_ROOT", "HKCR", "HKEY_USERS", "HKU", "hklm", "HKLM/", "\\\\HKLM",
            "HKEY_CURRENT_CONFIG"};
        // clang-format on
        for (int i = 0; i < paths.size(); ++i) {
            Store store(paths[i] + '\\' + base, Store::Registry64Format);
            store.setValue(QString::number(i), i);
            QCOMPARE(store.status(), i < 9 ? Store::NoError : Store::AccessError);
        }
        const Strings trees{tree(base, "HKLM"), tree(base, "HKCU"), tree(base, "HKCR"),
                            tree(base, "HKU")};
        QCOMPARE(trees.join(';'), "|0 |1 |2;|3 |4;|5 |6;|7 |8");
    }

    // A row: a key, what the store makes of it (spaces as commas), what it
    // lists. Slashes and backslashes separate; leading, doubled and trailing
    // ones vanish; "Default" and "." name a key's default value.
    void keys()
    {
        // clang-format off
        const Strings rows{"name |name name", "a/b/n a\\,a\\b\\,a\\b\\|n a/b/n",
            "a\\b\\n a\\,a\\b\\,a\\b\\|n a/b/n", "\\a/\\b\\/n a\\,a\\b\\,a\\b\\|n a/b/n",
            "/a//b/ a\\,a\\|b a/b", "Default | .", ". | .", "/// | .", "X/Default X\\,X\\| X/.",
            "X/default X\\,X\\|default X/default", "Default/v Default\\,Default\\|v Default/v"};
        // clang-format on
        for (int i = 0; i < rows.size(); ++i) {
            const QString key = rows[i].section(' ', 0, 0), at = base + '\\' + QString::number(i);
            Store store("HKLM\\" + at, Store::Registry64Format);
            store.setValue(key, key);
            QCOMPARE(key + ' ' + tree(at).replace(' ', ',') + ' ' + store.allKeys().join(',') +
                         (store.value(key) == key ? "" : " unread"),
                     rows[i]);
        }
    }

    // A row: a value written through the store (or none: the bytes are
    // planted), the type and bytes stored, what the store reads. The first of
    // two locations is read, even for an empty or unreadable value.
    void codecs()
    {
        struct Row
        {
            QVariant written;
            QString stored;
            QVariant read;
        };
        const QString nul(QChar(0));
        // clang-format off
        const Row rows[] = {{1, "4 01000000", 1}, {4294967295u, "4 ffffffff", -1},
            {Q_INT64_C(0x0102030405060708), "11 0807060504030201", Q_INT64_C(0x0102030405060708)},
            {~Q_UINT64_C(0), "11 ffffffffffffffff", qlonglong(-1)},
            {QString("aВ"), "1 610012040000", QString("aВ")}, {QString(""), "1 0000", QString("")},
            {"a" + nul + "b", "1 6100000062000000", QString("a")},
            {true, "1 74007200750065000000", QString("true")},
            {Strings{"a", "b"}, "7 61000000620000000000", Strings{"a", "b"}},
            {Strings{}, "7 0000", Strings{}},
            {Strings{"a", "", "b"}, "7 610000000000620000000000", Strings{"a"}},
            {QByteArray::fromHex("3bfc1300"), "3 3bfc1300", QByteArray::fromHex("3bfc1300")},
            {{}, "0 0001", QByteArray::fromHex("0001")}, {{}, "1 68006900", QString("hi")},
            {{}, "1 680069", QString("hi")}, {{}, "1 ", QString("")},
            {{}, "2 250041002500000000", QString("%A%")}, {{}, "7 61006200", Strings{"ab"}},
            {{}, "7 6100000000006200000000000000", Strings{"a"}}, {{}, "7 ", Strings{}},
            {{}, "7 610000006200", Strings{"a", "b"}}, {{}, "5 00000001", 0x01000000},
            {{}, "4 0102", 0x0201}, {{}, "4 0100000002000000", 1},
            {{}, "11 01000080", qlonglong(0x80000001)}, {{}, "70000 00", {}}};
        // clang-format on
        QVERIFY(plant({"OrganizationDefaults\\k|v=second"}));
        Store store(Store::Registry64Format, Store::SystemScope, "Vexor Test", "App");
        for (const Row& row : rows) {
            const Strings stored = row.stored.split(' ');
            if (row.written.isValid())
                store.setValue("k/v", row.written);
            else
                QVERIFY(RawRegistry::setValue(HKEY_LOCAL_MACHINE, base + "\\App\\k", "v",
                                              stored[0].toUInt(),
                                              QByteArray::fromHex(stored[1].toLatin1())));
            QCOMPARE(tree(base + "\\App\\k", "HKLM", true) + " => " + shown(store.value("k/v")),
                     "|v = " + row.stored + " => " + shown(row.read));
        }
        QCOMPARE(std::exchange(warned, {}),
                 Strings{"QSettings: Unknown data 70000 type in Windows registry"});
    }

    // A row: a key, then what goes: the value it names and that key tree.
    void remove()
    {
        // clang-format off
        const Strings rows{"V V\\ V\\deep\\ V\\deep\\|y V\\|x |V", "A/B A\\B\\ A\\B\\C\\ A\\B\\|x A\\|B",
            "//A//B/ A\\B\\ A\\B\\C\\ A\\B\\|x A\\|B", "A\\B A/B\\ A/B\\|y",
            "X/Default X\\Default\\ X\\Default\\|v X\\|", "Missing/Key"};
        // clang-format on
        for (int i = 0; i < rows.size(); ++i) {
            const QString key = rows[i].section(' ', 0, 0), at = base + '\\' + QString::number(i);
            QVERIFY(plant({"|V=1", "V|x=2", "V\\deep|y=3", "A|B=4", "A|keep=5", "A\\B|x=6",
                           "A\\B\\C\\", "A/B|y=7", "X|=8", "X|other=9", "X\\Default|v=10"},
                          at));
            Strings gone = RawRegistry::tree(HKEY_LOCAL_MACHINE, at);
            Store("HKLM\\" + at, Store::Registry64Format).remove(key);
            for (const QString& left : RawRegistry::tree(HKEY_LOCAL_MACHINE, at))
                gone.removeOne(left);
            QCOMPARE((Strings(key) + gone).join(' '), rows[i]);
        }
    }

    // Every value path once, in code-unit order, a default value as ".".
    // Clearing empties the write key, which goes with the store unless written to.
    void listAndClear()
    {
        for (const QString then : {"remove", "write"}) {
            QVERIFY(plant({"|b=1", "|A=2", "|=3", "s|=4", "s\\t|x/y=5", "k/1|v=6", "e\\f\\"}));
            QScopedPointer<Store> store(new Store(lm, Store::Registry64Format));
            QCOMPARE(store->allKeys().join(' '), ". A b k\\1/v s/. s/t/x\\y");
            store->remove(then == "write" ? "" : "/");
            QCOMPARE(tree() + store->allKeys().join(' '), QString());
            then == "write" ? store->setValue("kept", 1) : store->remove("nothing");
            store.reset();
            QCOMPARE(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, base) ? tree() : "gone",
                     then == "write" ? "|kept" : "gone");
        }
    }

    // The status only ever moves from NoError to AccessError. Without rights,
    // an existing write key opens read-only for the store's life and a missing
    // one is not made, but is tried again. Registry32Format is the 32-bit view.
    void status()
    {
        QCOMPARE(Store(Store::Registry64Format, Store::SystemScope, "", "App").status(),
                 Store::AccessError);
        QVERIFY(plant({"|probe=planted"}));
        Store store(lm, Store::Registry64Format),
            missing(lm + "\\Missing", Store::Registry32Format);
        store.setValue("", 1); // an empty key writes and reads nothing
        TestHost::setElevated(false);
        QCOMPARE(store.value("probe").toString() + store.value("").toString(), "planted");
        missing.setValue("v", 1);
        QCOMPARE(QString("%1 %2").arg(store.status()).arg(missing.status()), "0 1");
        TestHost::setElevated(true);
        store.setValue("w", 1);
        missing.setValue("v", 2);
        QCOMPARE(QString("%1 %2").arg(store.status()).arg(missing.status()), "1 1");
        QCOMPARE(tree() + ';' + tree(base, "HKLM", true, KEY_WOW64_32KEY),
                 "|probe;Missing\\ Missing\\|v = 4 02000000");
    }

    // A row: FUNCTION|SUBJECT|OPERATION|warnings (%1 the error's text): that
    // call fails (RegistryFault.h). Only a failed write fails the status.
    void faults()
    {
        // clang-format off
        const Strings rows{"RegSetValueExW|v|write a/b/v|QSettings: failed to set subkey \"a\\b\\v\": %1",
            "RegCreateKeyExW|a\\b\\|write a/b/v|",
            "RegDeleteKeyExW|m|remove K|RegDeleteKey failed on subkey \"m\": %1 "
                "QSettings: RegDeleteKey failed on key \"K\": %1",
            "RegDeleteValueW|b|remove |QSettings: RegDeleteValue failed on subkey \"b\": %1",
            "RegDeleteKeyExW||remove |QSettings: Failed to delete key \"SOFTWARE\\Vexor Test\\4\": %1",
            "RegQueryInfoKeyW|#1|list|RegQueryInfoKey() failed: %1",
            "RegEnumValueW|0|list|RegEnumValue failed: %1", "RegEnumKeyExW|0|list|RegEnumValue failed: %1"};
        // clang-format on
        for (int i = 0; i < rows.size(); ++i) {
            const Strings row = rows[i].split('|');
            const QString at = base + '\\' + QString::number(i), verb = row[2].section(' ', 0, 0);
            QVERIFY(plant({"K\\l|x=1", "K\\m|x=1", "|b=1"}, at));
            {
                Store store("HKLM\\" + at, Store::Registry64Format);
                RegistryFault::armed = {{row[0], row[1], ERROR_ACCESS_DENIED}};
                verb == "write"  ? store.setValue(row[2].section(' ', 1), 1)
                : verb == "list" ? void(store.allKeys())
                                 : store.remove(row[2].section(' ', 1));
                QCOMPARE(store.status(), verb == "write" ? Store::AccessError : Store::NoError);
            }
            QCOMPARE((row.mid(0, 3) + Strings(std::exchange(warned, {}).join(' '))).join('|'),
                     QString(rows[i]).replace("%1", Platform::errorText(ERROR_ACCESS_DENIED)));
        }
    }
};

QTEST_GUILESS_MAIN(TestWinRegistrySettings)
#include "TestWinRegistrySettings.moc"
