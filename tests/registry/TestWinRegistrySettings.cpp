#include <QMetaEnum>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

#include "Platform.h"
#include "RawRegistry.h"
#include "RegistryFault.h"
#include "RegistryRoot.h"
#include "ScenarioTable.h"
#include "TestHost.h"
#include "WinRegistrySettings.h"

// Walks the store's scenarios, store-scenarios.txt, built in at configure time
// so that the Windows build needs no file beside it under Wine. Each scenario,
// "== what it pins", runs on a fresh machine; its steps, one a line:
//   path FORMAT PATH           a store of a path (FORMAT 32 or 64) or of an
//   organisation FORMAT SCOPE ORGANISATION APPLICATION   organisation (SCOPE
//                              user or system), closing the one before
//   STATUS read KEY => VALUE   a store operation, then the status it leaves
//   STATUS write KEY VALUE     (NoError, AccessError); a read shows the value,
//   STATUS remove [KEY]        a list every key from allKeys, in order
//   STATUS list => KEYS
//   close                      the store goes
//   plant ENTRY                "path|name=text" (REG_SZ) or "path\" (a key)
//   raw PATH|NAME TYPE HEX     a value of any type and bytes
//   stored PATH|NAME TYPE HEX  the value holds that type and those bytes
//   tree [PATH] => ENTRIES     what RawRegistry::tree finds, in any order;
//                              "gone": the key is not there
//   fault FUNCTION SUBJECT CODE [STEP]   the next such call runs STEP, then
//                              answers CODE, 0 going ahead (RegistryFault.h)
//   drop, regain               administrator rights
//   warn TEXT                  the next warning the scenario gives, {error}
//                              the fault's error text
// A raw PATH is below HKLM\SOFTWARE\Vexor Test unless it starts with a root's
// name, in the view of the last store's format. A VALUE is a type name and its
// words (QByteArray in hex, numbers also in hex, \0 a zero character in text),
// invalid, default (what a read falls back on) or words of text. "..." makes
// one word.
extern const char* const storeScenarios;

using Store = WinRegistrySettings;

namespace {

const QString baseKey = QStringLiteral("SOFTWARE\\Vexor Test");
const QVariant fallback = QStringLiteral("(the default)");
const QMap<QString, DWORD> types{
    {"REG_NONE", REG_NONE},           {"REG_SZ", REG_SZ},
    {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_BINARY", REG_BINARY},
    {"REG_DWORD", REG_DWORD},         {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
    {"REG_LINK", REG_LINK},           {"REG_MULTI_SZ", REG_MULTI_SZ},
    {"REG_QWORD", REG_QWORD}};
QStringList caughtWarnings;
QtMessageHandler testLogHandler = nullptr;

void catchWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg)
        caughtWarnings.append(text);
    else
        testLogHandler(type, context, text);
}

QVariant parse(QStringList words)
{
    for (QString& word : words)
        word.replace(QLatin1String("\\0"), QString(QChar(0)));
    const QString type = words.isEmpty() ? QString() : words.takeFirst();
    const int id = QMetaType::type(qPrintable(type));
    const QString text = words.join(' ');
    if (type == "invalid" || type == "default")
        return type == "default" ? fallback : QVariant();
    if (id == QMetaType::UnknownType || id == QMetaType::QString)
        return id ? text : (QStringList(type) + words).join(' ');
    if (id == QMetaType::QStringList || id == QMetaType::QVariantList)
        return id == QMetaType::QStringList ? QVariant(words)
                                            : QVariantList(words.begin(), words.end());
    if (id == QMetaType::QByteArray)
        return QByteArray::fromHex(text.toLatin1());
    QVariant value = text.startsWith("0x") ? QVariant(text.toULongLong(nullptr, 16)) : text;
    value.convert(id);
    return value;
}

// The type and the value, as QDebug shows them.
QString shown(const QVariant& value)
{
    QString text;
    QDebug(&text).nospace() << value;
    return text;
}

QString differs(const QString& what, const QString& expected, const QString& actual)
{
    return expected == actual ? QString()
                              : QStringLiteral("\n    %1 %2, not %3").arg(what, actual, expected);
}

QPair<HKEY, QString> rawKey(const QString& path)
{
    if (const HKEY root = RegistryRoot::find(path.section('\\', 0, 0), Qt::CaseSensitive))
        return {root, path.section('\\', 1)};
    return {HKEY_LOCAL_MACHINE, path.isEmpty() ? baseKey : baseKey + '\\' + path};
}

} // namespace

class TestWinRegistrySettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHost> m_host;
    std::unique_ptr<Store> m_store;
    int m_baseKeys = 0;
    LONG m_faultCode = ERROR_SUCCESS;
    REGSAM m_view = KEY_WOW64_64KEY;
    QStringList m_warnings, m_problems;

    // What is wrong after the step; nothing when it did as the table says.
    QString perform(const QString& step)
    {
        const int arrow = step.indexOf(QLatin1String("=>"));
        const QStringList w = ScenarioTable::words(step.left(arrow));
        const QStringList seen =
            arrow < 0 ? QStringList() : ScenarioTable::words(step.mid(arrow + 2));
        const QString kind = w.value(0), rest = step.left(arrow).section(' ', 1).trimmed();
        const QMetaEnum statuses = QMetaEnum::fromType<Store::Status>();
        if (kind == "path" || kind == "organisation") {
            const bool x86 = w.value(1) == "32", user = w.value(2) == "user";
            const auto format = x86 ? Store::Registry32Format : Store::Registry64Format;
            m_view = x86 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
            m_baseKeys = kind == "path" ? 1 : user ? 4 : 2;
            m_store.reset();
            m_store.reset(kind == "path"
                              ? new Store(step.section(' ', 2), format)
                              : new Store(format, user ? Store::UserScope : Store::SystemScope,
                                          w.value(3), w.value(4)));
        } else if (statuses.keyToValue(qPrintable(kind)) >= 0 && m_store) {
            const QString operation = w.value(1), key = w.value(2);
            QString problem;
            if (operation == "read")
                problem =
                    differs("it reads", shown(parse(seen)), shown(m_store->value(key, fallback)));
            else if (operation == "list")
                problem = differs("it lists", seen.join(' '), m_store->allKeys().join(' '));
            else if (operation == "write")
                m_store->setValue(key, parse(w.mid(3)));
            else if (operation == "remove")
                m_store->remove(key);
            else
                return "unknown operation";
            if (TestHost::simulated && TestHost::openHandleCount() > m_baseKeys)
                problem += "\n    it leaves more handles open than its base keys";
            return problem + differs("its status is", kind, statuses.valueToKey(m_store->status()));
        } else if (kind == "plant") {
            const int bar = rest.indexOf('|');
            const auto key = rawKey(bar < 0 ? rest.chopped(1) : rest.left(bar));
            if (!RawRegistry::plant(key.first, key.second, {bar < 0 ? "\\" : rest.mid(bar)},
                                    m_view))
                return "cannot plant it";
        } else if (kind == "raw" || kind == "stored") {
            const auto key = rawKey(w.value(1).section('|', 0, 0));
            const QString name = w.value(1).section('|', 1);
            DWORD type = types.value(w.value(2), w.value(2).toUInt());
            QByteArray bytes = QByteArray::fromHex(w.value(3).toLatin1());
            const QString expected = QString::number(type) + ' ' + bytes.toHex();
            if (kind == "raw"
                    ? !RawRegistry::setValue(key.first, key.second, name, type, bytes, m_view)
                    : !RawRegistry::query(key.first, key.second, name, &type, &bytes, m_view))
                return "it cannot be written or read";
            return differs("it holds", expected, QString::number(type) + ' ' + bytes.toHex());
        } else if (kind == "tree") {
            const auto key = rawKey(rest);
            QStringList expected = seen;
            expected.sort();
            return differs("below it are", expected.join(' '),
                           RawRegistry::keyExists(key.first, key.second, m_view)
                               ? RawRegistry::tree(key.first, key.second, m_view).join(' ')
                               : "gone");
        } else if (kind == "fault") {
            const QString action = step.section(' ', 4);
            const auto run = [this, action] {
                m_problems << (action.isEmpty() ? QString() : perform(action));
            };
            m_faultCode = w.value(3).toInt();
            RegistryFault::armed = {{w.value(1), w.value(2), m_faultCode, run}};
        } else if (kind == "drop" || kind == "regain") {
            TestHost::setElevated(kind == "regain");
        } else if (kind == "close") {
            m_store.reset();
        } else if (kind == "warn") {
            m_warnings << QString(rest).replace("{error}", Platform::errorText(m_faultCode));
        } else {
            return "unknown step";
        }
        return QString();
    }

private slots:
    void initTestCase() { testLogHandler = qInstallMessageHandler(catchWarnings); }

    void init()
    {
        m_host.reset(); // the last test's host first: it leaves the process on an idle host
        // Under Wine, the prefix's own Windows: 32-bit Windows has one view.
        m_host = std::make_unique<TestHost>(
            TestHost::simulated ? QStringLiteral("x86_64") : Platform::cpuArchitecture(), false);
        QVERIFY2(m_host->isReady(), qPrintable(m_host->error()));
        RegistryFault::armed.clear();
        m_warnings = m_problems = caughtWarnings = QStringList();
        m_view = KEY_WOW64_64KEY;
    }

    void cleanup()
    {
        m_store.reset();
        TestHost::setElevated(true);
        // Every store is gone by now: whatever is still open leaked.
        if (TestHost::simulated)
            QCOMPARE(TestHost::openHandleCount(), 0);
    }

    void scenarios_data() { ScenarioTable::addRows(QString::fromUtf8(storeScenarios)); }

    void scenarios()
    {
        QFETCH(QStringList, steps);
        if (!TestHost::simulated && !steps.filter(QRegularExpression("^fault ")).isEmpty())
            QSKIP("The linker's stand-ins for registry calls cannot reach a Windows program's.");
        if (!TestHost::simulated && steps.contains("drop"))
            QSKIP("A Windows process cannot give up its administrator rights and take them back.");
        for (const QString& step : steps) {
            const QString problem = perform(step);
            m_problems << (problem.isEmpty() ? problem : step + problem);
        }
        m_store.reset();
        m_problems << differs("the warnings are", m_warnings.join('\n'), caughtWarnings.join('\n'));
        m_problems.removeAll(QString());
        // QFAIL, unlike QVERIFY2, does not cut a long message short.
        if (!m_problems.isEmpty())
            QFAIL(qPrintable(m_problems.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestWinRegistrySettings)
#include "TestWinRegistrySettings.moc"
