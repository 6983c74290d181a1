#include <algorithm>

#include <QtTest>

#include "InstallationEngine.h"
#include "InstalledMarker.h"
#include "RawRegistry.h"
#include "TestHost.h"

// Walks the engine's scenarios, engine-scenarios.txt, built in at configure
// time so that the Windows build needs no file beside it under Wine. Each
// scenario, "== what it pins", is a list of steps, one a line:
//   host ARCH [without Crypto Pro]   a fresh machine; the last one's checks end
//   only simulated: REASON           under Wine the scenario is skipped
//   no ProgramW6432, env NAME=VALUE  the environment entry goes or is set
//   plant VIEW PATH|NAME=TEXT        a REG_SZ value below HKLM\SOFTWARE in the
//                                    32- or 64-bit view ("..." keeps a space)
//   put older|x86|x64 FILE, delete FILE   a file (or folder) set up by hand
//   hold FILE                        the file is in use until the next action
//   drop, regain                     administrator rights
//   refuse NAME ENDING               during the next action the system refuses
//                                    to delete subkey NAME and to show a key
//                                    whose path ends in ENDING
//   install|remove => done|failed|cancelled   the engine runs. After it:
//   log TEXT, red TEXT               its log, line by line, red lines marked
//   adds PATH|NAME = TYPE DATA       each value it adds (REG_SZ text or hex)
//   changes nothing                  it neither adds nor removes anything
//   files older|x86|x64|none ...     the 32-bit module, then the 64-bit one
//   installed yes|no                 isInstalled(), which writes no value
//   facts FOLDER FOLDER64            what HostFacts finds
//   pending FILE                     queued for deletion at the next restart
//   left ENTRY|nothing               what of Vexor and Quellon stays at the end
// Every action also checks that the log and the added values are those the
// table lists, that an install loses nothing and makes no key without a value,
// that a removal creates nothing and that the CSP folder stays; at the host's
// end nothing that was there before the first action is lost and exactly the
// pending files are queued.
// "-- NAME" starts a block; "use NAME [WORDS]" puts its steps in, once per
// word with % replaced by it; "each WORDS" does so with the indented steps
// below it. {module32}, {module64}, {csp}, {sep}, {other} and {properties}
// stand for the host's paths.
extern const char* const engineScenarios;

// The simulated host deletes and shows every key an administrator asks for;
// a key that the system refuses to delete (held open by a service on
// Windows), or to show, is stood in for by link-time wrappers.
namespace {
QString refusedDeletion; // a subkey name
QString refusedReading;  // the end of a key path opened for reading
} // namespace

#ifndef _WIN32
extern "C" {
LONG __real_RegDeleteKeyW(HKEY key, LPCWSTR subkey);
LONG __real_RegOpenKeyExW(HKEY key, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result);

LONG __wrap_RegDeleteKeyW(HKEY key, LPCWSTR subkey)
{
    const auto name = reinterpret_cast<const char16_t*>(subkey);
    if (name && !refusedDeletion.isEmpty() && QString::fromUtf16(name) == refusedDeletion)
        return ERROR_ACCESS_DENIED;
    return __real_RegDeleteKeyW(key, subkey);
}

LONG __wrap_RegOpenKeyExW(HKEY key, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result)
{
    const auto name = reinterpret_cast<const char16_t*>(subkey);
    if (name && !refusedReading.isEmpty() && QString::fromUtf16(name).endsWith(refusedReading))
        return *result = nullptr, ERROR_ACCESS_DENIED;
    return __real_RegOpenKeyExW(key, subkey, options, access, result);
}
}
#endif

namespace {
const QString kRed = QStringLiteral("[red] ");

QStringList words(const QString& line)
{
    QStringList result;
    for (auto match = QRegularExpression("\"[^\"]*\"|\\S+").globalMatch(line); match.hasNext();)
        result << match.next().captured().remove('"');
    return result;
}

// The steps with every "use" and "each" spelled out.
QStringList expand(const QStringList& lines, const QMap<QString, QStringList>& blocks)
{
    QStringList steps;
    for (int i = 0; i < lines.size(); ++i) {
        QStringList w = words(lines[i]), body;
        if (w.value(0) == "use")
            body = blocks.value(w.value(1), {"unknown block " + w.value(1)}), w.removeFirst();
        while (w.value(0) == "each" && i + 1 < lines.size() && lines[i + 1].startsWith(' '))
            body << lines[++i].trimmed();
        if (body.isEmpty())
            steps << lines[i].trimmed();
        for (const QString& item : w.size() > 1 ? w.mid(1) : QStringList(QString()))
            steps << expand(w.size() > 1 ? QStringList(body).replaceInStrings("%", item) : body,
                            blocks);
    }
    return steps;
}

// The lines of from that are not in what (both sorted).
QStringList minus(const QStringList& from, const QStringList& what)
{
    QStringList lines;
    std::set_difference(from.cbegin(), from.cend(), what.cbegin(), what.cend(),
                        std::back_inserter(lines));
    return lines;
}

QString differs(const QString& what, const QStringList& expected, const QStringList& actual)
{
    const QString indent = QStringLiteral("\n        ");
    return expected == actual ? QString()
                              : QStringLiteral("\n    %1:%2%3\n      not:%2%4")
                                    .arg(what, indent, actual.join(indent), expected.join(indent));
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A module build by its word: older, none or the payload's folder.
QByteArray build(const QString& name)
{
    return name == "older"
               ? QByteArray("an older build left in place")
               : contents(":/VEXOR_K_CryptoProInstaller/Resources/" + name + "/vexor.dll");
}

QString module(const QString& folder)
{
    return folder.isEmpty() ? folder : QDir::toNativeSeparators(folder + "/vexor.dll");
}
} // namespace

class EngineTest : public QObject
{
    Q_OBJECT

    QScopedPointer<TestHost> m_host;
    // The last action's log and changes; the table's lines take theirs off.
    QStringList m_log, m_added, m_removed, m_initial, m_refused;
    QMap<QString, QStringList> m_expected; // left and pending, checked at the host's end
    QString m_env;

    QString unchecked()
    {
        const QString problems =
            differs("it also logs", {}, m_log) + differs("it also adds", {}, m_added.filter("|"));
        m_log = m_added = QStringList();
        return problems;
    }

    // The checks of the host that goes; the next one starts clean.
    QString finish()
    {
        QString problems = unchecked();
        if (m_host) {
            const QStringList after = TestHost::software();
            QStringList left = after.filter(
                QRegularExpression("vexor|quellon", QRegularExpression::CaseInsensitiveOption));
            left.replaceInStrings(QRegularExpression(" = .*"), QString()).sort();
            QStringList expected = m_expected.value("left", left);
            expected.sort();
            problems += differs("it leaves", expected, left) +
                        differs("it loses", {}, minus(m_initial, after)) +
                        differs("it queues", m_expected.value("pending"),
                                TestHost::pendingFileOperations());
        }
        qunsetenv(qPrintable(m_env));
        m_host.reset(); // the last host first: it leaves the process on an idle host
        m_initial.clear(), m_expected.clear(), m_env.clear();
        return problems;
    }

    QString act(const QString& what, const QString& ending)
    {
        QString problems = unchecked();
        const QStringList before = TestHost::software();
        const bool withCsp = QFileInfo::exists(TestHost::cspFolder());
        m_initial = m_initial.isEmpty() ? before : m_initial;
        refusedDeletion = m_refused.value(0), refusedReading = m_refused.value(1);
        InstallationEngine engine(m_host->facts(), [this](const QString& line, bool isError) {
            m_log << (isError ? kRed + line : line);
        });
        const ProcedureOutcome outcome = what == "install" ? engine.install() : engine.uninstall();
        refusedDeletion = refusedReading = QString();
        const QStringList after = TestHost::software();
        m_added = minus(after, before), m_removed = minus(before, after), m_refused.clear();
        if (!m_host->release() || (withCsp && !QFileInfo::exists(TestHost::cspFolder())))
            problems += "\n    the file in use stays held or the CSP folder is gone";
        for (int i = 0; i < m_added.size(); ++i) {
            if (m_added[i].endsWith('\\') && !m_added.value(i + 1).startsWith(m_added[i]))
                problems += "\n    it makes the empty key " + m_added[i];
        }
        const QString end =
            QStringList{"done", "failed", "cancelled"}.value(outcome.failed + outcome.cancelled);
        return problems +
               (what == "install" ? differs("it loses", {}, m_removed)
                                  : differs("it creates", {}, m_added)) +
               differs("it ends", {ending}, {end}) +
               differs("its closing line is", {m_log.value(m_log.size() - 1)},
                       {(outcome.failed ? kRed : QString()) + outcome.closingLine});
    }

    // What is wrong after the step; nothing when it did as the table says.
    QString perform(QString step)
    {
        const QChar sep = QDir::separator();
        step.replace("{module32}", module(TestHost::cspFolder()))
            .replace("{module64}", module(TestHost::cspFolder64()))
            .replace("{csp}", TestHost::cspFolder())
            .replace("{sep}", sep)
            .replace("{other}", sep == '/' ? "\\" : "/")
            .replace("{properties}", TestHost::cryptoProProperties().section('\\', 1));
        const QStringList w = words(step);
        const QString kind = w.value(0), rest = step.section(' ', 1), path = w.mid(2).join(' ');
        bool done = true;
        if (kind == "host") {
            const QString problems = finish();
            m_host.reset(new TestHost(w.value(1), !rest.contains("without")));
            return problems + (m_host->isReady() ? QString() : "\n    " + m_host->error());
        } else if (kind == "install" || kind == "remove") {
            return act(kind, w.value(2));
        } else if (kind == "log" || kind == "red") {
            const QString line = m_log.isEmpty() ? "nothing" : m_log.takeFirst();
            return differs("it logs", {kind == "red" ? kRed + rest : rest}, {line});
        } else if (kind == "adds") {
            // REG_SZ (1) keeps UTF-16 code units and the terminating NUL; REG_BINARY is 3.
            const QString data = rest.section(" = ", 1).section(' ', 1);
            const bool text = rest.contains(" = REG_SZ ");
            const QByteArray bytes =
                text ? QByteArray(reinterpret_cast<const char*>(data.utf16()), data.size() * 2 + 2)
                     : QByteArray::fromHex(data.toLatin1());
            done = m_added.removeOne(rest.section(" = ", 0, 0) + (text ? " = 1 " : " = 3 ") +
                                     bytes.toHex());
        } else if (kind == "changes") {
            return differs("it adds", {}, m_added) + differs("it removes", {}, m_removed);
        } else if (kind == "files") {
            QStringList found;
            for (int i = 1; i < w.size(); ++i) {
                const QString folder = i == 1 ? TestHost::cspFolder() : TestHost::cspFolder64();
                found << (contents(module(folder)) == build(w[i]) ? w[i] : "something else");
            }
            return differs("the modules are", w.mid(1), found);
        } else if (kind == "installed") {
            const QStringList values = TestHost::software().filter("|");
            return differs("it is installed", {w.value(1)}, {isInstalled() ? "yes" : "no"}) +
                   differs("reading writes", values, TestHost::software().filter("|"));
        } else if (kind == "facts") {
            const HostFacts facts = m_host->facts();
            return differs("it finds", w.mid(1), {facts.cspFolder, facts.cspFolder64});
        } else if (kind == "plant") {
            done = RawRegistry::plant(HKEY_LOCAL_MACHINE, "SOFTWARE", {path},
                                      w.value(1) == "32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
        } else if (kind == "put" || kind == "delete" || kind == "hold") {
            QFile file(kind == "put" ? path : rest);
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            done = kind == "put"    ? file.open(QIODevice::WriteOnly) && file.write(build(w[1])) > 0
                   : kind == "hold" ? m_host->holdInUse(rest)
                                    : file.remove() || QDir(rest).removeRecursively();
        } else if (kind == "drop" || kind == "regain") {
            TestHost::setElevated(kind == "regain");
        } else if (kind == "refuse") {
            m_refused = w.mid(1);
        } else if (kind == "no" || kind == "env") {
            TestHost::clearProgramW6432();
            m_env = kind == "env" ? rest.section('=', 0, 0) : QString();
            done = kind == "no" || qputenv(qPrintable(m_env), rest.section('=', 1).toLatin1());
        } else if (kind == "pending" || kind == "left") {
            m_expected[kind] << (rest == "nothing" ? QStringList() : QStringList(rest));
        } else if (kind != "only") {
            return "\n    unknown step";
        }
        return done ? QString() : "\n    not so";
    }

private slots:
    void scenarios_data()
    {
        QTest::addColumn<QStringList>("steps");
        QMap<QString, QStringList> blocks;
        const QString table = QString::fromUtf8(engineScenarios);
        for (const QString& part : table.split(QRegularExpression("(^|\n)(?=== |-- )")).mid(1)) {
            QStringList lines = part.split('\n').filter(QRegularExpression("^\\s*[^#\\s]"));
            const QString title = lines.takeFirst().mid(3).trimmed();
            if (part.startsWith("-- "))
                blocks[title] = lines;
            else
                QTest::newRow(qPrintable(title)) << expand(lines, blocks);
        }
    }

    void scenarios()
    {
        QFETCH(QStringList, steps);
        for (const QString& step : steps) {
            if (step.startsWith("host ") && !TestHost::canBe(step.section(' ', 1, 1)))
                QSKIP("A Windows process runs on its own machine's architecture only.");
            if (!TestHost::simulated && step.startsWith("only simulated: "))
                QSKIP(qPrintable(step.section(": ", 1)));
        }
        QString problems;
        for (const QString& step : steps) {
            const QString problem = perform(step);
            problems += problem.isEmpty() ? problem : '\n' + step + problem;
        }
        problems += finish();
        // QFAIL, unlike QVERIFY2, does not cut a long message short.
        if (!problems.isEmpty())
            QFAIL(qPrintable(problems));
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
