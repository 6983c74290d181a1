#include <QtTest>

#include "InstallationEngine.h"
#include "InstalledMarker.h"
#include "SimulatedHost.h"
#include "TestHost.h"

// The real program, copied into a temporary program folder of its own (so
// that its install.log lands there) and started on a simulated host where the
// module is installed. A preloaded stand-in answers its message boxes.
namespace {
const QString kQuestion =
    QStringLiteral("box|Установка Quellon Vexor K для Крипто Про!|Quellon "
                   "Vexor K для Крипто Про уже установлено! Удалить?|&Да|&Нет");
}

class ProcessTest : public QObject
{
    Q_OBJECT

private slots:
    void answeringNoLeavesEverythingAsItWas();
    void withoutTheCodecTheInstallerRefusesToStart();

private:
    // Starts the installer with the extra environment entries; its log file
    // holds a stale line first, so that emptying it at start shows.
    void start(QProcess* process, const QStringList& environment);
    QByteArray logBytes() const;

    QTemporaryDir programFolder;
};

void ProcessTest::start(QProcess* process, const QStringList& environment)
{
    const QString program = qEnvironmentVariable("VEXOR_PROGRAM");
    const QString copy = programFolder.filePath(QFileInfo(program).fileName());
    QVERIFY(QFile::exists(copy) || QFile::copy(program, copy));
    QFile log(programFolder.filePath(QStringLiteral("install.log")));
    QVERIFY(log.open(QIODevice::WriteOnly) && log.write("a line of an earlier run\n") > 0);
    log.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VEXOR_HOST_DIR"), SimulatedHost::folder());
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(VEXOR_BOX_ANSWERS));
    // The framework's Russian catalogue follows the system locale.
    env.remove(QStringLiteral("LANGUAGE"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("ru_RU.UTF-8"));
    for (const QString& entry : environment)
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    process->setProcessEnvironment(env);
    process->setReadChannel(QProcess::StandardError);
    process->start(copy, QStringList());
    QVERIFY(process->waitForStarted(30000));
}

QByteArray ProcessTest::logBytes() const
{
    QFile file(programFolder.filePath(QStringLiteral("install.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no install.log>");
}

// Answered in the window's own tests and end to end; here what only the real
// start-up shows: the framework's buttons in Russian, and an emptied log.
void ProcessTest::answeringNoLeavesEverythingAsItWas()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    InstallationEngine(host.facts(), nullptr).install();
    QProcess installer;
    start(&installer, {QStringLiteral("VEXOR_ANSWER=no")});
    QVERIFY(installer.waitForFinished(30000));
    QCOMPARE(installer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(installer.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(installer.readAllStandardError()).split('\n').filter("box|"),
             QStringList{kQuestion});
    QCOMPARE(logBytes(), QByteArray());
    QVERIFY(isInstalled());
}

void ProcessTest::withoutTheCodecTheInstallerRefusesToStart()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    QProcess installer;
    start(&installer, {QStringLiteral("VEXOR_NO_CP1251=1")});
    QVERIFY(installer.waitForFinished(30000));
    QCOMPARE(installer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(installer.exitCode(), 1);
    const QString message = QStringLiteral(
        "The installer cannot start: this build of Qt has no \"Windows-1251\" text codec.");
    QCOMPARE(QString::fromUtf8(installer.readAllStandardError()).split('\n').filter("cannot start"),
             QStringList({message, "box|Quellon Vexor K|" + message + "|OK"}));
    // Nothing was started: the earlier run's log is untouched.
    QCOMPARE(logBytes(), QByteArray("a line of an earlier run\n"));
}

QTEST_GUILESS_MAIN(ProcessTest)
#include "ProcessTest.moc"
