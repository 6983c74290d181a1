#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include "HostCpuArchitecture.h"
#include "InstalledMarker.h"
#include "ModeSelection.h"
#include "TestHost.h"
#include "VexorKCryptoProInstaller.h"

// What happens at start: what the program learns from the host (whether the
// module is installed, where the CSP's folders are) and what it asks.
namespace {
const QString kApplicationKey = QStringLiteral("SOFTWARE\\Quellon\\Vexor K Crypto Pro");
// Where Windows Installer keeps the Crypto Pro CSP's install properties.
const QString kInstallProperties = QStringLiteral(
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\"
    "7AB5E7046046FB044ACD63458B5F481C\\InstallProperties");
const QChar kSeparator = QDir::separator();

QString cspBelow(const QString& programFiles)
{
    return programFiles + kSeparator + QStringLiteral("Crypto Pro") + kSeparator +
           QStringLiteral("CSP");
}
const QString kInstallTitle = QStringLiteral("Установка Quellon Vexor K для Крипто Про");
const QString kRemovalTitle = QStringLiteral("Удаление Quellon Vexor K для Крипто Про");

// How the window looked at one moment, as one comparable line.
QString state(const VexorKCryptoProInstaller& window)
{
    return QStringLiteral("%1, install button %2, window %3")
        .arg(window.windowTitle())
        .arg(TestHost::installButton(window)->isHidden() ? "hidden" : "shown")
        .arg(window.isVisible() ? "shown" : "hidden");
}
} // namespace

class StartUpTest : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheTextOneMeansInstalled_data();
    void onlyTheTextOneMeansInstalled();
    void findsTheCspFolder_data();
    void findsTheCspFolder();
    void findsThe64BitCspFolder_data();
    void findsThe64BitCspFolder();
    void withoutYesTheWindowIsLeftAsBuilt_data();
    void withoutYesTheWindowIsLeftAsBuilt();
    void agreeingRemovesThenOffersInstall();
};

void StartUpTest::onlyTheTextOneMeansInstalled_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QString>("key"); // empty: no marker is written
    QTest::addColumn<REGSAM>("view");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<bool>("installed");

    const QString x64 = QStringLiteral("x86_64");
    const REGSAM view32 = KEY_WOW64_32KEY;
    const QString organizationDefaults = QStringLiteral("SOFTWARE\\Quellon\\OrganizationDefaults");
    QTest::newRow("a host never installed on is not installed")
        << x64 << QString() << view32 << QString() << false;
    QTest::newRow("the text 1 in the application key means installed")
        << x64 << kApplicationKey << view32 << "1" << true;
    QTest::newRow("the text 1 on a 32-bit host means installed")
        << "i386" << kApplicationKey << view32 << "1" << true;
    QTest::newRow("the text 0 does not") << x64 << kApplicationKey << view32 << "0" << false;
    QTest::newRow("the text true does not") << x64 << kApplicationKey << view32 << "true" << false;
    QTest::newRow("a 1 followed by a space does not")
        << x64 << kApplicationKey << view32 << "1 " << false;
    QTest::newRow("empty text does not") << x64 << kApplicationKey << view32 << "" << false;
    QTest::newRow("the text 1 in OrganizationDefaults alone means installed")
        << x64 << organizationDefaults << view32 << "1" << true;
    QTest::newRow("a marker in the native 64-bit view only is not seen")
        << x64 << kApplicationKey << REGSAM(KEY_WOW64_64KEY) << "1" << false;
}

void StartUpTest::onlyTheTextOneMeansInstalled()
{
    QFETCH(QString, architecture);
    QFETCH(QString, key);
    QFETCH(REGSAM, view);
    QFETCH(QString, marker);
    QFETCH(bool, installed);
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    if (!key.isEmpty())
        QVERIFY(TestHost::writeText(key, QString(), marker, view));
    const QStringList before = TestHost::registry(QStringLiteral("SOFTWARE"), view);

    QCOMPARE(isInstalled(), installed);
    // Reading never writes a value, not even a default one.
    QCOMPARE(TestHost::registry(QStringLiteral("SOFTWARE"), view), before);
}

void StartUpTest::findsTheCspFolder_data()
{
    QTest::addColumn<bool>("withCsp");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("expected");

    const QString folder = QStringLiteral("C:") + kSeparator + QStringLiteral("Crypto Pro");
    const QChar otherSlash = kSeparator == QLatin1Char('/') ? QLatin1Char('\\') : QLatin1Char('/');
    QTest::newRow("the installer's trailing separator is removed")
        << true << folder + kSeparator << folder;
    QTest::newRow("of two trailing separators only the last is removed")
        << true << folder + kSeparator + kSeparator << folder + kSeparator;
    QTest::newRow("a location without a trailing separator is kept as it is")
        << true << folder << folder;
    QTest::newRow("the other kind of slash at the end is kept")
        << true << folder + otherSlash << folder + otherSlash;
    QTest::newRow("a lone separator leaves an empty folder")
        << true << QString(kSeparator) << QString();
    QTest::newRow("an empty location gives no folder") << true << QString() << QString();
    QTest::newRow("a host without Crypto Pro gives no folder") << false << QString() << QString();
}

void StartUpTest::findsTheCspFolder()
{
    QFETCH(bool, withCsp);
    QFETCH(QString, location);
    QFETCH(QString, expected);
    TestHost host(QStringLiteral("x86_64"), withCsp);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    if (withCsp) {
        QVERIFY(
            TestHost::writeText(kInstallProperties, QStringLiteral("InstallLocation"), location));
    }
    QCOMPARE(VexorKCryptoProInstaller().cspFolderPath(), expected);
}

void StartUpTest::findsThe64BitCspFolder_data()
{
    QTest::addColumn<bool>("host64");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("expected");

    QTest::newRow("the 64-bit program folder is followed by the CSP's place in it")
        << true << "ProgramW6432=C:/Program Files" << cspBelow("C:/Program Files");
    QTest::newRow("a name in capitals is found") << true << "PROGRAMW6432=D:/P" << cspBelow("D:/P");
    QTest::newRow("a name in small letters is found")
        << true << "programw6432=D:/P" << cspBelow("D:/P");
    QTest::newRow("an empty value leaves only the CSP's place")
        << true << "ProgramW6432=" << cspBelow(QString());
    QTest::newRow("a value with an equals sign is cut there")
        << true << "ProgramW6432=A=B" << cspBelow("A");
    QTest::newRow("a longer name ending differently does not match")
        << true << "ProgramW6432X=C:/P" << QString();
    QTest::newRow("a longer name beginning differently does not match")
        << true << "XProgramW6432=C:/P" << QString();
    QTest::newRow("a 32-bit host has no 64-bit folder")
        << false << "ProgramW6432=C:/P" << QString();
}

void StartUpTest::findsThe64BitCspFolder()
{
    QFETCH(bool, host64);
    QFETCH(QString, entry);
    QFETCH(QString, expected);
    TestHost host(host64 ? QStringLiteral("x86_64") : QStringLiteral("i386"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    TestHost::clearProgramW6432();
    const QByteArray name = entry.section('=', 0, 0).toLatin1();
    qputenv(name.constData(), entry.section('=', 1).toLatin1());
    const QString found = VexorKCryptoProInstaller().cspFolder64Path();
    qunsetenv(name.constData());
    QCOMPARE(found, expected);
}

void StartUpTest::withoutYesTheWindowIsLeftAsBuilt_data()
{
    QTest::addColumn<bool>("marker");
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("exitCode"); // -1: the caller shows the window and goes on
    QTest::addColumn<QString>("question");

    const QString question = QString("%1|Установка Quellon Vexor K для Крипто Про!|Quellon Vexor K "
                                     "для Крипто Про уже установлено! Удалить?")
                                 .arg(QMessageBox::Question);
    QTest::newRow("without the marker nothing is asked")
        << false << int(QMessageBox::No) << -1 << QString();
    QTest::newRow("answering No ends at once with exit code 0")
        << true << int(QMessageBox::No) << 0 << question;
    QTest::newRow("closing the question with Escape ends at once with exit code 0")
        << true << int(QMessageBox::NoButton) << 0 << question;
}

void StartUpTest::withoutYesTheWindowIsLeftAsBuilt()
{
    QFETCH(bool, marker);
    QFETCH(int, button);
    QFETCH(int, exitCode);
    QFETCH(QString, question);
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    QVERIFY(!marker || TestHost::writeText(kApplicationKey, QString(), "1", KEY_WOW64_32KEY));
    VexorKCryptoProInstaller window;
    TestHost::answerNextBox(QMessageBox::StandardButton(button));
    QCOMPARE(ModeSelection::run(window).value_or(-1), exitCode);
    QCoreApplication::processEvents();
    QCOMPARE(TestHost::answeredBox(), question);
    QVERIFY(!window.isVisible());
    QCOMPARE(window.windowTitle(), QStringLiteral("Установка Quellon Vexor K для Crypto Pro"));
    QVERIFY(TestHost::installButton(window)->isEnabled());
    QVERIFY(!TestHost::installButton(window)->isHidden());
    QCOMPARE(TestHost::file(), QStringList());
    QCOMPARE(isInstalled(), marker);
}

void StartUpTest::agreeingRemovesThenOffersInstall()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    TestHost::install();
    VexorKCryptoProInstaller window;

    QStringList duringRemoval;
    QString inEventLoop;
    auto* pane = window.findChild<QPlainTextEdit*>(QStringLiteral("logTextEdit"));
    connect(pane, &QPlainTextEdit::textChanged, &window, [&] {
        duringRemoval << state(window);
        // After the last removal line the event loop starts: look, then end it.
        if (pane->document()->lastBlock().text() == QStringLiteral("Удаление прошло успешно."))
            QTimer::singleShot(0, &window, [&] {
                inEventLoop = state(window);
                window.close();
            });
    });
    // Should the removal end otherwise, the event loop must still end.
    QTimer::singleShot(60000, &window, &QWidget::close);
    TestHost::answerNextBox(QMessageBox::Yes);
    QCOMPARE(ModeSelection::run(window), std::optional<int>(0));
    QVERIFY(!TestHost::answeredBox().isEmpty());

    const QString removing =
        kRemovalTitle + QStringLiteral(", install button hidden, window shown");
    QCOMPARE(duringRemoval.size(), TestHost::pane(window).size());
    for (const QString& seen : duringRemoval)
        QCOMPARE(seen, removing);
    QCOMPARE(inEventLoop, kInstallTitle + QStringLiteral(", install button shown, window shown"));
    QVERIFY(TestHost::installButton(window)->isEnabled());
    QVERIFY(!isInstalled());
}

QTEST_MAIN(StartUpTest)
#include "tst_StartUp.moc"
