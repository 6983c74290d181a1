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
    void answeringTheStartUpQuestion_data();
    void answeringTheStartUpQuestion();
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

void ProcessTest::answeringTheStartUpQuestion_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("lastLine"); // empty: install.log stays empty
    QTest::newRow("No leaves at once with an emptied log, the module still installed")
        << "no" << QString();
    QTest::newRow("Yes removes the module, every line in the log, before the event loop")
        << "yes" << QStringLiteral("Удаление прошло успешно.");
}

void ProcessTest::answeringTheStartUpQuestion()
{
    QFETCH(QString, answer);
    QFETCH(QString, lastLine);
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    InstallationEngine(host.facts(), nullptr).install();
    QVERIFY(isInstalled());

    QProcess installer;
    start(&installer, {"VEXOR_ANSWER=" + answer});
    QByteArray output;
    if (lastLine.isEmpty()) {
        QVERIFY(installer.waitForFinished(30000));
        QCOMPARE(installer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(installer.exitCode(), 0);
    } else {
        while (!output.contains("event loop") && installer.waitForReadyRead(30000))
            output += installer.readAllStandardError();
        // Killed in its event loop, the installer must already have written every line.
        installer.kill();
        QVERIFY(installer.waitForFinished(30000));
    }
    output += installer.readAllStandardError();
    QCOMPARE(QString::fromUtf8(output).split('\n').filter(QRegularExpression("^box\\|")),
             QStringList{kQuestion});

    const QByteArray log = logBytes();
    QCOMPARE(log.isEmpty(), lastLine.isEmpty());
    // Windows-1251: one byte per Cyrillic letter.
    QVERIFY2(
        lastLine.isEmpty() ||
            log.endsWith(QTextCodec::codecForName("Windows-1251")->fromUnicode(lastLine + '\n')),
        log.right(80).toHex().constData());
    QCOMPARE(isInstalled(), lastLine.isEmpty());
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
