#include <QtTest>

// install.log across real process starts: the probe program (which starts the
// window as the installer does) and the installer itself, each copied into a
// temporary program folder of its own so that its log lands there.
class LogFileProcessTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void secondStartEmptiesTheLog();
    void killRightAfterLoggingKeepsEveryLine_data();
    void killRightAfterLoggingKeepsEveryLine();
    void installerEmptiesStaleLogAtStart();

private:
    QString copyIntoProgramFolder(const QString& executable);
    QProcessEnvironment childEnvironment() const;
    QByteArray logBytes() const;

    QScopedPointer<QTemporaryDir> programFolder;
    QScopedPointer<QTemporaryDir> hostFolder;
};

void LogFileProcessTest::init()
{
    programFolder.reset(new QTemporaryDir);
    hostFolder.reset(new QTemporaryDir);
    QVERIFY(programFolder->isValid());
    QVERIFY(hostFolder->isValid());
}

void LogFileProcessTest::cleanup()
{
    programFolder.reset();
    hostFolder.reset();
}

QString LogFileProcessTest::copyIntoProgramFolder(const QString& executable)
{
    const QString copy = programFolder->filePath(QFileInfo(executable).fileName());
    if (!QFile::copy(executable, copy))
        return QString();
    return copy;
}

QProcessEnvironment LogFileProcessTest::childEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("VEXOR_HOST_DIR"), hostFolder->path());
    return environment;
}

QByteArray LogFileProcessTest::logBytes() const
{
    QFile file(programFolder->filePath(QStringLiteral("install.log")));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<install.log could not be read>");
    return file.readAll();
}

void LogFileProcessTest::secondStartEmptiesTheLog()
{
    const QString probe = copyIntoProgramFolder(QStringLiteral(VEXOR_APP_PROBE));
    QVERIFY(!probe.isEmpty());

    QProcess first;
    first.setProcessEnvironment(childEnvironment());
    first.start(probe, {QStringLiteral("log-then-exit"), QStringLiteral("first run")});
    QVERIFY(first.waitForFinished(30000));
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(logBytes(), QByteArray("first run\n"));

    QProcess second;
    second.setProcessEnvironment(childEnvironment());
    second.start(probe, {QStringLiteral("log-then-exit"), QStringLiteral("second run")});
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(logBytes(), QByteArray("second run\n"));
}

void LogFileProcessTest::killRightAfterLoggingKeepsEveryLine_data()
{
    QTest::addColumn<int>("lineCount");
    QTest::newRow("one line survives a kill") << 1;
    QTest::newRow("five hundred lines survive a kill") << 500;
}

void LogFileProcessTest::killRightAfterLoggingKeepsEveryLine()
{
    QFETCH(int, lineCount);
    const QString probe = copyIntoProgramFolder(QStringLiteral(VEXOR_APP_PROBE));
    QVERIFY(!probe.isEmpty());

    QStringList arguments{QStringLiteral("log-then-wait")};
    QByteArray expected;
    for (int i = 1; i <= lineCount; ++i) {
        arguments << QStringLiteral("step %1").arg(i);
        expected += "step " + QByteArray::number(i) + '\n';
    }

    QProcess process;
    process.setProcessEnvironment(childEnvironment());
    process.start(probe, arguments);
    QVERIFY(process.waitForStarted(30000));
    QByteArray output;
    while (!output.contains("logged\n") && process.waitForReadyRead(30000))
        output += process.readAllStandardOutput();
    QVERIFY2(output.contains("logged\n"), output.constData());

    process.kill();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(logBytes(), expected);
}

void LogFileProcessTest::installerEmptiesStaleLogAtStart()
{
    const QString program = copyIntoProgramFolder(qEnvironmentVariable("VEXOR_PROGRAM"));
    QVERIFY2(!program.isEmpty(), "VEXOR_PROGRAM does not name the installer");
    {
        QFile stale(programFolder->filePath(QStringLiteral("install.log")));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write("a line from an earlier run\n");
    }

    QProcess process;
    process.setProcessEnvironment(childEnvironment());
    process.start(program, QStringList());
    QVERIFY(process.waitForStarted(30000));
    QTRY_COMPARE_WITH_TIMEOUT(
        QFileInfo(programFolder->filePath(QStringLiteral("install.log"))).size(), qint64(0), 30000);
    process.kill();
    process.waitForFinished(30000);
}

QTEST_GUILESS_MAIN(LogFileProcessTest)
#include "LogFileProcessTest.moc"
