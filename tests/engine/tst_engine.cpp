#include <algorithm>

#include <QtTest>

#include "InstallationEngine.h"
#include "InstalledMarker.h"
#include "RawRegistry.h"
#include "RegistryFault.h"
#include "ScenarioTable.h"
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
//   adds PATH|NAME = TYPE DATA       each value it adds (REG_SZ text or
//                                    REG_BINARY hex), and no other
//   changes nothing                  it neither adds nor removes anything
//   file older|x86|x64|none FILE     the file holds that build, or is missing
//   installed yes|no                 isInstalled(), which writes no value
//   facts FOLDER FOLDER64            what HostFacts finds
//   pending FILE                     queued for deletion at the next restart
//   left ENTRY|nothing               what of Vexor and Quellon stays at the end;
//                                    a host the engine acted on must say it,
//                                    here or by "changes nothing"
// Every action also checks that the log and the added values are those the
// table lists, that an install loses nothing and makes no key without a value,
// that a removal creates nothing and that the CSP folder stays; at the host's
// end nothing that was there before the first action is lost and exactly the
// pending files are queued.
// Blocks ("-- NAME", "use NAME") as ScenarioTable reads them. {module32}, {module64}, {csp},
// {drive}, {sep}, {other} and {properties} stand for the host's paths and separators.
extern const char* const engineScenarios;

namespace {
// The lines of from that are not in what (both sorted).
QStringList minus(const QStringList& from, const QStringList& what)
{
    QStringList lines;
    std::set_difference(from.cbegin(), from.cend(), what.cbegin(), what.cend(),
                        std::back_inserter(lines));
    return lines;
}

// A file's bytes; "older", "x86" and "x64" stand for builds of the module.
QByteArray contents(const QString& path)
{
    const QString payload = ":/VEXOR_K_CryptoProInstaller/Resources/" + path + "/vexor.dll";
    QFile file(QFile::exists(payload) ? payload : path);
    return path == "older"                  ? "an older build left in place"
           : file.open(QIODevice::ReadOnly) ? file.readAll()
                                            : QByteArray("<missing>");
}

} // namespace

class EngineTest : public QObject
{
    Q_OBJECT

    QScopedPointer<TestHost> m_host;
    // The last action's log and changes; the table's lines take theirs off.
    QStringList m_log, m_added, m_removed, m_initial;
    QMap<QString, QStringList> m_noted; // by step word: refuse, left, pending and env

    void unchecked()
    {
        QCOMPARE(std::exchange(m_log, {}), QStringList());
        QCOMPARE(std::exchange(m_added, {}).filter("|"), QStringList());
    }

    // The checks of the host that goes.
    void finish()
    {
        unchecked();
        if (!m_host)
            return;
        const QStringList after = TestHost::software();
        QStringList left = after.filter(QRegularExpression("(?i)vexor|quellon"));
        left.replaceInStrings(QRegularExpression(" = .*"), "");
        // A host the engine worked on says what it leaves: compared with
        // itself, the registry would pass whatever the engine did.
        // "changes nothing" says it too: what was there before.
        if (!m_initial.isEmpty() && !m_noted.contains("left") && !m_noted.contains("changes"))
            QFAIL(qPrintable("the scenario does not say what it leaves: left " +
                             (left.isEmpty() ? QStringList("nothing") : left).join("\nleft ")));
        QStringList expected = m_noted.value("left", left);
        expected.removeAll("nothing"), expected.sort();
        QCOMPARE(left, expected);
        QCOMPARE(minus(m_initial, after), QStringList()); // nothing that was there is lost
        QCOMPARE(TestHost::pendingFileOperations(), m_noted.value("pending"));
        cleanup();
    }

    void act(const QString& what, const QString& ending)
    {
        unchecked();
        const QStringList before = TestHost::software(), refused = m_noted.take("refuse");
        const bool withCsp = QFileInfo::exists(TestHost::cspFolder());
        m_initial = m_initial.isEmpty() ? before : m_initial;
        // Deletions and reads a service's open handle would refuse on Windows.
        if (!refused.isEmpty())
            RegistryFault::armed = {
                {"RegDeleteKeyExW", refused[0], ERROR_ACCESS_DENIED, {}, true},
                {"RegOpenKeyExW", '*' + refused[1], ERROR_ACCESS_DENIED, {}, true}};
        InstallationEngine engine(m_host->facts(), [this](const QString& line, bool isError) {
            m_log << (isError ? "[red] " + line : line);
        });
        const ProcedureOutcome outcome = what == "install" ? engine.install() : engine.uninstall();
        RegistryFault::armed.clear();
        const QStringList after = TestHost::software();
        m_added = minus(after, before), m_removed = minus(before, after);
        QVERIFY2(m_host->release() && (!withCsp || QFileInfo::exists(TestHost::cspFolder())),
                 "the module stays in use or the CSP folder is gone");
        // An install loses nothing and makes no key without a value; a removal creates nothing.
        QCOMPARE(what == "install" ? m_removed : m_added, QStringList());
        for (int i = 0; i < m_added.size(); ++i)
            QVERIFY2(!m_added[i].endsWith('\\') || m_added.value(i + 1).startsWith(m_added[i]),
                     qPrintable("an empty key " + m_added[i]));
        const QStringList ends{"done", "failed", "cancelled"};
        QCOMPARE(ends.value(outcome.failed + outcome.cancelled), ending);
        QCOMPARE(QString(outcome.failed ? "[red] " : "") + outcome.closingLine,
                 m_log.value(m_log.size() - 1));
    }

    void perform(QString step)
    {
        step.replace("{module32}", QDir::toNativeSeparators(TestHost::cspFolder() + "/vexor.dll"))
            .replace("{module64}", QDir::toNativeSeparators(TestHost::cspFolder64() + "/vexor.dll"))
            .replace("{csp}", TestHost::cspFolder())
            .replace("{drive}", TestHost::systemDrive())
            .replace("{sep}", QDir::separator())
            .replace("{other}", QDir::separator() == '/' ? "\\" : "/")
            .replace("{properties}", TestHost::cryptoProProperties().section('\\', 1));
        const QStringList w = ScenarioTable::words(step);
        const QString kind = w.value(0), rest = step.section(' ', 1), path = w.mid(2).join(' ');
        if (kind == "host") {
            finish();
            m_host.reset(new TestHost(w.value(1), !rest.contains("without")));
            QVERIFY2(m_host->isReady(), qPrintable(m_host->error()));
        } else if (kind == "install" || kind == "remove") {
            act(kind, w.value(2));
        } else if (kind == "log" || kind == "red") {
            QCOMPARE(m_log.isEmpty() ? "nothing" : m_log.takeFirst(),
                     kind == "red" ? "[red] " + rest : rest);
        } else if (kind == "adds") {
            // REG_SZ (1) keeps UTF-16 code units and the terminating NUL; REG_BINARY is 3.
            const QString at = rest.section(" = ", 0, 0),
                          data = rest.section(" = ", 1).section(' ', 1);
            const QByteArray text(reinterpret_cast<const char*>(data.utf16()), data.size() * 2 + 2);
            QVERIFY(
                m_added.removeOne(at + (rest.contains(" = REG_SZ ") ? " = 1 " + text.toHex()
                                                                    : " = 3 " + data.toLatin1())));
        } else if (kind == "changes") {
            QCOMPARE(m_added + m_removed, QStringList());
            m_noted["changes"] << rest;
        } else if (kind == "file") {
            QCOMPARE(contents(path), contents(w[1]));
        } else if (kind == "installed") {
            const QStringList values = TestHost::software().filter("|");
            QCOMPARE(isInstalled() ? "yes" : "no", w.value(1));
            QCOMPARE(TestHost::software().filter("|"), values); // reading writes no value
        } else if (kind == "facts") {
            const HostFacts facts = m_host->facts();
            QCOMPARE(QStringList({facts.cspFolder, facts.cspFolder64}), w.mid(1));
        } else if (kind == "plant") {
            QVERIFY(RawRegistry::plant(HKEY_LOCAL_MACHINE, "SOFTWARE", {path},
                                       w.value(1) == "32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY));
        } else if (kind == "put" || kind == "delete" || kind == "hold") {
            QFile file(kind == "put" ? path : rest);
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QVERIFY(kind == "put"
                        ? file.open(QIODevice::WriteOnly) && file.write(contents(w[1])) > 0
                    : kind == "hold" ? m_host->holdInUse(rest)
                                     : file.remove() || QDir(rest).removeRecursively());
        } else if (kind == "drop" || kind == "regain") {
            TestHost::setElevated(kind == "regain");
        } else if (kind == "no" || kind == "env") {
            TestHost::clearProgramW6432();
            m_noted["env"] = QStringList(rest.section('=', 0, 0));
            QVERIFY(kind == "no" ||
                    qputenv(qPrintable(rest.section('=', 0, 0)), rest.section('=', 1).toLatin1()));
        } else if (kind == "refuse" || kind == "pending" || kind == "left") {
            m_noted[kind] << (kind == "refuse" ? w.mid(1) : QStringList(rest));
        } else {
            QVERIFY2(kind == "only", "an unknown step");
        }
    }

private slots:
    void cleanup()
    {
        qunsetenv(qPrintable(m_noted.value("env").value(0)));
        m_host.reset(); // the last host first: it leaves the process on an idle host
        m_log = m_added = m_initial = QStringList();
        m_noted.clear();
    }

    void scenarios_data() { ScenarioTable::addRows(QString::fromUtf8(engineScenarios)); }

    void scenarios()
    {
        QFETCH(QStringList, steps);
        for (const QString& step : steps) {
            if (step.startsWith("host ") && !TestHost::canBe(step.section(' ', 1, 1)))
                QSKIP("A Windows process runs on its own machine's architecture only.");
            if (!TestHost::simulated && step.startsWith("only simulated: "))
                QSKIP(qPrintable(step.section(": ", 1)));
        }
        for (const QString& step : steps + QStringList("the end")) {
            step == "the end" ? finish() : perform(step);
            if (QTest::currentTestFailed())
                return qInfo("The step: %s", qPrintable(step));
        }
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
