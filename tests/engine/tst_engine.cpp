#include <algorithm>

#include <QDir>
#include <QFile>
#include <QtTest>

#include "InstallationEngine.h"
#include "InstalledMarker.h"
#include "RawRegistry.h"
#include "TestHost.h"

// The simulated host deletes and shows every key an administrator asks for;
// a key that the system refuses to delete (held open by a service on
// Windows), or to show, is stood in for by link-time wrappers.
namespace {
QString refusedDeletion; // a subkey name
QString refusedReading;  // the end of a key path opened for reading
} // namespace

#ifndef _WIN32
extern "C" {
LONG __real_RegDeleteKeyW(HKEY key, LPCWSTR subkey);
LONG __real_RegOpenKeyExW(HKEY key, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result);

LONG __wrap_RegDeleteKeyW(HKEY key, LPCWSTR subkey)
{
    if (subkey && !refusedDeletion.isEmpty() &&
        QString::fromUtf16(reinterpret_cast<const char16_t*>(subkey)) == refusedDeletion)
        return ERROR_ACCESS_DENIED;
    return __real_RegDeleteKeyW(key, subkey);
}

LONG __wrap_RegOpenKeyExW(HKEY key, LPCWSTR subkey, DWORD options, REGSAM access, PHKEY result)
{
    if (subkey && !refusedReading.isEmpty() &&
        QString::fromUtf16(reinterpret_cast<const char16_t*>(subkey)).endsWith(refusedReading)) {
        *result = nullptr;
        return ERROR_ACCESS_DENIED;
    }
    return __real_RegOpenKeyExW(key, subkey, options, access, result);
}
}
#endif

namespace {
enum Setup
{
    Fresh,
    ModulesPresent,
    ModuleInUse,
    ModulesDeletedByHand,
    AnotherProductOfTheMaker,
    NoProgramW6432,
    NoCryptoPro,
    CspFolderDeleted,
    SecondRemoval,
    KeyHidden,
    NotElevated,
    RemovalNotElevated
};

const QByteArray kOlderBuild("an older build left in place");
// Stand for the module paths, which depend on the host folder.
const QString kModule32 = QStringLiteral("{module32}");
const QString kModule64 = QStringLiteral("{module64}");

QString red(const QString& line)
{
    return QStringLiteral("[red] ") + line;
}

const QString kCopied = QStringLiteral("Файл vexor.dll успешно скопирован!");
const QString kNotCopied = red("Файл vexor.dll не получилось скопировать! Destination file exists");
const QString kNot64 =
    red("Не удалось скопировать библиотеку Quellon Vexor K для КриптоПро(64-бита)!");
const QString kNo64BitFolder = red("Не найдена папка с Крипто Про(64-бита)!");
const QString kDone = QStringLiteral("Успешно!");
const QString kInstalled =
    QStringLiteral("Библиотеки Quellon Vexor K для КриптоПро успешно установлены!");
const QString kInstalledWithErrors =
    red("Установка Quellon Vexor K для КриптоПро завершена с ошибками!");
const QString kRemoved = QStringLiteral("Удаление прошло успешно.");
const QString kRemovedWithErrors = red("Удаление завершено с ошибками!");
const QStringList kNativeKeys{"VEXOR",     "VEXOR_ESMART",       "VEXOR",
                              "vexor.dll", "Vexor K Crypto Pro", "Quellon"};
const QStringList k32BitViewKeys{"VEXOR",        "vexor.dll",          "VEXOR",
                                 "VEXOR_ESMART", "Vexor K Crypto Pro", "Quellon"};

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

// One line per key row: in outcomes, '.' removed, 'r' refused (red), '-' not logged.
QStringList keys(const QStringList& names, const char* outcomes)
{
    QStringList lines;
    for (int i = 0; i < names.size(); ++i) {
        if (outcomes[i] == '.')
            lines << QStringLiteral("Ключ %1 успешно удален!").arg(names[i]);
        else if (outcomes[i] == 'r')
            lines << red(QStringLiteral("Ключ %1 не получилось удалить!").arg(names[i]));
    }
    return lines;
}

QString fileLine(const char* message, const QString& module)
{
    return QString::fromUtf8(message).arg(module);
}

QString valueLine(const QString& path, DWORD type, const QByteArray& data)
{
    return QStringLiteral("%1 = %2 %3").arg(path).arg(type).arg(QLatin1String(data.toHex()));
}

QString textLine(const QString& path, const QString& text)
{
    // UTF-16 code units and the terminating NUL, as REG_SZ keeps them.
    return valueLine(
        path, REG_SZ,
        QByteArray(reinterpret_cast<const char*>(text.utf16()), (text.size() + 1) * 2));
}

// Every value of a complete registration, as RawRegistry words them, so that
// a wrong path, type or byte in the engine's table shows. Without cspFolder64
// the native module path is left out.
QStringList expectedRegistration(bool host64, const HostFacts& host)
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
    QStringList cardPlaces{QStringLiteral("Microsoft\\Cryptography\\Calais\\SmartCards\\")};
    if (host64)
        cardPlaces << wow + cardPlaces.first();
    QStringList lines;
    for (const QString& cards : cardPlaces) {
        for (int i = 0; i < 2; ++i) {
            const QString card = cards + (i ? "VEXOR_ESMART\\|" : "VEXOR\\|");
            lines << valueLine(card + "ATR", REG_BINARY, QByteArray::fromHex(atr[i]))
                  << valueLine(card + "ATRMask", REG_BINARY, QByteArray::fromHex(mask[i]))
                  << textLine(card + "Crypto Provider", provider);
        }
    }
    for (int i = 0; i < 2; ++i) {
        const QString entry = cryptoPro + "KeyCarriers\\VEXOR\\" + (i ? "1\\|" : "Default\\|");
        lines << textLine(entry + "Name", i ? "VEXOR ESMART" : "VEXOR")
              << valueLine(entry + "ATR", REG_BINARY, QByteArray::fromHex(atr[i]))
              << valueLine(entry + "Mask", REG_BINARY, QByteArray::fromHex(mask[i]));
    }
    lines << textLine(cryptoPro + "KeyCarriers\\VEXOR\\|DLL", "vexor.dll")
          << textLine(cryptoPro + "AppPath\\vexor.dll\\|", module(host.cspFolder))
          << textLine(wow + "Quellon\\Vexor K Crypto Pro\\|", "1");
    if (host64 && !host.cspFolder64.isEmpty())
        lines << textLine("Crypto Pro\\Cryptography\\CurrentVersion\\AppPath\\vexor.dll\\|",
                          module(host.cspFolder64));
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

// An engine on the facts of the current host whose every line lands in lines,
// red ones marked as red() marks them.
struct RecordingEngine
{
    explicit RecordingEngine(const HostFacts& host)
        : engine(host, [this](const QString& message, bool isError) {
              lines << (isError ? red(message) : message);
          })
    {
    }
    QStringList lines;
    InstallationEngine engine;
};
} // namespace

class EngineTest : public QObject
{
    Q_OBJECT

private slots:
    void installThenRemove_data();
    void installThenRemove();
    void onlyTheTextOneMeansInstalled_data();
    void onlyTheTextOneMeansInstalled();
    void hostDetectionFindsTheFolders_data();
    void hostDetectionFindsTheFolders();
};

void EngineTest::installThenRemove_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<int>("setup");
    QTest::addColumn<QStringList>("installed"); // the install's log
    QTest::addColumn<QStringList>("removed");   // the removal's log

    const QStringList route64 = installLog(kCopied, {kCopied, kDone}, kDone, {kInstalled});
    const QStringList route32 = installLog(kCopied, {}, kDone, {kInstalled});
    const QStringList cancelled{"Начинаем установку...",
                                "Копирование библиотеки Quellon Vexor K для КриптоПро!",
                                red("Не найдена папка с Крипто Про! Отмена установки!")};
    const QStringList files32{fileLine("Файл %1 успешно удален!", kModule32)};
    const QStringList files64{fileLine("Файл %1 успешно удален!", kModule64)};
    const QStringList gone{fileLine("Файл %1 уже удален!", kModule32)};
    const QStringList gone64{fileLine("Файл %1 уже удален!", kModule64)};
    const QStringList noCsp{red("Не найдена папка с Крипто Про!")};
    const QStringList native = keys(kNativeKeys, "......");
    const QStringList view32 = keys(k32BitViewKeys, "......");
    const QStringList removal64 = uninstallLog(files32, files64, native, view32, kRemoved);

    QTest::newRow("a 64-bit host gets both builds and 22 values, and loses them all")
        << "x86_64" << int(Fresh) << route64 << removal64;
    QTest::newRow("an arm64 host is a 64-bit host both ways")
        << "arm64" << int(Fresh) << route64 << removal64;
    QTest::newRow("a 32-bit host gets its build and 15 values in its one view, and loses them")
        << "i386" << int(Fresh) << route32 << uninstallLog(files32, {}, native, {}, kRemoved);
    QTest::newRow("installing again keeps the present modules and reports them")
        << "x86_64" << int(ModulesPresent)
        << installLog(kNotCopied, {kNotCopied, kNot64}, kDone, {kInstalledWithErrors}) << removal64;
    QTest::newRow("without a 64-bit program folder no 64-bit module is copied or removed")
        << "x86_64" << int(NoProgramW6432)
        << installLog(kCopied, {kNo64BitFolder, kNot64}, kDone, {kInstalledWithErrors})
        << uninstallLog(files32, {kNo64BitFolder}, native, view32, kRemovedWithErrors);
    QTest::newRow("a host without Crypto Pro is not touched, and its removal creates no key")
        << "x86_64" << int(NoCryptoPro) << cancelled
        << uninstallLog(noCsp, {}, native, view32, kRemovedWithErrors);
    QTest::newRow("a CSP folder deleted after Crypto Pro was installed cancels the install")
        << "x86_64" << int(CspFolderDeleted) << cancelled
        << uninstallLog(noCsp, {}, native, view32, kRemovedWithErrors);
    QTest::newRow("an install without administrator rights writes nothing and claims nothing")
        << "x86_64" << int(NotElevated)
        << installLog(kCopied, {kCopied, kDone},
                      red("Не удалось зарегистрировать библиотеку Quellon Vexor K для КриптоПро!"),
                      {red("Не удалось записать признак установки Quellon Vexor K для КриптоПро!"),
                       kInstalledWithErrors})
        << QStringList();
    // Keys that are not there are gone; the maker's key in the 32-bit view
    // still holds the marker, so it is not tried.
    QTest::newRow("a removal without administrator rights claims no present key removed")
        << "x86_64" << int(RemovalNotElevated) << route64
        << uninstallLog(files32, files64, keys(kNativeKeys, "rr.r.."),
                        keys(k32BitViewKeys, "rrrrr-"), kRemovedWithErrors);
    QTest::newRow("a module in use is scheduled for deletion at the next restart")
        << "x86_64" << int(ModuleInUse) << route64
        << uninstallLog(
               {fileLine("Файл %1 успешно поставлен на удаление после перезагрузки!", kModule32)},
               files64, native, view32, kRemoved);
    QTest::newRow("modules deleted by hand are reported gone, and none is scheduled")
        << "x86_64" << int(ModulesDeletedByHand) << route64
        << uninstallLog(gone, gone64, native, view32, kRemoved);
    QTest::newRow("a second removal finds everything gone and creates nothing")
        << "x86_64" << int(SecondRemoval) << route64
        << uninstallLog(gone, gone64, native, view32, kRemoved);
    QTest::newRow("on a 64-bit host the maker's key holding another product stays, silently")
        << "x86_64" << int(AnotherProductOfTheMaker) << route64
        << uninstallLog(files32, files64, native, keys(k32BitViewKeys, ".....-"), kRemoved);
    QTest::newRow("on a 32-bit host the maker's key holding another product stays, silently")
        << "i386" << int(AnotherProductOfTheMaker) << route32
        << uninstallLog(files32, {}, keys(kNativeKeys, ".....-"), {}, kRemoved);
    QTest::newRow("a key carrier the system refuses to delete and to show is not called gone")
        << "i386" << int(KeyHidden) << route32
        << uninstallLog(files32, {}, keys(kNativeKeys, "..r..."), {}, kRemovedWithErrors);
}

void EngineTest::installThenRemove()
{
    QFETCH(QString, architecture);
    QFETCH(int, setup);
    QFETCH(QStringList, installed);
    QFETCH(QStringList, removed);
    if (!TestHost::canBe(architecture))
        QSKIP("A Windows process runs on its own machine's architecture only.");
    if (!TestHost::simulated && (setup == NotElevated || setup == RemovalNotElevated))
        QSKIP("A Windows process cannot give up its administrator rights and take them back.");
    if (!TestHost::simulated && setup == KeyHidden)
        QSKIP("The linker's stand-ins for registry calls cannot reach a Windows program's.");
    TestHost host(architecture, setup != NoCryptoPro);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    if (setup == NoProgramW6432)
        TestHost::clearProgramW6432();
    QVERIFY(setup != CspFolderDeleted || QDir(TestHost::cspFolder()).removeRecursively());
    if (setup == AnotherProductOfTheMaker)
        QVERIFY(RawRegistry::plant(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quellon",
                                   {"Other Product|Version=2.1"}, KEY_WOW64_32KEY));
    const HostFacts facts = host.facts();
    const bool host64 = architecture != QLatin1String("i386");
    QCOMPARE(facts.is64Bit(), host64);
    const bool written = setup != NoCryptoPro && setup != CspFolderDeleted && setup != NotElevated;
    const QStringList before = TestHost::software();
    QStringList modules; // 32-bit, then 64-bit, where the host has such a folder
    for (const QString& folder : {TestHost::cspFolder(), TestHost::cspFolder64()}) {
        if (!folder.isEmpty())
            modules << QDir::toNativeSeparators(folder + QStringLiteral("/vexor.dll"));
    }
    if (setup == ModulesPresent) {
        RecordingEngine(facts).engine.install();
        for (const QString& module : modules) {
            QFile file(module);
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kOlderBuild) > 0);
        }
    }

    TestHost::setElevated(setup != NotElevated);
    RecordingEngine install(facts);
    const ProcedureOutcome outcome = install.engine.install();
    TestHost::setElevated(true);
    QCOMPARE(install.lines, installed);
    QCOMPARE(outcome.cancelled, installed.last().contains("Отмена установки"));
    QCOMPARE(outcome.failed ? red(outcome.closingLine) : outcome.closingLine, installed.last());
    const QStringList afterInstall = TestHost::software();
    QCOMPARE(added(before, afterInstall).filter(QStringLiteral("|")),
             written ? expectedRegistration(host64, facts) : QStringList());
    QVERIFY(written || afterInstall == before);
    // The key carrier belongs to the 32-bit programs' view only.
    QVERIFY(!host64 || !afterInstall.contains(
                           "Crypto Pro\\Cryptography\\CurrentVersion\\KeyCarriers\\VEXOR\\"));
    QCOMPARE(isInstalled(), written);
    const QString payload = QStringLiteral(":/VEXOR_K_CryptoProInstaller/Resources/%1/vexor.dll");
    for (int i = 0; i < modules.size(); ++i) {
        const bool copied = !outcome.cancelled && (i == 0 || setup != NoProgramW6432);
        QCOMPARE(contents(modules[i]), setup == ModulesPresent ? kOlderBuild
                                       : copied ? contents(payload.arg(i ? "x64" : "x86"))
                                                : QByteArray("<missing>"));
    }
    if (removed.isEmpty())
        return;

    for (const QString& module : modules) {
        QFile::setPermissions(module, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(setup != ModulesDeletedByHand || QFile::remove(module));
    }
    if (setup == SecondRemoval)
        RecordingEngine(facts).engine.uninstall();
    // A 64-bit module put there otherwise stays when the 64-bit folder is unknown.
    QVERIFY(setup != NoProgramW6432 || QFile::copy(payload.arg("x64"), modules[1]));
    const QStringList beforeRemoval = TestHost::software();
    QVERIFY(setup != ModuleInUse || host.holdInUse(modules[0]));
    TestHost::setElevated(setup != RemovalNotElevated);
    refusedDeletion = setup == KeyHidden ? QStringLiteral("1") : QString();
    refusedReading = setup == KeyHidden ? QStringLiteral("KeyCarriers\\VEXOR") : QString();
    RecordingEngine removal(facts);
    const ProcedureOutcome removalOutcome = removal.engine.uninstall();
    refusedDeletion.clear();
    refusedReading.clear();
    TestHost::setElevated(true);
    QVERIFY(host.release());

    QCOMPARE(removal.lines, removed.replaceInStrings(kModule32, modules.value(0))
                                .replaceInStrings(kModule64, modules.value(1)));
    QCOMPARE(removalOutcome.failed ? red(removalOutcome.closingLine) : removalOutcome.closingLine,
             removed.last());
    // A missing file handed to delete-at-restart would take the next installation's module.
    QCOMPARE(TestHost::pendingFileOperations(),
             setup == ModuleInUse ? modules.mid(0, 1) : QStringList());
    for (int i = 0; i < modules.size(); ++i)
        QCOMPARE(QFile::exists(modules[i]), setup == (i ? NoProgramW6432 : ModuleInUse));
    QVERIFY(setup == NoCryptoPro || QDir(TestHost::cspFolder()).exists() ||
            setup == CspFolderDeleted);

    const QStringList after = TestHost::software();
    // Nothing that was there before is lost; the parent keys stay, they are not ours.
    QCOMPARE(added(after, before), QStringList());
    // Of the module nothing is left; another product keeps the maker's key.
    const QStringList leftOver = after.filter(QRegularExpression(
        QStringLiteral("vexor|quellon"), QRegularExpression::CaseInsensitiveOption));
    if (!written)
        QCOMPARE(after, before); // removal creates nothing
    else if (setup == RemovalNotElevated || setup == SecondRemoval)
        QCOMPARE(after, beforeRemoval);
    else if (setup == KeyHidden)
        QVERIFY(
            leftOver.contains("Crypto Pro\\Cryptography\\CurrentVersion\\KeyCarriers\\VEXOR\\1\\"));
    else
        QCOMPARE(leftOver, after.filter(QRegularExpression("Quellon\\\\$|Other Product")));
}

void EngineTest::onlyTheTextOneMeansInstalled_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QString>("key"); // empty: no marker is written
    QTest::addColumn<REGSAM>("view");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<bool>("installed");

    const QString x64 = QStringLiteral("x86_64");
    const QString application = QStringLiteral("SOFTWARE\\Quellon\\Vexor K Crypto Pro");
    const REGSAM view32 = KEY_WOW64_32KEY;
    QTest::newRow("a host never installed on is not installed")
        << x64 << QString() << view32 << QString() << false;
    QTest::newRow("the text 1 in the application key means installed")
        << x64 << application << view32 << "1" << true;
    QTest::newRow("the text 0 does not") << x64 << application << view32 << "0" << false;
    QTest::newRow("a 1 followed by a space does not")
        << x64 << application << view32 << "1 " << false;
    QTest::newRow("the text 1 in OrganizationDefaults alone means installed")
        << x64 << "SOFTWARE\\Quellon\\OrganizationDefaults" << view32 << "1" << true;
    QTest::newRow("a marker in the native 64-bit view only is not seen")
        << x64 << application << REGSAM(KEY_WOW64_64KEY) << "1" << false;
}

void EngineTest::onlyTheTextOneMeansInstalled()
{
    QFETCH(QString, architecture);
    QFETCH(QString, key);
    QFETCH(REGSAM, view);
    QFETCH(QString, marker);
    QFETCH(bool, installed);
    if (!TestHost::canBe(architecture))
        QSKIP("A Windows process runs on its own machine's architecture only.");
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    QVERIFY(key.isEmpty() || RawRegistry::plant(HKEY_LOCAL_MACHINE, key, {"|=" + marker}, view));
    const QStringList before = TestHost::software().filter(QStringLiteral("|"));

    QCOMPARE(isInstalled(), installed);
    // Reading never writes a value, not even a default one.
    QCOMPARE(TestHost::software().filter(QStringLiteral("|")), before);
}

void EngineTest::hostDetectionFindsTheFolders_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QString>("location"); // null: Crypto Pro is not installed
    QTest::addColumn<QString>("entry");    // an environment entry NAME=value
    QTest::addColumn<QString>("cspFolder");
    QTest::addColumn<QString>("cspFolder64");

    const QString x64 = QStringLiteral("x86_64");
    const QString sep = QDir::separator();
    const QString other = sep == QLatin1String("/") ? QStringLiteral("\\") : QStringLiteral("/");
    const QString folder = QStringLiteral("C:") + sep + QStringLiteral("CSP");
    const auto csp = [sep](const QString& programFiles) {
        return programFiles + sep + QStringLiteral("Crypto Pro") + sep + QStringLiteral("CSP");
    };
    const QString entry = QStringLiteral("ProgramW6432=C:/P");
    QTest::newRow("the installer's trailing separator is removed")
        << x64 << folder + sep << entry << folder << csp("C:/P");
    QTest::newRow("of two trailing separators only the last is removed")
        << x64 << folder + sep + sep << entry << folder + sep << csp("C:/P");
    QTest::newRow("the other kind of slash at the end is kept")
        << x64 << folder + other << entry << folder + other << csp("C:/P");
    QTest::newRow("a host without Crypto Pro gives no folder")
        << x64 << QString() << entry << QString() << csp("C:/P");
    QTest::newRow("a name in capitals is found")
        << x64 << folder << "PROGRAMW6432=D:/P" << folder << csp("D:/P");
    QTest::newRow("an empty value leaves only the CSP's place")
        << x64 << folder << "ProgramW6432=" << folder << csp(QString());
    QTest::newRow("a value with an equals sign is cut there")
        << x64 << folder << "ProgramW6432=A=B" << folder << csp("A");
    QTest::newRow("a longer name ending differently does not match")
        << x64 << folder << "ProgramW6432X=C:/P" << folder << QString();
    QTest::newRow("a longer name beginning differently does not match")
        << x64 << folder << "XProgramW6432=C:/P" << folder << QString();
    QTest::newRow("a 32-bit host has no 64-bit folder")
        << "i386" << folder << entry << folder << QString();
}

void EngineTest::hostDetectionFindsTheFolders()
{
    QFETCH(QString, architecture);
    QFETCH(QString, location);
    QFETCH(QString, entry);
    QFETCH(QString, cspFolder);
    QFETCH(QString, cspFolder64);
    if (!TestHost::canBe(architecture))
        QSKIP("A Windows process runs on its own machine's architecture only.");
    TestHost host(architecture, !location.isNull());
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    QVERIFY(location.isNull() ||
            RawRegistry::plant(HKEY_LOCAL_MACHINE, TestHost::cryptoProProperties(),
                               {"|InstallLocation=" + location}));
    TestHost::clearProgramW6432();
    const QByteArray name = entry.section('=', 0, 0).toLatin1();
    const QByteArray value = entry.section('=', 1).toLatin1();
    if (!TestHost::simulated && value.isEmpty())
        QSKIP("Windows' C library takes an empty value as a removal of the entry.");
    qputenv(name.constData(), value);
    const HostFacts facts = host.facts();
    qunsetenv(name.constData());
    QCOMPARE(facts.cspFolder, cspFolder);
    QCOMPARE(facts.cspFolder64, cspFolder64);
}

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
