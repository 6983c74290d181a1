#include <memory>

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTextCodec>
#include <QtTest>

#include "EngineLog.h"
#include "ExpectedRegistration.h"
#include "InstalledMarker.h"
#include "RegistrySnapshot.h"
#include "SimulatedHost.h"
#include "TestHost.h"
#include "VexorKCryptoProInstaller.h"

Q_DECLARE_METATYPE(LogLines)

namespace {
const QString kSoftware = QStringLiteral("SOFTWARE");
const char kPayload32[] = ":/VEXOR_K_CryptoProInstaller/Resources/x86/vexor.dll";
const char kPayload64[] = ":/VEXOR_K_CryptoProInstaller/Resources/x64/vexor.dll";
const char kExistingFile[] = "Файл vexor.dll не получилось скопировать! Destination file exists";

QPushButton* installButton(VexorKCryptoProInstaller& window)
{
    return window.findChild<QPushButton*>(QStringLiteral("installButton"));
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

LogLines installLog64(const LogLine& copy32, const LogLines& copy64, const LogLine& afterCopy64,
                      const LogLine& afterRegistration, const LogLine& closing)
{
    LogLines lines{normal("Начинаем установку..."),
                   normal("Копирование библиотеки Quellon Vexor K для КриптоПро!"), copy32,
                   normal("Копирование библиотеки Quellon Vexor K для КриптоПро(64-бита)!")};
    lines << copy64;
    lines << afterCopy64 << normal("Регистрация библиотеки Quellon Vexor K для КриптоПро!")
          << afterRegistration << closing;
    return lines;
}

LogLines installLog32(const LogLine& copy32, const LogLine& afterRegistration,
                      const LogLine& closing)
{
    return {normal("Начинаем установку..."),
            normal("Копирование библиотеки Quellon Vexor K для КриптоПро!"),
            copy32,
            normal("Регистрация библиотеки Quellon Vexor K для КриптоПро!"),
            afterRegistration,
            closing};
}

const LogLine kCopied = normal("Файл vexor.dll успешно скопирован!");
const LogLine kDone = normal("Успешно!");
const LogLine kInstalled = normal("Библиотеки Quellon Vexor K для КриптоПро успешно установлены!");
const LogLine kInstalledWithErrors =
    red("Установка Quellon Vexor K для КриптоПро завершена с ошибками!");
} // namespace

class InstallProcedureTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installsTheRoute_data();
    void installsTheRoute();
    void installingAgainKeepsPresentFiles_data();
    void installingAgainKeepsPresentFiles();
    void missingCspFolderCancels_data();
    void missingCspFolderCancels();
    void empty64BitFolderIsNotUsed();
    void withoutAdministratorRightsNoSuccessIsClaimed_data();
    void withoutAdministratorRightsNoSuccessIsClaimed();
};

void InstallProcedureTest::initTestCase()
{
    // As at program start: the log file is written in Windows-1251.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
}

void InstallProcedureTest::installsTheRoute_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::newRow("a 64-bit host gets both builds and the 22 values of its route")
        << QStringLiteral("x86_64");
    QTest::newRow("a 32-bit host gets the 32-bit build and the 15 values of its route")
        << QStringLiteral("i386");
}

void InstallProcedureTest::installsTheRoute()
{
    QFETCH(QString, architecture);
    const bool is64 = architecture == QLatin1String("x86_64");
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    const auto before = RegistrySnapshot::take(kSoftware);
    QVERIFY(!isInstalled());

    auto window = std::make_unique<VexorKCryptoProInstaller>();
    QCOMPARE(window->cspFolderPath(), host.cspFolder());
    QCOMPARE(window->cspFolder64Path(), is64 ? host.cspFolder64() : QString());
    installButton(*window)->click();

    const LogLines expected = is64 ? installLog64(kCopied, {kCopied}, kDone, kDone, kInstalled)
                                   : installLog32(kCopied, kDone, kInstalled);
    QCOMPARE(EngineLog::pane(*window), expected);
    QVERIFY(!installButton(*window)->isEnabled());

    const auto added = RegistrySnapshot::changes(before, RegistrySnapshot::take(kSoftware));
    const auto wanted = is64 ? ExpectedRegistration::route64(host.cspFolder(), host.cspFolder64())
                             : ExpectedRegistration::route32(host.cspFolder());
    QVERIFY2(added == wanted, qPrintable(QStringLiteral("written:\n%1\nexpected:\n%2")
                                             .arg(RegistrySnapshot::describe(added),
                                                  RegistrySnapshot::describe(wanted))));
    QCOMPARE(added.size(), is64 ? 22 : 15);
    if (is64) {
        // The key carrier belongs to the 32-bit view only.
        QVERIFY(!RegistrySnapshot::keyExists(QStringLiteral(
            "SOFTWARE\\Crypto Pro\\Cryptography\\CurrentVersion\\KeyCarriers\\VEXOR")));
    }

    const QString deployed32 = host.cspFolder() + QStringLiteral("/vexor.dll");
    QCOMPARE(contents(deployed32), contents(QString::fromLatin1(kPayload32)));
    QVERIFY(!(QFile::permissions(deployed32) & QFileDevice::WriteOwner));
    if (is64) {
        QCOMPARE(contents(host.cspFolder64() + QStringLiteral("/vexor.dll")),
                 contents(QString::fromLatin1(kPayload64)));
    }
    QVERIFY(isInstalled());

    window.reset();
    QCOMPARE(EngineLog::file(), EngineLog::texts(expected));
}

void InstallProcedureTest::installingAgainKeepsPresentFiles_data()
{
    installsTheRoute_data();
}

void InstallProcedureTest::installingAgainKeepsPresentFiles()
{
    QFETCH(QString, architecture);
    const bool is64 = architecture == QLatin1String("x86_64");
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    const auto before = RegistrySnapshot::take(kSoftware);
    {
        VexorKCryptoProInstaller first;
        installButton(first)->click();
    }
    const QString deployed32 = host.cspFolder() + QStringLiteral("/vexor.dll");
    const QByteArray firstCopy = contents(deployed32);

    VexorKCryptoProInstaller window;
    installButton(window)->click();

    const LogLine existing = red(kExistingFile);
    const LogLines expected =
        is64 ? installLog64(existing, {existing},
                            red("Не удалось скопировать библиотеку Quellon Vexor K для "
                                "КриптоПро(64-бита)!"),
                            kDone, kInstalledWithErrors)
             : installLog32(existing, kDone, kInstalledWithErrors);
    QCOMPARE(EngineLog::pane(window), expected);
    QVERIFY(!installButton(window)->isEnabled());
    QCOMPARE(contents(deployed32), firstCopy);

    const auto added = RegistrySnapshot::changes(before, RegistrySnapshot::take(kSoftware));
    QCOMPARE(added, is64 ? ExpectedRegistration::route64(host.cspFolder(), host.cspFolder64())
                         : ExpectedRegistration::route32(host.cspFolder()));
    QVERIFY(isInstalled());
}

void InstallProcedureTest::missingCspFolderCancels_data()
{
    QTest::addColumn<bool>("withCsp");
    QTest::newRow("a host without Crypto Pro has no CSP folder text") << false;
    QTest::newRow("a CSP folder deleted after Crypto Pro was installed") << true;
}

void InstallProcedureTest::missingCspFolderCancels()
{
    QFETCH(bool, withCsp);
    TestHost host(QStringLiteral("x86_64"), withCsp);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    if (withCsp)
        QVERIFY(QDir(host.cspFolder()).removeRecursively());
    const auto before = RegistrySnapshot::take(kSoftware);

    VexorKCryptoProInstaller window;
    const LogLines attempt{normal("Начинаем установку..."),
                           normal("Копирование библиотеки Quellon Vexor K для КриптоПро!"),
                           red("Не найдена папка с Крипто Про! Отмена установки!")};
    LogLines expected;
    for (int press = 1; press <= 2; ++press) {
        ModalAnswer answer(QMessageBox::Ok);
        installButton(window)->click();
        QVERIFY(answer.answered());
        QCOMPARE(answer.icon(), QMessageBox::Critical);
        QCOMPARE(answer.title(), QString::fromUtf8("Установка Quellon Vexor K для Крипто Про!"));
        QCOMPARE(answer.text(),
                 QString::fromUtf8("Не найдена папка с Крипто Про! Отмена установки!"));
        expected << attempt;
        QCOMPARE(EngineLog::pane(window), expected);
        QVERIFY(installButton(window)->isEnabled());
    }
    const auto after = RegistrySnapshot::take(kSoftware);
    QCOMPARE(RegistrySnapshot::changes(before, after), RegistrySnapshot::Values());
    QCOMPARE(RegistrySnapshot::removals(before, after), QStringList());
}

void InstallProcedureTest::empty64BitFolderIsNotUsed()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    TestHost::clearProgramW6432();
    const auto before = RegistrySnapshot::take(kSoftware);

    VexorKCryptoProInstaller window;
    QCOMPARE(window.cspFolder64Path(), QString());
    installButton(window)->click();

    const LogLines expected = installLog64(
        kCopied, {red("Не найдена папка с Крипто Про(64-бита)!")},
        red("Не удалось скопировать библиотеку Quellon Vexor K для КриптоПро(64-бита)!"), kDone,
        kInstalledWithErrors);
    QCOMPARE(EngineLog::pane(window), expected);
    QVERIFY(!installButton(window)->isEnabled());

    // No native module path pointing at a file that is nowhere.
    const auto added = RegistrySnapshot::changes(before, RegistrySnapshot::take(kSoftware));
    QCOMPARE(added, ExpectedRegistration::route64(host.cspFolder(), QString()));
    QCOMPARE(added.size(), 21);
    QVERIFY(!QFile::exists(host.cspFolder64() + QStringLiteral("/vexor.dll")));
}

void InstallProcedureTest::withoutAdministratorRightsNoSuccessIsClaimed_data()
{
    installsTheRoute_data();
}

void InstallProcedureTest::withoutAdministratorRightsNoSuccessIsClaimed()
{
    QFETCH(QString, architecture);
    const bool is64 = architecture == QLatin1String("x86_64");
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    const auto before = RegistrySnapshot::take(kSoftware);
    SimulatedHost::setElevated(false);

    VexorKCryptoProInstaller window;
    installButton(window)->click();

    const LogLine notRegistered =
        red("Не удалось зарегистрировать библиотеку Quellon Vexor K для КриптоПро!");
    LogLines expected = is64 ? installLog64(kCopied, {kCopied}, kDone, notRegistered,
                                            red("Не удалось записать признак установки Quellon "
                                                "Vexor K для КриптоПро!"))
                             : installLog32(kCopied, notRegistered,
                                            red("Не удалось записать признак установки Quellon "
                                                "Vexor K для КриптоПро!"));
    expected << kInstalledWithErrors;
    QCOMPARE(EngineLog::pane(window), expected);

    SimulatedHost::setElevated(true);
    const auto after = RegistrySnapshot::take(kSoftware);
    QCOMPARE(RegistrySnapshot::changes(before, after), RegistrySnapshot::Values());
    QVERIFY(!isInstalled());
}

QTEST_MAIN(InstallProcedureTest)
#include "tst_InstallProcedure.moc"
