#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include "EngineLog.h"
#include "RegistrySnapshot.h"
#include "SimulatedHost.h"
#include "TestHost.h"
#include "VexorKCryptoProInstaller.h"
#include "WinApi.h"

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
    ModulesDeletedByHand,
    AnotherProductOfTheMaker,
    NoProgramW6432,
    NoCryptoPro,
    KeyRefused,
    NotElevated
};

const QString kSoftware = QStringLiteral("SOFTWARE");
const QStringList kNativeKeys{"VEXOR",     "VEXOR_ESMART",       "VEXOR",
                              "vexor.dll", "Vexor K Crypto Pro", "Quellon"};
const QStringList k32BitViewKeys{"VEXOR",        "vexor.dll",          "VEXOR",
                                 "VEXOR_ESMART", "Vexor K Crypto Pro", "Quellon"};
const LogLine kDone = normal("Удаление прошло успешно.");
const LogLine kWithErrors = red("Удаление завершено с ошибками!");
// Stand for the module paths, which depend on the host folder.
const QString kModule32 = QStringLiteral("{module32}");
const QString kModule64 = QStringLiteral("{module64}");

LogLines keys(const QStringList& names, int refusedFrom = -1, int refusedTo = -1)
{
    LogLines lines;
    for (int i = 0; i < names.size(); ++i)
        lines << (i >= refusedFrom && i <= refusedTo
                      ? red(QStringLiteral("Ключ %1 не получилось удалить!").arg(names[i]))
                      : normal(QStringLiteral("Ключ %1 успешно удален!").arg(names[i])));
    return lines;
}

LogLine removed(const QString& module)
{
    return normal(QStringLiteral("Файл %1 успешно удален!").arg(module));
}

LogLine alreadyRemoved(const QString& module)
{
    return normal(QStringLiteral("Файл %1 уже удален!").arg(module));
}

// The removal log around the folder steps and the key rows; files64 and
// keys32 are empty when the host has no such step.
LogLines uninstallLog(const LogLines& files32, const LogLines& files64, const LogLines& nativeKeys,
                      const LogLines& keys32, const LogLine& closing)
{
    LogLines lines{normal("Начинаем удаление..."),
                   normal("Удаление библиотеки Quellon Vexor K для КриптоПро!")};
    lines << files32;
    if (!files64.isEmpty())
        lines << normal("Удаление библиотеки Quellon Vexor K для КриптоПро(64-бита)!") << files64
              << normal("Удаление библиотеки Quellon Vexor K для КриптоПро(64-бита) закончено!");
    lines << normal("Удаление библиотеки Quellon Vexor K для КриптоПро закончено!")
          << normal("Отмена регистрации библиотек PKCS Quellon Vexor K!") << nativeKeys;
    if (!keys32.isEmpty())
        lines << normal("Отмена регистрации библиотеки Quellon Vexor K для КриптоПро(64-бита)!")
              << keys32;
    return lines << closing;
}

LogLines withPaths(LogLines lines, const TestHost& host)
{
    for (LogLine& line : lines) {
        line.text.replace(kModule32, QDir::toNativeSeparators(host.cspFolder() + "/vexor.dll"));
        line.text.replace(kModule64, QDir::toNativeSeparators(host.cspFolder64() + "/vexor.dll"));
    }
    return lines;
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

// Runs the host tool on host; its standard output, or a note when it failed.
QString hostTool(const TestHost& host, const QString& command)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VEXOR_HOST_DIR"), host.folder());
    tool.setProcessEnvironment(environment);
    tool.start(qEnvironmentVariable("VEXOR_HOST_TOOL"), {command});
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
        return QStringLiteral("<failed: %1>")
            .arg(QString::fromLocal8Bit(tool.readAllStandardError()));
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}
} // namespace

class UninstallProcedureTest : public QObject
{
    Q_OBJECT

private slots:
    void removesWhatWasInstalled_data();
    void removesWhatWasInstalled();
    void aModuleInUseIsDeletedAtRestart();
};

void UninstallProcedureTest::removesWhatWasInstalled_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<int>("setup");
    QTest::addColumn<LogLines>("expected");

    const LogLines files32{removed(kModule32)};
    const LogLines files64{removed(kModule64)};
    const LogLines native = keys(kNativeKeys);
    const LogLines view32 = keys(k32BitViewKeys);
    QTest::newRow("a 64-bit host loses both builds and both views' keys")
        << "x86_64" << int(Installed) << uninstallLog(files32, files64, native, view32, kDone);
    QTest::newRow("a 32-bit host loses its build and its one view's keys")
        << "i386" << int(Installed) << uninstallLog(files32, {}, native, {}, kDone);
    QTest::newRow("modules deleted by hand on a 64-bit host are reported gone, none is scheduled")
        << "x86_64" << int(ModulesDeletedByHand)
        << uninstallLog({alreadyRemoved(kModule32)}, {alreadyRemoved(kModule64)}, native, view32,
                        kDone);
    QTest::newRow("a module deleted by hand on a 32-bit host is reported gone, not scheduled")
        << "i386" << int(ModulesDeletedByHand)
        << uninstallLog({alreadyRemoved(kModule32)}, {}, native, {}, kDone);
    QTest::newRow("on a 64-bit host the maker's key holding another product stays, silently")
        << "x86_64" << int(AnotherProductOfTheMaker)
        << uninstallLog(files32, files64, native, view32.mid(0, 5), kDone);
    QTest::newRow("on a 32-bit host the maker's key holding another product stays, silently")
        << "i386" << int(AnotherProductOfTheMaker)
        << uninstallLog(files32, {}, native.mid(0, 5), {}, kDone);
    QTest::newRow("a 64-bit host without a 64-bit program folder keeps its 64-bit module")
        << "x86_64" << int(NoProgramW6432)
        << uninstallLog(files32, {red("Не найдена папка с Крипто Про(64-бита)!")}, native, view32,
                        kWithErrors);
    QTest::newRow("a host without Crypto Pro removes only registry keys")
        << "x86_64" << int(NoCryptoPro)
        << uninstallLog({red("Не найдена папка с Крипто Про!")}, {}, native, view32, kWithErrors);
    QTest::newRow("a key carrier the system refuses to delete is reported and stays")
        << "i386" << int(KeyRefused)
        << uninstallLog(files32, {}, keys(kNativeKeys, 2, 2), {}, kWithErrors);
    // The maker's key in the 32-bit view still holds the marker, so it is not tried.
    QTest::newRow("without administrator rights no key is claimed removed")
        << "x86_64" << int(NotElevated)
        << uninstallLog(files32, files64, keys(kNativeKeys, 0, 5),
                        keys(k32BitViewKeys, 0, 4).mid(0, 5), kWithErrors);
}

void UninstallProcedureTest::removesWhatWasInstalled()
{
    QFETCH(QString, architecture);
    QFETCH(int, setup);
    QFETCH(LogLines, expected);
    const bool host64 = architecture == QLatin1String("x86_64");
    TestHost host(architecture, setup != NoCryptoPro);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    const QString otherProduct = QStringLiteral("SOFTWARE\\Quellon\\Other Product");
    if (setup == AnotherProductOfTheMaker)
        QVERIFY(RegistrySnapshot::writeText(otherProduct, "Version", "2.1", KEY_WOW64_32KEY));
    const QStringList beforeInstall = RegistrySnapshot::take(kSoftware, KEY_WOW64_64KEY, true);
    if (setup != NoCryptoPro)
        TestHost::install();
    const QStringList installed = RegistrySnapshot::take(kSoftware, KEY_WOW64_64KEY, true);
    const QString module32 = host.cspFolder() + QStringLiteral("/vexor.dll");
    const QString module64 = host.cspFolder64() + QStringLiteral("/vexor.dll");
    if (setup == ModulesDeletedByHand) {
        for (const QString& module :
             host64 ? QStringList{module32, module64} : QStringList{module32}) {
            QFile::setPermissions(module, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            QVERIFY(QFile::remove(module));
        }
    }
    if (setup == NoProgramW6432)
        TestHost::clearProgramW6432();
    SimulatedHost::setElevated(setup != NotElevated);
    refusedSubkey = setup == KeyRefused ? QStringLiteral("1") : QString();
    {
        VexorKCryptoProInstaller window;
        window.uninstall();
        refusedSubkey.clear();
        SimulatedHost::setElevated(true);
        QCOMPARE(EngineLog::pane(window), withPaths(expected, host));
    }
    QCOMPARE(EngineLog::file(), EngineLog::texts(withPaths(expected, host)));
    // A missing file handed to delete-at-restart would take the next installation's module.
    QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList());

    const QStringList after = RegistrySnapshot::take(kSoftware, KEY_WOW64_64KEY, true);
    // Nothing that was there before is lost; the parent keys stay, they are not ours.
    QCOMPARE(RegistrySnapshot::added(after, beforeInstall).join('\n'), QString());
    const QString leftOver = RegistrySnapshot::added(beforeInstall, after)
                                 .filter(QRegularExpression(QStringLiteral("vexor|quellon")))
                                 .join('\n');
    if (setup == NotElevated)
        QCOMPARE(after, installed);
    else if (setup == KeyRefused)
        QVERIFY(
            leftOver.contains("crypto pro\\cryptography\\currentversion\\keycarriers\\vexor\\1\\"));
    else
        QCOMPARE(leftOver, QString());
    if (setup != NoCryptoPro) {
        QVERIFY(!QFile::exists(module32));
        QVERIFY(QDir(host.cspFolder()).exists());
    }
    if (host64 && setup != NoCryptoPro)
        QCOMPARE(QFile::exists(module64), setup == NoProgramW6432);
}

void UninstallProcedureTest::aModuleInUseIsDeletedAtRestart()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    TestHost::install();
    const QString module = QDir::toNativeSeparators(host.cspFolder() + "/vexor.dll");
    // A module loaded by a running program cannot be deleted: the folder
    // loses its write permission, and root gives up overriding it meanwhile.
    const QByteArray folder = QFile::encodeName(host.cspFolder());
    const bool root = geteuid() == 0;
    QVERIFY(chmod(folder.constData(), 0555) == 0);
    QVERIFY(!root || setPermissionOverride(false));
    LogLines lines;
    {
        VexorKCryptoProInstaller window;
        window.uninstall();
        lines = EngineLog::pane(window);
    }
    QVERIFY(!root || setPermissionOverride(true));
    QVERIFY(chmod(folder.constData(), 0755) == 0);
    const LogLine scheduled = normal(
        QStringLiteral("Файл %1 успешно поставлен на удаление после перезагрузки!").arg(module));
    QCOMPARE(lines, withPaths(uninstallLog({scheduled}, {removed(kModule64)}, keys(kNativeKeys),
                                           keys(k32BitViewKeys), kDone),
                              host));
    QVERIFY(QFile::exists(module));
    QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList{module});

    QVERIFY2(hostTool(host, "pending").contains(module), qPrintable(hostTool(host, "pending")));
    const QString restart = hostTool(host, "restart");
    QVERIFY2(!restart.startsWith(QLatin1String("<failed")), qPrintable(restart));
    QVERIFY(!QFile::exists(module));
    QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList());
}

QTEST_MAIN(UninstallProcedureTest)
#include "tst_UninstallProcedure.moc"
