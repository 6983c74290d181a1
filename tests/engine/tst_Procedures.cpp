#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include "InstalledMarker.h"
#include "SimulatedHost.h"
#include "TestHost.h"
#include "VexorKCryptoProInstaller.h"

// The simulated host deletes every key an administrator asks it to; a key
// that the system refuses to delete (held open by a service on Windows) is
// stood in for by a link-time wrapper around RegDeleteKeyW.
namespace {
QString refusedSubkey;
}

extern "C" {
LONG __real_RegDeleteKeyW(HKEY key, LPCWSTR subkey);

LONG __wrap_RegDeleteKeyW(HKEY key, LPCWSTR subkey)
{
    if (subkey && !refusedSubkey.isEmpty() &&
        QString::fromUtf16(reinterpret_cast<const char16_t*>(subkey)) == refusedSubkey)
        return ERROR_ACCESS_DENIED;
    return __real_RegDeleteKeyW(key, subkey);
}
}

namespace {
enum Setup
{
    Installed,
    ModuleInUse,
    ModulesPresent,
    ModulesDeletedByHand,
    AnotherProductOfTheMaker,
    NoProgramW6432,
    NoCryptoPro,
    KeyRefused,
    NotElevated
};

const QString kSoftware = QStringLiteral("SOFTWARE");
const QByteArray kOlderBuild("an older build left in place");
// Stand for the module paths, which depend on the host folder.
const QString kModule32 = QStringLiteral("{module32}");
const QString kModule64 = QStringLiteral("{module64}");

const QString kCopied = QStringLiteral("Файл vexor.dll успешно скопирован!");
const QString kNotCopied = red("Файл vexor.dll не получилось скопировать! Destination file exists");
const QString kNot64 =
    red("Не удалось скопировать библиотеку Quellon Vexor K для КриптоПро(64-бита)!");
const QString kNo64BitFolder = red("Не найдена папка с Крипто Про(64-бита)!");
const QString kDone = QStringLiteral("Успешно!");
const QStringList kInstalled{
    QStringLiteral("Библиотеки Quellon Vexor K для КриптоПро успешно установлены!")};
const QStringList kInstalledWithErrors{
    red("Установка Quellon Vexor K для КриптоПро завершена с ошибками!")};
const QStringList kNativeKeys{"VEXOR",     "VEXOR_ESMART",       "VEXOR",
                              "vexor.dll", "Vexor K Crypto Pro", "Quellon"};
const QStringList k32BitViewKeys{"VEXOR",        "vexor.dll",          "VEXOR",
                                 "VEXOR_ESMART", "Vexor K Crypto Pro", "Quellon"};
const QString kRemoved = QStringLiteral("Удаление прошло успешно.");
const QString kRemovedWithErrors = red("Удаление завершено с ошибками!");

// The install log around what depends on the host: the 32-bit copy, the
// 64-bit copy and its verdict (64-bit hosts only), the registration's verdict
// and the closing lines.
QStringList installLog(const QString& copy32, const QStringList& copy64, const QString& registered,
                       const QStringList& closing)
{
    QStringList lines{"Начинаем установку...",
                      "Копирование библиотеки Quellon Vexor K для КриптоПро!", copy32};
    if (!copy64.isEmpty())
        lines << "Копирование библиотеки Quellon Vexor K для КриптоПро(64-бита)!" << copy64;
    return lines << "Регистрация библиотеки Quellon Vexor K для КриптоПро!" << registered
                 << closing;
}

// The removal log around the folder steps and the key rows; files64 and
// keys32 are empty when the host has no such step.
QStringList uninstallLog(const QStringList& files32, const QStringList& files64,
                         const QStringList& nativeKeys, const QStringList& keys32,
                         const QString& closing)
{
    QStringList lines{"Начинаем удаление...", "Удаление библиотеки Quellon Vexor K для КриптоПро!"};
    lines << files32;
    if (!files64.isEmpty())
        lines << "Удаление библиотеки Quellon Vexor K для КриптоПро(64-бита)!" << files64
              << "Удаление библиотеки Quellon Vexor K для КриптоПро(64-бита) закончено!";
    lines << "Удаление библиотеки Quellon Vexor K для КриптоПро закончено!"
          << "Отмена регистрации библиотек PKCS Quellon Vexor K!" << nativeKeys;
    if (!keys32.isEmpty())
        lines << "Отмена регистрации библиотеки Quellon Vexor K для КриптоПро(64-бита)!" << keys32;
    return lines << closing;
}

QStringList keys(const QStringList& names, int refusedFrom = -1, int refusedTo = -1)
{
    QStringList lines;
    for (int i = 0; i < names.size(); ++i)
        lines << (i >= refusedFrom && i <= refusedTo
                      ? red(QStringLiteral("Ключ %1 не получилось удалить!").arg(names[i]))
                      : QStringLiteral("Ключ %1 успешно удален!").arg(names[i]));
    return lines;
}

QString removed(const QString& module)
{
    return QStringLiteral("Файл %1 успешно удален!").arg(module);
}

QStringList withPaths(QStringList lines)
{
    const QString module32 = QDir::toNativeSeparators(SimulatedHost::cspFolder() + "/vexor.dll");
    const QString module64 = QDir::toNativeSeparators(SimulatedHost::cspFolder64() + "/vexor.dll");
    return lines.replaceInStrings(kModule32, module32).replaceInStrings(kModule64, module64);
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
            const QString card = cards + (i ? "VEXOR_ESMART\\" : "VEXOR\\");
            lines << TestHost::bytesLine(card + "ATR", atr[i])
                  << TestHost::bytesLine(card + "ATRMask", mask[i])
                  << TestHost::textLine(card + "Crypto Provider", provider);
        }
    }
    for (int i = 0; i < 2; ++i) {
        const QString entry = cryptoPro + "KeyCarriers\\VEXOR\\" + (i ? "1\\" : "Default\\");
        lines << TestHost::textLine(entry + "Name", i ? "VEXOR ESMART" : "VEXOR")
              << TestHost::bytesLine(entry + "ATR", atr[i])
              << TestHost::bytesLine(entry + "Mask", mask[i]);
    }
    lines << TestHost::textLine(cryptoPro + "KeyCarriers\\VEXOR\\DLL", "vexor.dll")
          << TestHost::textLine(cryptoPro + "AppPath\\vexor.dll\\@", module(cspFolder))
          << TestHost::textLine(wow + "Quellon\\Vexor K Crypto Pro\\@", "1");
    if (host64 && !cspFolder64.isEmpty())
        lines << TestHost::textLine(
            "Crypto Pro\\Cryptography\\CurrentVersion\\AppPath\\vexor.dll\\@", module(cspFolder64));
    lines.sort();
    return lines;
}

// The lines of after that before does not have (both sorted).
QStringList added(const QStringList& before, const QStringList& after)
{
    QStringList lines;
    std::set_difference(after.cbegin(), after.cend(), before.cbegin(), before.cend(),
                        std::back_inserter(lines));
    return lines;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Capabilities belong to the calling thread; the engine deletes on this one.
bool setPermissionOverride(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << CAP_DAC_OVERRIDE;
    data[0].effective = on ? data[0].effective | bit : data[0].effective & ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}

// Runs the host tool on the current host; its standard output, or a note when it failed.
QString hostTool(const QString& command)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VEXOR_HOST_DIR"), SimulatedHost::folder());
    tool.setProcessEnvironment(environment);
    tool.start(qEnvironmentVariable("VEXOR_HOST_TOOL"), {command});
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
        return "<failed: " + QString::fromLocal8Bit(tool.readAllStandardError()) + '>';
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}
} // namespace

class ProceduresTest : public QObject
{
    Q_OBJECT

private slots:
    void installWritesTheRoute_data();
    void installWritesTheRoute();
    void installWithoutCspFolderCancels_data();
    void installWithoutCspFolderCancels();
    void uninstallRemovesWhatWasInstalled_data();
    void uninstallRemovesWhatWasInstalled();
};

void ProceduresTest::installWritesTheRoute_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<int>("setup");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("values");

    QTest::newRow("a 64-bit host gets both builds and the 22 values of its route")
        << "x86_64" << int(Installed) << installLog(kCopied, {kCopied, kDone}, kDone, kInstalled)
        << 22;
    QTest::newRow("a 32-bit host gets the 32-bit build and the 15 values of its route")
        << "i386" << int(Installed) << installLog(kCopied, {}, kDone, kInstalled) << 15;
    QTest::newRow("installing again keeps the present modules and reports them")
        << "x86_64" << int(ModulesPresent)
        << installLog(kNotCopied, {kNotCopied, kNot64}, kDone, kInstalledWithErrors) << 22;
    QTest::newRow("a 64-bit host without a 64-bit program folder gets no native module path")
        << "x86_64" << int(NoProgramW6432)
        << installLog(kCopied, {kNo64BitFolder, kNot64}, kDone, kInstalledWithErrors) << 21;
    const QString notRegistered =
        red("Не удалось зарегистрировать библиотеку Quellon Vexor K для КриптоПро!");
    const QStringList noMarker =
        QStringList{red("Не удалось записать признак установки Quellon Vexor K для КриптоПро!")} +
        kInstalledWithErrors;
    QTest::newRow("without administrator rights no value is written and no success is claimed")
        << "x86_64" << int(NotElevated)
        << installLog(kCopied, {kCopied, kDone}, notRegistered, noMarker) << 0;
}

void ProceduresTest::installWritesTheRoute()
{
    QFETCH(QString, architecture);
    QFETCH(int, setup);
    QFETCH(QStringList, expected);
    QFETCH(int, values);
    const bool host64 = architecture == QLatin1String("x86_64");
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    if (setup == NoProgramW6432)
        TestHost::clearProgramW6432();
    const QStringList before = TestHost::registry(kSoftware);
    const QString module32 = SimulatedHost::cspFolder() + QStringLiteral("/vexor.dll");
    const QString module64 = SimulatedHost::cspFolder64() + QStringLiteral("/vexor.dll");
    if (setup == ModulesPresent) {
        TestHost::install();
        for (const QString& module :
             host64 ? QStringList{module32, module64} : QStringList{module32}) {
            QFile file(module);
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kOlderBuild) > 0);
        }
    }
    SimulatedHost::setElevated(setup != NotElevated);
    {
        VexorKCryptoProInstaller window;
        TestHost::installButton(window)->click();
        SimulatedHost::setElevated(true);
        QCOMPARE(TestHost::pane(window), expected);
        QVERIFY(!TestHost::installButton(window)->isEnabled());
    }
    QCOMPARE(TestHost::file(), plain(expected));

    const QStringList written = added(before, TestHost::registry(kSoftware));
    const QString folder64 = setup == NoProgramW6432 ? QString() : SimulatedHost::cspFolder64();
    QCOMPARE(written, setup == NotElevated
                          ? QStringList()
                          : expectedRegistration(host64, SimulatedHost::cspFolder(), folder64));
    QCOMPARE(written.size(), values);
    // The key carrier belongs to the 32-bit programs' view only.
    QVERIFY(!host64 ||
            !TestHost::registry(kSoftware, KEY_WOW64_64KEY, true)
                 .contains("crypto pro\\cryptography\\currentversion\\keycarriers\\vexor\\"));
    QCOMPARE(isInstalled(), setup != NotElevated);

    const QString payload = QStringLiteral(":/VEXOR_K_CryptoProInstaller/Resources/%1/vexor.dll");
    QCOMPARE(contents(module32),
             setup == ModulesPresent ? kOlderBuild : contents(payload.arg("x86")));
    if (host64 && setup != NoProgramW6432)
        QCOMPARE(contents(module64),
                 setup == ModulesPresent ? kOlderBuild : contents(payload.arg("x64")));
    else if (host64)
        QVERIFY(!QFile::exists(module64));
}

void ProceduresTest::installWithoutCspFolderCancels_data()
{
    QTest::addColumn<bool>("withCsp");
    QTest::newRow("a host without Crypto Pro has no CSP folder text") << false;
    QTest::newRow("a CSP folder deleted after Crypto Pro was installed") << true;
}

void ProceduresTest::installWithoutCspFolderCancels()
{
    QFETCH(bool, withCsp);
    TestHost host(QStringLiteral("x86_64"), withCsp);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    QVERIFY(!withCsp || QDir(SimulatedHost::cspFolder()).removeRecursively());
    const QStringList before = TestHost::registry(kSoftware, KEY_WOW64_64KEY, true);

    VexorKCryptoProInstaller window;
    const QString cancelled = QStringLiteral("Не найдена папка с Крипто Про! Отмена установки!");
    QStringList expected;
    for (int press = 1; press <= 2; ++press) {
        TestHost::answerNextBox(QMessageBox::Ok);
        TestHost::installButton(window)->click();
        QCOMPARE(TestHost::answeredBox(), QString("%1|Установка Quellon Vexor K для Крипто Про!|%2")
                                              .arg(QMessageBox::Critical)
                                              .arg(cancelled));
        expected << "Начинаем установку..."
                 << "Копирование библиотеки Quellon Vexor K для КриптоПро!" << red(cancelled);
        QCOMPARE(TestHost::pane(window), expected);
        QVERIFY(TestHost::installButton(window)->isEnabled());
    }
    QCOMPARE(TestHost::file(), plain(expected));
    QCOMPARE(TestHost::registry(kSoftware, KEY_WOW64_64KEY, true), before);
}

void ProceduresTest::uninstallRemovesWhatWasInstalled_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<int>("setup");
    QTest::addColumn<QStringList>("expected");

    const QStringList files32{removed(kModule32)};
    const QStringList files64{removed(kModule64)};
    const QStringList native = keys(kNativeKeys);
    const QStringList view32 = keys(k32BitViewKeys);
    QTest::newRow("a 64-bit host loses both builds and both views' keys")
        << "x86_64" << int(Installed) << uninstallLog(files32, files64, native, view32, kRemoved);
    QTest::newRow("a 32-bit host loses its build and its one view's keys")
        << "i386" << int(Installed) << uninstallLog(files32, {}, native, {}, kRemoved);
    QTest::newRow("a module in use is scheduled for deletion at the next restart")
        << "x86_64" << int(ModuleInUse)
        << uninstallLog({QStringLiteral("Файл %1 успешно поставлен на удаление после "
                                        "перезагрузки!")
                             .arg(kModule32)},
                        files64, native, view32, kRemoved);
    QTest::newRow("modules deleted by hand are reported gone, and none is scheduled")
        << "x86_64" << int(ModulesDeletedByHand)
        << uninstallLog({QStringLiteral("Файл %1 уже удален!").arg(kModule32)},
                        {QStringLiteral("Файл %1 уже удален!").arg(kModule64)}, native, view32,
                        kRemoved);
    QTest::newRow("on a 64-bit host the maker's key holding another product stays, silently")
        << "x86_64" << int(AnotherProductOfTheMaker)
        << uninstallLog(files32, files64, native, view32.mid(0, 5), kRemoved);
    QTest::newRow("on a 32-bit host the maker's key holding another product stays, silently")
        << "i386" << int(AnotherProductOfTheMaker)
        << uninstallLog(files32, {}, native.mid(0, 5), {}, kRemoved);
    QTest::newRow("a 64-bit host without a 64-bit program folder keeps its 64-bit module")
        << "x86_64" << int(NoProgramW6432)
        << uninstallLog(files32, {kNo64BitFolder}, native, view32, kRemovedWithErrors);
    QTest::newRow("a host without Crypto Pro removes only registry keys")
        << "x86_64" << int(NoCryptoPro)
        << uninstallLog({red("Не найдена папка с Крипто Про!")}, {}, native, view32,
                        kRemovedWithErrors);
    QTest::newRow("a key carrier the system refuses to delete is reported and stays")
        << "i386" << int(KeyRefused)
        << uninstallLog(files32, {}, keys(kNativeKeys, 2, 2), {}, kRemovedWithErrors);
    // The maker's key in the 32-bit view still holds the marker, so it is not tried.
    QTest::newRow("without administrator rights no key is claimed removed")
        << "x86_64" << int(NotElevated)
        << uninstallLog(files32, files64, keys(kNativeKeys, 0, 5),
                        keys(k32BitViewKeys, 0, 4).mid(0, 5), kRemovedWithErrors);
}

void ProceduresTest::uninstallRemovesWhatWasInstalled()
{
    QFETCH(QString, architecture);
    QFETCH(int, setup);
    QFETCH(QStringList, expected);
    const bool host64 = architecture == QLatin1String("x86_64");
    TestHost host(architecture, setup != NoCryptoPro);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    if (setup == AnotherProductOfTheMaker)
        QVERIFY(TestHost::writeText("SOFTWARE\\Quellon\\Other Product", "Version", "2.1",
                                    KEY_WOW64_32KEY));
    const QStringList beforeInstall = TestHost::registry(kSoftware, KEY_WOW64_64KEY, true);
    if (setup != NoCryptoPro)
        TestHost::install();
    const QStringList installed = TestHost::registry(kSoftware, KEY_WOW64_64KEY, true);
    QStringList modules; // 32-bit, then 64-bit, where the host has such a folder
    for (const QString& folder : {SimulatedHost::cspFolder(), SimulatedHost::cspFolder64()}) {
        if (!folder.isEmpty())
            modules << QDir::toNativeSeparators(folder + QStringLiteral("/vexor.dll"));
    }
    for (const QString& module : modules) {
        QFile::setPermissions(module, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(setup != ModulesDeletedByHand || QFile::remove(module));
    }
    if (setup == NoProgramW6432)
        TestHost::clearProgramW6432();
    // A module loaded by a running program cannot be deleted: its folder
    // loses its write permission, and root gives up overriding that meanwhile.
    const QByteArray folder = QFile::encodeName(SimulatedHost::cspFolder());
    const bool dropOverride = setup == ModuleInUse && geteuid() == 0;
    QVERIFY(setup != ModuleInUse || chmod(folder.constData(), 0555) == 0);
    QVERIFY(!dropOverride || setPermissionOverride(false));
    SimulatedHost::setElevated(setup != NotElevated);
    refusedSubkey = setup == KeyRefused ? QStringLiteral("1") : QString();
    {
        VexorKCryptoProInstaller window;
        window.uninstall();
        refusedSubkey.clear();
        SimulatedHost::setElevated(true);
        QVERIFY(!dropOverride || setPermissionOverride(true));
        QVERIFY(setup != ModuleInUse || chmod(folder.constData(), 0755) == 0);
        QCOMPARE(TestHost::pane(window), withPaths(expected));
    }
    QCOMPARE(TestHost::file(), plain(withPaths(expected)));
    // A missing file handed to delete-at-restart would take the next installation's module.
    QCOMPARE(SimulatedHost::pendingFileOperations(),
             setup == ModuleInUse ? modules.mid(0, 1) : QStringList());

    const QStringList after = TestHost::registry(kSoftware, KEY_WOW64_64KEY, true);
    // Nothing that was there before is lost; the parent keys stay, they are not ours.
    QCOMPARE(added(after, beforeInstall).join('\n'), QString());
    const QString leftOver = added(beforeInstall, after)
                                 .filter(QRegularExpression(QStringLiteral("vexor|quellon")))
                                 .join('\n');
    if (setup == NotElevated)
        QCOMPARE(after, installed);
    else if (setup == KeyRefused)
        QVERIFY(leftOver.contains("cryptography\\currentversion\\keycarriers\\vexor\\1\\"));
    else
        QCOMPARE(leftOver, QString());
    QCOMPARE(modules.size(), setup == NoCryptoPro ? 0 : host64 ? 2 : 1);
    for (int i = 0; i < modules.size(); ++i)
        QCOMPARE(QFile::exists(modules[i]), setup == (i ? NoProgramW6432 : ModuleInUse));
    QVERIFY(setup == NoCryptoPro || QDir(SimulatedHost::cspFolder()).exists());

    if (setup == ModuleInUse) {
        QVERIFY2(hostTool("pending").contains(modules[0]), qPrintable(hostTool("pending")));
        const QString restart = hostTool("restart");
        QVERIFY2(!restart.startsWith(QLatin1String("<failed")), qPrintable(restart));
        QVERIFY(!QFile::exists(modules[0]));
        QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList());
    }
}

QTEST_MAIN(ProceduresTest)
#include "tst_Procedures.moc"
