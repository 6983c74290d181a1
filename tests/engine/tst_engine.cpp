#include <algorithm>
#include <memory>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include "InstallationEngine.h"
#include "InstalledMarker.h"
#include "RawRegistry.h"
#include "TestHost.h"

// Walks the engine's scenarios, engine-scenarios.txt, built in at configure
// time so that the Windows build needs no file beside it under Wine. Each
// scenario, "== what it pins", is a list of steps, one a line:
//   host ARCH [without Crypto Pro]   a fresh machine; the last one's checks end
//   no ProgramW6432, env NAME=VALUE  the environment entry goes or is set
//   plant VIEW PATH|NAME=TEXT        a REG_SZ value below HKLM\SOFTWARE in the
//                                    32- or 64-bit view ("..." keeps a space)
//   put older|x86|x64 FILE, delete FILE   a file (or folder) set up by hand
//   hold FILE                        the file is in use until the next action
//   drop, regain                     administrator rights
//   refuse NAME ENDING               during the next action the system refuses
//                                    to delete subkey NAME and to show a key
//                                    whose path ends in ENDING
//   install|remove => done|failed|cancelled   the engine runs; "- install"
//                                    and "- remove" run it unchecked. After it:
//   log TEXT, red TEXT               the log, line by line, red lines marked
//   adds PATH|NAME = TYPE DATA       every value it adds (REG_SZ text or hex)
//   changes nothing                  it neither adds nor removes anything
//   files older|x86|x64|none ...     the 32-bit module, then the 64-bit one
//   installed yes|no                 isInstalled(), which writes no value
//   facts FOLDER FOLDER64            what HostFacts finds
//   pending FILE                     queued for deletion at the next restart
//   left ENTRY|nothing               what of Vexor and Quellon stays at the end
// Every action also checks that an install loses nothing and adds no key
// without a value, and that a removal creates nothing; at the host's end
// nothing that was there before the first action is lost, the CSP folder
// stays and exactly the pending files are queued.
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
    if (subkey && !refusedDeletion.isEmpty() &&
        QString::fromUtf16(reinterpret_cast<const char16_t*>(subkey)) == refusedDeletion)
        return ERROR_ACCESS_DENIED;
    return __real_RegDeleteKeyW(key, subkey);
}

LONG __wrap_RegOpenKeyExW(HKEY key, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result)
{
    if (subkey && !refusedReading.isEmpty() &&
        QString::fromUtf16(reinterpret_cast<const char16_t*>(subkey)).endsWith(refusedReading)) {
        *result = nullptr;
        return ERROR_ACCESS_DENIED;
    }
    return __real_RegOpenKeyExW(key, subkey, options, access, result);
}
}
#endif

namespace {
const QString kRed = QStringLiteral("[red] ");
const QByteArray kOlder("an older build left in place");

QStringList words(const QString& line)
{
    static const QRegularExpression word("\"([^\"]*)\"|(\\S+)");
    QStringList result;
    for (auto match = word.globalMatch(line); match.hasNext();) {
        const QRegularExpressionMatch next = match.next();
        result << next.captured(1) + next.captured(2);
    }
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
} // namespace

class EngineTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHost> m_host;
    QStringList m_initial, m_log, m_added, m_removed, m_refused, m_env;
    QStringList m_expectedLog, m_expectedAdds, m_pending, m_left;
    bool m_checking = false, m_checkLeft = false, m_cspDeleted = false;

    QStringList modules() const
    {
        QStringList paths;
        for (const QString& folder : {TestHost::cspFolder(), TestHost::cspFolder64()})
            paths << (folder.isEmpty() ? folder : QDir::toNativeSeparators(folder + "/vexor.dll"));
        return paths;
    }

    // What the last action's log and additions fall short of.
    QString verify()
    {
        if (!std::exchange(m_checking, false))
            return QString();
        m_expectedAdds.sort();
        return differs("it logs", m_expectedLog, m_log) +
               differs("it adds", m_expectedAdds, m_added.filter("|"));
    }

    // The checks of the host that goes; the next one starts clean.
    QString finish()
    {
        QString problems = verify();
        if (m_host) {
            const QStringList after = TestHost::software();
            QStringList left = after.filter(
                QRegularExpression("vexor|quellon", QRegularExpression::CaseInsensitiveOption));
            left.replaceInStrings(QRegularExpression(" = .*"), QString());
            m_left.sort();
            problems += differs("it leaves", m_checkLeft ? m_left : left, left) +
                        differs("it loses", {}, minus(m_initial, after)) +
                        differs("it queues", m_pending, TestHost::pendingFileOperations());
            if (!TestHost::cspFolder().isEmpty() && !m_cspDeleted &&
                !QDir(TestHost::cspFolder()).exists())
                problems += "\n    the CSP folder is gone";
        }
        for (const QString& name : m_env)
            qunsetenv(qPrintable(name));
        m_host.reset(); // the last host first: it leaves the process on an idle host
        m_initial = m_pending = m_left = m_env = QStringList();
        m_checkLeft = m_cspDeleted = false;
        return problems;
    }

    QString act(const QString& what, bool checked, const QString& ending)
    {
        QString problems = verify();
        const QStringList before = TestHost::software();
        if (m_initial.isEmpty())
            m_initial = before;
        refusedDeletion = m_refused.value(0);
        refusedReading = m_refused.value(1);
        m_log.clear();
        InstallationEngine engine(m_host->facts(), [this](const QString& line, bool isError) {
            m_log << (isError ? kRed + line : line);
        });
        const ProcedureOutcome outcome = what == "install" ? engine.install() : engine.uninstall();
        refusedDeletion = refusedReading = QString();
        m_refused.clear();
        if (!m_host->release())
            problems += "\n    the file in use cannot be released";
        const QStringList after = TestHost::software();
        m_added = minus(after, before);
        m_removed = minus(before, after);
        m_expectedLog = m_expectedAdds = QStringList();
        if (!(m_checking = checked))
            return problems;
        const QString closing = (outcome.failed ? kRed : QString()) + outcome.closingLine;
        problems += differs("it ends", {ending},
                            {outcome.cancelled ? "cancelled"
                             : outcome.failed  ? "failed"
                                               : "done"}) +
                    differs("its closing line is", {m_log.value(m_log.size() - 1)}, {closing});
        if (what == "remove")
            return problems + differs("it creates", {}, m_added);
        // Every key it makes holds a value somewhere below.
        for (const QString& key : m_added.filter(QRegularExpression("\\\\$"))) {
            if (m_added.filter("|")
                    .filter(QRegularExpression("^" + QRegularExpression::escape(key)))
                    .isEmpty())
                problems += "\n    it makes the empty key " + key;
        }
        return problems + differs("it loses", {}, m_removed);
    }

    // What is wrong after the step; nothing when it did as the table says.
    QString perform(QString step)
    {
        const QChar sep = QDir::separator();
        step.replace("{module32}", modules().value(0))
            .replace("{module64}", modules().value(1))
            .replace("{csp}", TestHost::cspFolder())
            .replace("{sep}", sep)
            .replace("{other}", sep == '/' ? "\\" : "/")
            .replace("{properties}", TestHost::cryptoProProperties().section('\\', 1));
        const QStringList w = words(step);
        const QString kind = w.value(0), rest = step.section(' ', 1);
        if (kind == "host") {
            const QString problems = finish();
            m_host = std::make_unique<TestHost>(w.value(1), !rest.contains("without"));
            return problems + (m_host->isReady() ? QString() : "\n    " + m_host->error());
        } else if (kind == "install" || kind == "remove" || kind == "-") {
            return act(kind == "-" ? w.value(1) : kind, kind != "-", w.value(2));
        } else if (kind == "log" || kind == "red") {
            m_expectedLog << (kind == "red" ? kRed + rest : rest);
        } else if (kind == "adds") {
            const QString type = rest.section(" = ", 1).section(' ', 0, 0);
            const QString data = rest.section(" = ", 1).section(' ', 1);
            QByteArray bytes = QByteArray::fromHex(data.toLatin1());
            if (type == "REG_SZ") // UTF-16 code units and the terminating NUL
                bytes =
                    QByteArray(reinterpret_cast<const char*>(data.utf16()), data.size() * 2 + 2);
            m_expectedAdds << QStringLiteral("%1 = %2 %3")
                                  .arg(rest.section(" = ", 0, 0))
                                  .arg(type == "REG_SZ" ? REG_SZ : REG_BINARY)
                                  .arg(QLatin1String(bytes.toHex()));
        } else if (kind == "changes") {
            return differs("it adds", {}, m_added) + differs("it removes", {}, m_removed);
        } else if (kind == "files") {
            QString problems;
            for (int i = 1; i < w.size(); ++i) {
                const QString payload =
                    ":/VEXOR_K_CryptoProInstaller/Resources/" + w[i] + "/vexor.dll";
                const QByteArray expected = w[i] == "older"  ? kOlder
                                            : w[i] == "none" ? QByteArray("<missing>")
                                                             : contents(payload);
                if (contents(modules().value(i - 1)) != expected)
                    problems += "\n    the module " + modules().value(i - 1) + " is not " + w[i];
            }
            return problems;
        } else if (kind == "installed") {
            const QStringList values = TestHost::software().filter("|");
            return differs("it is installed", {w.value(1)}, {isInstalled() ? "yes" : "no"}) +
                   differs("reading writes", values, TestHost::software().filter("|"));
        } else if (kind == "facts") {
            const HostFacts facts = m_host->facts();
            return differs("it finds", w.mid(1), {facts.cspFolder, facts.cspFolder64});
        } else if (kind == "plant") {
            QString entry = step.section(' ', 2);
            if (entry.startsWith('"'))
                entry = entry.mid(1).chopped(1);
            if (!RawRegistry::plant(HKEY_LOCAL_MACHINE, "SOFTWARE", {entry},
                                    w.value(1) == "32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY))
                return "\n    it cannot be planted";
        } else if (kind == "put" || kind == "delete") {
            const QString path = kind == "put" ? step.section(' ', 2) : rest;
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QFile file(path);
            m_cspDeleted |= path == TestHost::cspFolder();
            const QByteArray data =
                w[1] == "older"
                    ? kOlder
                    : contents(":/VEXOR_K_CryptoProInstaller/Resources/" + w[1] + "/vexor.dll");
            if (kind == "delete"
                    ? !(QFileInfo(path).isDir() ? QDir(path).removeRecursively() : file.remove())
                    : !(file.open(QIODevice::WriteOnly) && file.write(data) == data.size()))
                return "\n    it cannot be done";
        } else if (kind == "hold") {
            return m_host->holdInUse(rest) ? QString() : "\n    it cannot be held";
        } else if (kind == "drop" || kind == "regain") {
            TestHost::setElevated(kind == "regain");
        } else if (kind == "refuse") {
            m_refused = w.mid(1);
        } else if (kind == "no") {
            TestHost::clearProgramW6432();
        } else if (kind == "env") {
            TestHost::clearProgramW6432();
            m_env << rest.section('=', 0, 0);
            qputenv(qPrintable(m_env.last()), rest.section('=', 1).toLatin1());
        } else if (kind == "pending") {
            m_pending << rest;
        } else if (kind == "left") {
            m_checkLeft = true;
            m_left << (rest == "nothing" ? QStringList() : QStringList(rest));
        } else {
            return "\n    unknown step";
        }
        return QString();
    }

private slots:
    void cleanup()
    {
        TestHost::setElevated(true);
        finish();
    }

    void scenarios_data()
    {
        QTest::addColumn<QStringList>("steps");
        QMap<QString, QStringList> blocks;
        QList<QPair<QString, QStringList>> scenarios;
        const QString table = QString::fromUtf8(engineScenarios);
        for (const QString& part : table.split(QRegularExpression("(^|\n)(?=== |-- )")).mid(1)) {
            QStringList lines = part.split('\n').filter(QRegularExpression("^\\s*[^#\\s]"));
            const QString title = lines.takeFirst();
            if (title.startsWith("-- "))
                blocks[title.mid(3).trimmed()] = lines;
            else
                scenarios << qMakePair(title.mid(3).trimmed(), lines);
        }
        for (const auto& scenario : scenarios)
            QTest::newRow(qPrintable(scenario.first)) << expand(scenario.second, blocks);
    }

    void scenarios()
    {
        QFETCH(QStringList, steps);
        for (const QString& host : steps.filter(QRegularExpression("^host "))) {
            if (!TestHost::canBe(host.section(' ', 1, 1)))
                QSKIP("A Windows process runs on its own machine's architecture only.");
        }
        if (!TestHost::simulated && steps.contains("drop"))
            QSKIP("A Windows process cannot give up its administrator rights and take them back.");
        if (!TestHost::simulated && !steps.filter(QRegularExpression("^refuse ")).isEmpty())
            QSKIP("The linker's stand-ins for registry calls cannot reach a Windows program's.");
        if (!TestHost::simulated && !steps.filter(QRegularExpression("^env [^=]*=$")).isEmpty())
            QSKIP("Windows' C library takes an empty value as a removal of the entry.");
        QStringList problems;
        for (const QString& step : steps) {
            const QString problem = perform(step);
            problems << (problem.isEmpty() ? problem : step + problem);
        }
        problems << finish();
        problems.removeAll(QString());
        // QFAIL, unlike QVERIFY2, does not cut a long message short.
        if (!problems.isEmpty())
            QFAIL(qPrintable(problems.join('\n')));
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
