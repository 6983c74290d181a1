#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTextCodec>
#include <QtTest>

#include "EngineLog.h"
#include "FolderLock.h"
#include "InstalledMarker.h"
#include "RegistrySnapshot.h"
#include "SimulatedHost.h"
#include "TestHost.h"
#include "VexorKCryptoProInstaller.h"

namespace {
const QString kSoftware = QStringLiteral("SOFTWARE");

LogLine keyRemoved(const char* name)
{
    return normal(QString::fromUtf8("Ключ %1 успешно удален!").arg(QString::fromUtf8(name)));
}

LogLine fileRemoved(const QString& folder)
{
    return normal(QString::fromUtf8("Файл %1 успешно удален!")
                      .arg(QDir::toNativeSeparators(folder + QStringLiteral("/vexor.dll"))));
}

const LogLines kNativeKeys{
    keyRemoved("VEXOR"),     keyRemoved("VEXOR_ESMART"),       keyRemoved("VEXOR"),
    keyRemoved("vexor.dll"), keyRemoved("Vexor K Crypto Pro"), keyRemoved("Quellon")};
const LogLines k32BitViewKeys{
    keyRemoved("VEXOR"),        keyRemoved("vexor.dll"),          keyRemoved("VEXOR"),
    keyRemoved("VEXOR_ESMART"), keyRemoved("Vexor K Crypto Pro"), keyRemoved("Quellon")};
const LogLine kDone = normal("Удаление прошло успешно.");
const LogLine kDoneWithErrors = red("Удаление завершено с ошибками!");

// The folder steps of a 64-bit host whose CSP folder exists.
LogLines fileSteps64(const LogLines& files32, const LogLines& files64)
{
    LogLines lines = files32;
    lines << normal("Удаление библиотеки Quellon Vexor K для КриптоПро(64-бита)!") << files64
          << normal("Удаление библиотеки Quellon Vexor K для КриптоПро(64-бита) закончено!");
    return lines;
}

// The whole removal log around what the folder steps and the key rows log.
LogLines uninstallLog(bool host64, const LogLines& fileSteps, const LogLines& nativeKeys,
                      const LogLines& keys32, const LogLine& closing)
{
    LogLines lines{normal("Начинаем удаление..."),
                   normal("Удаление библиотеки Quellon Vexor K для КриптоПро!")};
    lines << fileSteps << normal("Удаление библиотеки Quellon Vexor K для КриптоПро закончено!")
          << normal("Отмена регистрации библиотек PKCS Quellon Vexor K!") << nativeKeys;
    if (host64) {
        lines << normal("Отмена регистрации библиотеки Quellon Vexor K для КриптоПро(64-бита)!")
              << keys32;
    }
    lines << closing;
    return lines;
}

void install()
{
    VexorKCryptoProInstaller window;
    window.findChild<QPushButton*>(QStringLiteral("installButton"))->click();
}

// Runs the host tool on host; its standard output, or a note when it failed.
QString hostTool(const TestHost& host, const QStringList& arguments)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VEXOR_HOST_DIR"), host.folder());
    tool.setProcessEnvironment(environment);
    tool.start(qEnvironmentVariable("VEXOR_HOST_TOOL"), arguments);
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
    void initTestCase();
    void removesWhatWasInstalled_data();
    void removesWhatWasInstalled();
    void aFileInUseIsDeletedAtRestart();
    void aMissingFileIsNotScheduled_data();
    void aMissingFileIsNotScheduled();
    void theMakersKeyWithAnotherProductStays_data();
    void theMakersKeyWithAnotherProductStays();
    void missingFoldersAreReportedAsErrors_data();
    void missingFoldersAreReportedAsErrors();
    void withoutAdministratorRightsNoKeyIsClaimedRemoved();
};

void UninstallProcedureTest::initTestCase()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
}

void UninstallProcedureTest::removesWhatWasInstalled_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::newRow("a 64-bit host loses both builds and both views' keys")
        << QStringLiteral("x86_64");
    QTest::newRow("a 32-bit host loses its build and its one view's keys")
        << QStringLiteral("i386");
}

void UninstallProcedureTest::removesWhatWasInstalled()
{
    QFETCH(QString, architecture);
    const bool is64 = architecture == QLatin1String("x86_64");
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    const auto beforeInstall = RegistrySnapshot::take(kSoftware);
    install();
    QVERIFY(isInstalled());

    const LogLines files32{fileRemoved(host.cspFolder())};
    const LogLines expected =
        uninstallLog(is64, is64 ? fileSteps64(files32, {fileRemoved(host.cspFolder64())}) : files32,
                     kNativeKeys, k32BitViewKeys, kDone);
    {
        VexorKCryptoProInstaller window;
        window.uninstall();
        QCOMPARE(EngineLog::pane(window), expected);
    }
    QCOMPARE(EngineLog::file(), EngineLog::texts(expected));

    const auto after = RegistrySnapshot::take(kSoftware);
    QCOMPARE(RegistrySnapshot::changes(beforeInstall, after), RegistrySnapshot::Values());
    QCOMPARE(RegistrySnapshot::removals(beforeInstall, after), QStringList());
    const QString wow =
        is64 ? QStringLiteral("SOFTWARE\\Wow6432Node\\") : QStringLiteral("SOFTWARE\\");
    const QStringList gone{
        QStringLiteral("SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VEXOR"),
        QStringLiteral("SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VEXOR_ESMART"),
        QStringLiteral("SOFTWARE\\Crypto Pro\\Cryptography\\CurrentVersion\\KeyCarriers\\VEXOR"),
        QStringLiteral("SOFTWARE\\Crypto Pro\\Cryptography\\CurrentVersion\\AppPath\\vexor.dll"),
        wow + QStringLiteral("Microsoft\\Cryptography\\Calais\\SmartCards\\VEXOR"),
        wow + QStringLiteral("Microsoft\\Cryptography\\Calais\\SmartCards\\VEXOR_ESMART"),
        wow + QStringLiteral("Crypto Pro\\Cryptography\\CurrentVersion\\KeyCarriers\\VEXOR"),
        wow + QStringLiteral("Crypto Pro\\Cryptography\\CurrentVersion\\AppPath\\vexor.dll"),
        wow + QStringLiteral("Quellon"),
        QStringLiteral("SOFTWARE\\Quellon"),
    };
    for (const QString& key : gone)
        QVERIFY2(!RegistrySnapshot::keyExists(key), qPrintable(key));

    QVERIFY(!QFile::exists(host.cspFolder() + QStringLiteral("/vexor.dll")));
    QVERIFY(QDir(host.cspFolder()).exists());
    if (is64)
        QVERIFY(!QFile::exists(host.cspFolder64() + QStringLiteral("/vexor.dll")));
    QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList());
    // Asked only now: reading the marker makes its empty keys again.
    QVERIFY(!isInstalled());
}

void UninstallProcedureTest::aFileInUseIsDeletedAtRestart()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    install();
    const QString module =
        QDir::toNativeSeparators(host.cspFolder() + QStringLiteral("/vexor.dll"));

    {
        FolderLock lock(host.cspFolder());
        QVERIFY(lock.isLocked());
        VexorKCryptoProInstaller window;
        window.uninstall();
        lock.unlock();
        const LogLine scheduled =
            normal(QString::fromUtf8("Файл %1 успешно поставлен на удаление после перезагрузки!")
                       .arg(module));
        QCOMPARE(EngineLog::pane(window),
                 uninstallLog(true, fileSteps64({scheduled}, {fileRemoved(host.cspFolder64())}),
                              kNativeKeys, k32BitViewKeys, kDone));
    }
    QVERIFY(QFile::exists(module));
    QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList{module});

    if (qEnvironmentVariableIsEmpty("VEXOR_HOST_TOOL")) {
        QString error;
        QVERIFY2(SimulatedHost::restart(&error), qPrintable(error));
    } else {
        QVERIFY2(hostTool(host, {QStringLiteral("pending")}).contains(module),
                 qPrintable(hostTool(host, {QStringLiteral("pending")})));
        const QString restart = hostTool(host, {QStringLiteral("restart")});
        QVERIFY2(!restart.startsWith(QLatin1String("<failed")), qPrintable(restart));
    }
    QVERIFY(!QFile::exists(module));
    QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList());
}

void UninstallProcedureTest::aMissingFileIsNotScheduled_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::newRow("a 32-bit module deleted by hand on a 32-bit host") << QStringLiteral("i386");
    QTest::newRow("both modules deleted by hand on a 64-bit host") << QStringLiteral("x86_64");
}

void UninstallProcedureTest::aMissingFileIsNotScheduled()
{
    QFETCH(QString, architecture);
    const bool is64 = architecture == QLatin1String("x86_64");
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    install();
    const auto removeByHand = [](const QString& folder) {
        const QString path = folder + QStringLiteral("/vexor.dll");
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return QFile::remove(path);
    };
    QVERIFY(removeByHand(host.cspFolder()));
    if (is64)
        QVERIFY(removeByHand(host.cspFolder64()));

    VexorKCryptoProInstaller window;
    window.uninstall();
    const auto alreadyRemoved = [](const QString& folder) {
        return normal(QString::fromUtf8("Файл %1 уже удален!")
                          .arg(QDir::toNativeSeparators(folder + QStringLiteral("/vexor.dll"))));
    };
    const LogLines files32{alreadyRemoved(host.cspFolder())};
    QCOMPARE(EngineLog::pane(window),
             uninstallLog(
                 is64, is64 ? fileSteps64(files32, {alreadyRemoved(host.cspFolder64())}) : files32,
                 kNativeKeys, k32BitViewKeys, kDone));
    // Nothing may wait for the restart: it would delete the next installation's module.
    QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList());
}

void UninstallProcedureTest::theMakersKeyWithAnotherProductStays_data()
{
    removesWhatWasInstalled_data();
}

void UninstallProcedureTest::theMakersKeyWithAnotherProductStays()
{
    QFETCH(QString, architecture);
    const bool is64 = architecture == QLatin1String("x86_64");
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    install();
    const QString otherProduct = QStringLiteral("SOFTWARE\\Quellon\\Other Product");
    const auto version = RegistrySnapshot::text(QStringLiteral("2.1"));
    QVERIFY(
        RegistrySnapshot::write(otherProduct, QStringLiteral("Version"), version, KEY_WOW64_32KEY));

    VexorKCryptoProInstaller window;
    window.uninstall();

    // The row of the maker's key that holds the other product logs nothing.
    LogLines nativeKeys = kNativeKeys;
    LogLines keys32 = k32BitViewKeys;
    (is64 ? keys32 : nativeKeys).removeLast();
    const LogLines files32{fileRemoved(host.cspFolder())};
    QCOMPARE(EngineLog::pane(window),
             uninstallLog(is64,
                          is64 ? fileSteps64(files32, {fileRemoved(host.cspFolder64())}) : files32,
                          nativeKeys, keys32, kDone));
    QCOMPARE(RegistrySnapshot::take(otherProduct, KEY_WOW64_32KEY),
             (RegistrySnapshot::Values{{QStringLiteral("version"), version}}));
    QVERIFY(!RegistrySnapshot::keyExists(QStringLiteral("SOFTWARE\\Quellon\\Vexor K Crypto Pro"),
                                         KEY_WOW64_32KEY));
}

void UninstallProcedureTest::missingFoldersAreReportedAsErrors_data()
{
    QTest::addColumn<bool>("withCsp");
    QTest::addColumn<bool>("withProgramW6432");
    QTest::newRow("a 64-bit host without a 64-bit program folder keeps its 64-bit module")
        << true << false;
    QTest::newRow("a host without Crypto Pro removes only registry keys") << false << true;
}

void UninstallProcedureTest::missingFoldersAreReportedAsErrors()
{
    QFETCH(bool, withCsp);
    QFETCH(bool, withProgramW6432);
    TestHost host(QStringLiteral("x86_64"), withCsp);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    if (withCsp)
        install();
    if (!withProgramW6432)
        TestHost::clearProgramW6432();

    VexorKCryptoProInstaller window;
    window.uninstall();

    const LogLines fileSteps = withCsp
                                   ? fileSteps64({fileRemoved(host.cspFolder())},
                                                 {red("Не найдена папка с Крипто Про(64-бита)!")})
                                   : LogLines{red("Не найдена папка с Крипто Про!")};
    const LogLines expected =
        uninstallLog(true, fileSteps, kNativeKeys, k32BitViewKeys, kDoneWithErrors);
    QCOMPARE(EngineLog::pane(window), expected);
    if (withCsp)
        QVERIFY(QFile::exists(host.cspFolder64() + QStringLiteral("/vexor.dll")));
    QCOMPARE(SimulatedHost::pendingFileOperations(), QStringList());
}

void UninstallProcedureTest::withoutAdministratorRightsNoKeyIsClaimedRemoved()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    install();
    const auto installed = RegistrySnapshot::take(kSoftware);
    SimulatedHost::setElevated(false);

    VexorKCryptoProInstaller window;
    window.uninstall();
    SimulatedHost::setElevated(true);

    const LogLines lines = EngineLog::pane(window);
    for (const LogLine& line : lines)
        QVERIFY2(!line.text.startsWith(QString::fromUtf8("Ключ")) || line.error,
                 qPrintable(line.text));
    QCOMPARE(lines.last(), kDoneWithErrors);
    QCOMPARE(RegistrySnapshot::removals(installed, RegistrySnapshot::take(kSoftware)),
             QStringList());
    QVERIFY(isInstalled());
}

QTEST_MAIN(UninstallProcedureTest)
#include "tst_UninstallProcedure.moc"
