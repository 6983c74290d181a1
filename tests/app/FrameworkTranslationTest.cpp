#include <QtTest>

// The framework's catalogue is chosen from the system locale, which a process
// reads from its environment once; each case therefore starts the probe
// program with its own locale variables.
class FrameworkTranslationTest : public QObject
{
    Q_OBJECT

private slots:
    void questionBoxButtonsFollowSystemLocale_data();
    void questionBoxButtonsFollowSystemLocale();
};

void FrameworkTranslationTest::questionBoxButtonsFollowSystemLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("catalogue");
    QTest::addColumn<QString>("yes");
    QTest::addColumn<QString>("no");

    QTest::newRow("a Russian system locale makes the buttons Russian") << "ru_RU.UTF-8"
                                                                       << "qt_ru.qm"
                                                                       << "&Да"
                                                                       << "&Нет";
    QTest::newRow("a locale without a catalogue keeps the built-in texts")
        << "C" << QString() << "&Yes"
        << "&No";
}

void FrameworkTranslationTest::questionBoxButtonsFollowSystemLocale()
{
    QFETCH(QString, locale);
    QFETCH(QString, catalogue);
    QFETCH(QString, yes);
    QFETCH(QString, no);

    if (!catalogue.isEmpty() &&
        !QFile::exists(QLibraryInfo::location(QLibraryInfo::TranslationsPath) + '/' + catalogue))
        QSKIP("the framework's Russian catalogue is not installed on this machine");

    QTemporaryDir hostFolder;
    QVERIFY(hostFolder.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("VEXOR_HOST_DIR"), hostFolder.path());
    environment.remove(QStringLiteral("LANGUAGE"));
    environment.remove(QStringLiteral("LC_MESSAGES"));
    environment.insert(QStringLiteral("LC_ALL"), locale);
    environment.insert(QStringLiteral("LANG"), locale);

    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.start(QStringLiteral(VEXOR_APP_PROBE), {QStringLiteral("buttons")});
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitCode(), 0);
    const QStringList texts =
        QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(texts, (QStringList{yes, no}));
}

QTEST_GUILESS_MAIN(FrameworkTranslationTest)
#include "FrameworkTranslationTest.moc"
