#include <QtTest>

#include "InstallationEngine.h"
#include "SimulatedHost.h"
#include "TestHost.h"

// The real program, copied into a temporary program folder of its own (so
// that its install.log lands there) and started on a simulated host where the
// module is installed. A preloaded stand-in answers its message boxes. What
// the end-to-end run cannot read: the texts of the boxes, the buttons in
// Russian among them, and the refusal without the codec.
class ProcessTest : public QObject
{
    Q_OBJECT

    QTemporaryDir programFolder;

private slots:
    void startUp_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QByteArray>("log"); // install.log holds a line of an earlier run first
        QTest::newRow("the question in Russian; No ends at once and empties the log")
            << "VEXOR_ANSWER=no" << 0
            << "box|Установка Quellon Vexor K для Крипто Про!|Quellon Vexor K для Крипто Про "
               "уже установлено! Удалить?|&Да|&Нет"
            << QByteArray();
        const QString refusal = QStringLiteral(
            "The installer cannot start: this build of Qt has no \"Windows-1251\" text codec.");
        QTest::newRow("without the codec it refuses to start and leaves the log alone")
            << "VEXOR_NO_CP1251=1" << 1 << refusal + "\nbox|Quellon Vexor K|" + refusal + "|OK"
            << QByteArray("a line of an earlier run\n");
    }

    void startUp()
    {
        QFETCH(QString, setting);
        QFETCH(int, exitCode);
        QFETCH(QString, box);
        QFETCH(QByteArray, log);
        TestHost host(QStringLiteral("x86_64"), true);
        QVERIFY2(host.isReady(), qPrintable(host.error()));
        InstallationEngine(host.facts(), nullptr).install();
        const QString program = qEnvironmentVariable("VEXOR_PROGRAM");
        const QString copy = programFolder.filePath(QFileInfo(program).fileName());
        QVERIFY(QFile::exists(copy) || QFile::copy(program, copy));
        QFile logFile(programFolder.filePath(QStringLiteral("install.log")));
        QVERIFY(logFile.open(QIODevice::WriteOnly) && logFile.write("a line of an earlier run\n"));
        logFile.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VEXOR_HOST_DIR"), SimulatedHost::folder());
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(VEXOR_BOX_ANSWERS));
        // The framework's Russian catalogue follows the system locale.
        env.remove(QStringLiteral("LANGUAGE"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("ru_RU.UTF-8"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("ru_RU.UTF-8"));
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        QProcess installer;
        installer.setProcessEnvironment(env);
        installer.start(copy, QStringList());
        QVERIFY(installer.waitForFinished(30000));
        QCOMPARE(installer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(installer.exitCode(), exitCode);
        const QStringList errors = QString::fromUtf8(installer.readAllStandardError()).split('\n');
        QCOMPARE(errors.filter(QRegularExpression("^(box\\||The installer)")).join('\n'), box);
        QVERIFY(logFile.open(QIODevice::ReadOnly));
        QCOMPARE(logFile.readAll(), log);
    }
};

QTEST_GUILESS_MAIN(ProcessTest)
#include "ProcessTest.moc"
