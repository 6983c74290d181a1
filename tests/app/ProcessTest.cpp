#include <QtTest>

// Real process starts: the probe program (which starts the window as the
// installer does) and the installer itself, each copied into a temporary
// program folder of its own so that its install.log lands there.
class ProcessTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void killRightAfterLoggingKeepsEveryLine_data();
    void killRightAfterLoggingKeepsEveryLine();
    void installerEmptiesTheLogAtStart();
    void questionBoxButtonsFollowSystemLocale_data();
    void questionBoxButtonsFollowSystemLocale();

private:
    // Starts a copy of executable in the program folder, on the temporary host.
    void start(QProcess* process, const QString& executable, const QStringList& arguments,
               const QString& locale = QString());
    QByteArray logBytes() const;

    QScopedPointer<QTemporaryDir> programFolder;
    QScopedPointer<QTemporaryDir> hostFolder;
};

void ProcessTest::init()
{
    programFolder.reset(new QTemporaryDir);
    hostFolder.reset(new QTemporaryDir);
    QVERIFY(programFolder->isValid() && hostFolder->isValid());
}

void ProcessTest::start(QProcess* process, const QString& executable, const QStringList& arguments,
                        const QString& locale)
{
    const QString copy = programFolder->filePath(QFileInfo(executable).fileName());
    QVERIFY2(QFile::exists(copy) || QFile::copy(executable, copy), qPrintable(executable));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("VEXOR_HOST_DIR"), hostFolder->path());
    if (!locale.isEmpty()) {
        // The framework reads the system locale from these, once per process.
        environment.remove(QStringLiteral("LANGUAGE"));
        environment.remove(QStringLiteral("LC_MESSAGES"));
        environment.insert(QStringLiteral("LC_ALL"), locale);
        environment.insert(QStringLiteral("LANG"), locale);
    }
    process->setProcessEnvironment(environment);
    process->start(copy, arguments);
    QVERIFY(process->waitForStarted(30000));
}

QByteArray ProcessTest::logBytes() const
{
    QFile file(programFolder->filePath(QStringLiteral("install.log")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no install.log>");
}

void ProcessTest::killRightAfterLoggingKeepsEveryLine_data()
{
    QTest::addColumn<int>("lineCount");
    QTest::newRow("one line survives a kill") << 1;
    QTest::newRow("five hundred lines survive a kill") << 500;
}

void ProcessTest::killRightAfterLoggingKeepsEveryLine()
{
    QFETCH(int, lineCount);
    QStringList arguments{QStringLiteral("log-then-wait")};
    QByteArray expected;
    for (int i = 1; i <= lineCount; ++i) {
        arguments << QStringLiteral("step %1").arg(i);
        expected += "step " + QByteArray::number(i) + '\n';
    }
    QProcess process;
    start(&process, QStringLiteral(VEXOR_APP_PROBE), arguments);
    QByteArray output;
    while (!output.contains("logged\n") && process.waitForReadyRead(30000))
        output += process.readAllStandardOutput();
    QVERIFY2(output.contains("logged\n"), output.constData());
    process.kill();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(logBytes(), expected);
}

void ProcessTest::installerEmptiesTheLogAtStart()
{
    QProcess first;
    start(&first, QStringLiteral(VEXOR_APP_PROBE), {"log-then-exit", "a line from an earlier run"});
    QVERIFY(first.waitForFinished(30000));
    QCOMPARE(logBytes(), QByteArray("a line from an earlier run\n"));

    QProcess installer;
    start(&installer, qEnvironmentVariable("VEXOR_PROGRAM"), {});
    QTRY_COMPARE_WITH_TIMEOUT(logBytes(), QByteArray(), 30000);
    installer.kill();
    installer.waitForFinished(30000);
}

void ProcessTest::questionBoxButtonsFollowSystemLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("a Russian system locale makes the buttons Russian")
        << "ru_RU.UTF-8"
        << "qt_ru.qm" << QStringList{"&Да", "&Нет"};
    QTest::newRow("a locale without a catalogue keeps the built-in texts")
        << "C" << QString() << QStringList{"&Yes", "&No"};
}

void ProcessTest::questionBoxButtonsFollowSystemLocale()
{
    QFETCH(QString, locale);
    QFETCH(QString, catalogue);
    QFETCH(QStringList, buttons);
    if (!catalogue.isEmpty() &&
        !QFile::exists(QLibraryInfo::location(QLibraryInfo::TranslationsPath) + '/' + catalogue))
        QSKIP("the framework's Russian catalogue is not installed on this machine");
    QProcess probe;
    start(&probe, QStringLiteral(VEXOR_APP_PROBE), {QStringLiteral("buttons")}, locale);
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
             buttons);
}

QTEST_GUILESS_MAIN(ProcessTest)
#include "ProcessTest.moc"
