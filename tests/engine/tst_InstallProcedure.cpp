#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QtTest>

#include "EngineLog.h"
#include "InstalledMarker.h"
#include "ModalAnswer.h"
#include "RegistrySnapshot.h"
#include "SimulatedHost.h"
#include "TestHost.h"
#include "VexorKCryptoProInstaller.h"

namespace {
const QString kSoftware = QStringLiteral("SOFTWARE");
const QString kPayload = QStringLiteral(":/VEXOR_K_CryptoProInstaller/Resources/%1/vexor.dll");
const QByteArray kOlderBuild("an older build left in place");

const LogLine kCopied = normal("Файл vexor.dll успешно скопирован!");
const LogLine kNotCopied = red("Файл vexor.dll не получилось скопировать! Destination file exists");
const LogLine kNo64BitFolder = red("Не найдена папка с Крипто Про(64-бита)!");
const LogLine kDone = normal("Успешно!");
const LogLine kNotRegistered =
    red("Не удалось зарегистрировать библиотеку Quellon Vexor K для КриптоПро!");
const LogLine kNoMarker =
    red("Не удалось записать признак установки Quellon Vexor K для КриптоПро!");
const LogLine kInstalled = normal("Библиотеки Quellon Vexor K для КриптоПро успешно установлены!");
const LogLine kWithErrors = red("Установка Quellon Vexor K для КриптоПро завершена с ошибками!");

// The install log around the lines that depend on the host: the 32-bit copy,
// the 64-bit copy and its verdict (64-bit hosts only), the registration's
// verdict and the closing lines.
LogLines installLog(const LogLine& copy32, const LogLines& copy64, const LogLine& registered,
                    const LogLines& closing)
{
    LogLines lines{normal("Начинаем установку..."),
                   normal("Копирование библиотеки Quellon Vexor K для КриптоПро!"), copy32};
    if (!copy64.isEmpty())
        lines << normal("Копирование библиотеки Quellon Vexor K для КриптоПро(64-бита)!") << copy64;
    return lines << normal("Регистрация библиотеки Quellon Vexor K для КриптоПро!") << registered
                 << closing;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool replaceModule(const QString& folder)
{
    QFile module(folder + QStringLiteral("/vexor.dll"));
    module.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return module.open(QIODevice::WriteOnly) && module.write(kOlderBuild) == kOlderBuild.size();
}

// Every value of a complete registration, line by line as RegistrySnapshot
// words them, so that a wrong path, type or byte in the engine's table shows.
// Without cspFolder64 the native module path is left out.
QStringList expectedRegistration(bool host64, const QString& cspFolder, const QString& cspFolder64)
{
    const auto module = [](const QString& folder) {
        return QDir::toNativeSeparators(folder + QStringLiteral("/vexor.dll"));
    };
    const QString provider =
        QStringLiteral("Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider");
    const char* atr[] = {"3B9E00008031C0655A5100000072F7418107", "3B9796008073F7C1808105"};
    const char* mask[] = {"FFFF0000FFFFFFFFFFFF300000FFFFFFFFFF", "FFFFFFFFFFFFFFFFFFFFFF"};
    const QString wow = host64 ? QStringLiteral("Wow6432Node\\") : QString();
    const QString cryptoPro = wow + QStringLiteral("Crypto Pro\\Cryptography\\CurrentVersion\\");
    QStringList prefixes{QStringLiteral("Microsoft\\Cryptography\\Calais\\SmartCards\\")};
    if (host64)
        prefixes << wow + prefixes.first();
    QStringList lines;
    for (const QString& cards : prefixes) {
        for (int i = 0; i < 2; ++i) {
            const QString card = cards + (i ? QStringLiteral("VEXOR_ESMART\\") : "VEXOR\\");
            lines << RegistrySnapshot::bytesLine(card + "ATR", atr[i])
                  << RegistrySnapshot::bytesLine(card + "ATRMask", mask[i])
                  << RegistrySnapshot::textLine(card + "Crypto Provider", provider);
        }
    }
    for (int i = 0; i < 2; ++i) {
        const QString entry = cryptoPro + (i ? QStringLiteral("KeyCarriers\\VEXOR\\1\\")
                                             : QStringLiteral("KeyCarriers\\VEXOR\\Default\\"));
        lines << RegistrySnapshot::textLine(entry + "Name", i ? "VEXOR ESMART" : "VEXOR")
              << RegistrySnapshot::bytesLine(entry + "ATR", atr[i])
              << RegistrySnapshot::bytesLine(entry + "Mask", mask[i]);
    }
    lines << RegistrySnapshot::textLine(cryptoPro + "KeyCarriers\\VEXOR\\DLL", "vexor.dll")
          << RegistrySnapshot::textLine(cryptoPro + "AppPath\\vexor.dll\\@", module(cspFolder))
          << RegistrySnapshot::textLine(wow + "Quellon\\Vexor K Crypto Pro\\@", "1");
    if (host64 && !cspFolder64.isEmpty())
        lines << RegistrySnapshot::textLine(
            "Crypto Pro\\Cryptography\\CurrentVersion\\AppPath\\vexor.dll\\@", module(cspFolder64));
    lines.sort();
    return lines;
}
} // namespace

class InstallProcedureTest : public QObject
{
    Q_OBJECT

private slots:
    void installsTheRoute_data();
    void installsTheRoute();
    void missingCspFolderCancels_data();
    void missingCspFolderCancels();
};

void InstallProcedureTest::installsTheRoute_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<bool>("withProgramW6432");
    QTest::addColumn<bool>("elevated");
    QTest::addColumn<bool>("modulesPresent");
    QTest::addColumn<LogLines>("expected");
    QTest::addColumn<int>("values");

    const LogLines succeeded{kInstalled};
    const LogLines failed{kWithErrors};
    QTest::newRow("a 64-bit host gets both builds and the 22 values of its route")
        << "x86_64" << true << true << false
        << installLog(kCopied, {kCopied, kDone}, kDone, succeeded) << 22;
    QTest::newRow("a 32-bit host gets the 32-bit build and the 15 values of its route")
        << "i386" << true << true << false << installLog(kCopied, {}, kDone, succeeded) << 15;
    const LogLine notCopied64 =
        red("Не удалось скопировать библиотеку Quellon Vexor K для КриптоПро(64-бита)!");
    QTest::newRow("installing again on a 64-bit host keeps the present modules and reports them")
        << "x86_64" << true << true << true
        << installLog(kNotCopied, {kNotCopied, notCopied64}, kDone, failed) << 22;
    QTest::newRow("installing again on a 32-bit host keeps the present module and reports it")
        << "i386" << true << true << true << installLog(kNotCopied, {}, kDone, failed) << 15;
    QTest::newRow("a 64-bit host without a 64-bit program folder gets no native module path")
        << "x86_64" << false << true << false
        << installLog(kCopied, {kNo64BitFolder, notCopied64}, kDone, failed) << 21;
    QTest::newRow("without administrator rights a 64-bit host gets no value and no success line")
        << "x86_64" << true << false << false
        << installLog(kCopied, {kCopied, kDone}, kNotRegistered, {kNoMarker, kWithErrors}) << 0;
    QTest::newRow("without administrator rights a 32-bit host gets no value and no success line")
        << "i386" << true << false << false
        << installLog(kCopied, {}, kNotRegistered, {kNoMarker, kWithErrors}) << 0;
}

void InstallProcedureTest::installsTheRoute()
{
    QFETCH(QString, architecture);
    QFETCH(bool, withProgramW6432);
    QFETCH(bool, elevated);
    QFETCH(bool, modulesPresent);
    QFETCH(LogLines, expected);
    QFETCH(int, values);
    const bool host64 = architecture == QLatin1String("x86_64");
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    if (!withProgramW6432)
        TestHost::clearProgramW6432();
    const QStringList before = RegistrySnapshot::take(kSoftware);
    if (modulesPresent) {
        TestHost::install();
        QVERIFY(replaceModule(host.cspFolder()));
        QVERIFY(!host64 || replaceModule(host.cspFolder64()));
    }
    SimulatedHost::setElevated(elevated);
    {
        VexorKCryptoProInstaller window;
        TestHost::installButton(window)->click();
        QCOMPARE(EngineLog::pane(window), expected);
        QVERIFY(!TestHost::installButton(window)->isEnabled());
    }
    SimulatedHost::setElevated(true);
    QCOMPARE(EngineLog::file(), EngineLog::texts(expected));

    const QStringList added = RegistrySnapshot::added(before, RegistrySnapshot::take(kSoftware));
    QCOMPARE(added, elevated ? expectedRegistration(host64, host.cspFolder(),
                                                    withProgramW6432 ? host.cspFolder64() : "")
                             : QStringList());
    QCOMPARE(added.size(), values);
    // The key carrier belongs to the 32-bit programs' view only.
    QVERIFY(!RegistrySnapshot::keyExists(
                "SOFTWARE\\Crypto Pro\\Cryptography\\CurrentVersion\\KeyCarriers\\VEXOR") ||
            !host64);
    QCOMPARE(isInstalled(), elevated);

    const QString module32 = host.cspFolder() + QStringLiteral("/vexor.dll");
    const QString module64 = host.cspFolder64() + QStringLiteral("/vexor.dll");
    QCOMPARE(contents(module32), modulesPresent ? kOlderBuild : contents(kPayload.arg("x86")));
    if (host64 && withProgramW6432)
        QCOMPARE(contents(module64), modulesPresent ? kOlderBuild : contents(kPayload.arg("x64")));
    else if (host64)
        QVERIFY(!QFile::exists(module64));
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
    QVERIFY(!withCsp || QDir(host.cspFolder()).removeRecursively());
    const QStringList before = RegistrySnapshot::take(kSoftware, KEY_WOW64_64KEY, true);

    VexorKCryptoProInstaller window;
    const QString cancelled = QStringLiteral("Не найдена папка с Крипто Про! Отмена установки!");
    LogLines expected;
    for (int press = 1; press <= 2; ++press) {
        ModalAnswer answer(QMessageBox::Ok);
        TestHost::installButton(window)->click();
        QVERIFY(answer.answered());
        QCOMPARE(answer.icon(), QMessageBox::Critical);
        QCOMPARE(answer.title(), QStringLiteral("Установка Quellon Vexor K для Крипто Про!"));
        QCOMPARE(answer.text(), cancelled);
        expected << normal("Начинаем установку...")
                 << normal("Копирование библиотеки Quellon Vexor K для КриптоПро!")
                 << red(cancelled);
        QCOMPARE(EngineLog::pane(window), expected);
        QVERIFY(TestHost::installButton(window)->isEnabled());
    }
    QCOMPARE(EngineLog::file(), EngineLog::texts(expected));
    QCOMPARE(RegistrySnapshot::take(kSoftware, KEY_WOW64_64KEY, true), before);
}

QTEST_MAIN(InstallProcedureTest)
#include "tst_InstallProcedure.moc"
