#include <algorithm>
#include <optional>

#include <QtTest>

#include "InstallationEngine.h"
#include "InstalledMarker.h"
#include "RawRegistry.h"
#include "RegistryFault.h"
#include "SimulatedHost.h"
#include "TestHost.h"

// The engine on fresh simulated hosts. What a machine holds after an install,
// and the log of each procedure, are the files of tests/machine.
static QStringList machineFile(const QString& name)
{
    QFile file(QStringLiteral(MACHINE_DIR "/") + name);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// Host paths as the Windows paths they stand for; nothing else the engine
// writes or logs holds a slash.
static QString windows(QString text)
{
    return text.replace(TestHost::systemDrive(), "C:").replace('/', '\\');
}

// Every key below HKLM\SOFTWARE whose path names the product and that has
// values, with its values, as reg query lists them.
static QStringList listing()
{
    QMap<QString, QStringList> keys;
    const QRegularExpression entry(R"(^(.*(?i:vexor|quellon).*)\\\|(.*) = (\d+) (\w*)$)");
    for (const QString& line : TestHost::software().filter(entry)) {
        const QRegularExpressionMatch value = entry.match(line);
        const QByteArray data = QByteArray::fromHex(value.captured(4).toLatin1());
        const QString text =
            QString::fromUtf16(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2 - 1);
        const QString name = value.captured(2).isEmpty() ? "(Default)" : value.captured(2);
        const QString shown = value.captured(3) == "1" ? "REG_SZ    " + windows(text)
                                                       : "REG_BINARY    " + data.toHex().toUpper();
        keys[value.captured(1)] << "    " + name + "    " + shown;
    }
    QStringList lines;
    for (auto key = keys.cbegin(); key != keys.cend(); ++key)
        lines << "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + key.key() << key.value();
    return lines;
}

class EngineTest : public QObject
{
    Q_OBJECT

    // emplace() ends the old host before it makes the new one.
    std::optional<TestHost> m_host;
    QStringList m_log;

    // Registry faults armed last for one procedure, rights taken until the next.
    ProcedureOutcome run(bool install, bool elevated = true)
    {
        m_log.clear();
        SimulatedHost::setElevated(elevated);
        InstallationEngine engine(m_host->facts(),
                                  [this](const QString& line, bool) { m_log << windows(line); });
        const auto disarm = qScopeGuard([] { RegistryFault::armed.clear(); });
        return install ? engine.install() : engine.uninstall();
    }

private slots:
    void lifecycle_data()
    {
        QTest::addColumn<QString>("architecture");
        for (const char* architecture : {"x86_64", "arm64", "i386"})
            QTest::newRow(architecture) << QString(architecture);
    }

    // One machine of each kind through installs and removals, fault-free, then
    // without rights and with refusals.
    void lifecycle()
    {
        QFETCH(QString, architecture);
        const QString kind = architecture == "i386" ? "x86" : "x64";
        const QStringList installed = machineFile(kind + "-installed.txt");
        QVERIFY(m_host.emplace(architecture, true).isReady());
        const QStringList before = TestHost::software();
        QVERIFY(!run(true).failed);
        QCOMPARE(m_log, machineFile("install-" + kind + ".log"));
        QCOMPARE(listing(), installed);
        // A second install keeps the modules in place, says so, and changes nothing.
        const QStringList once = TestHost::software();
        QVERIFY(run(true).failed);
        QCOMPARE(TestHost::software(), once);
        QCOMPARE(m_log.filter("Destination file exists").size(), kind == "x64" ? 2 : 1);
        // The removal takes all of the product, and nothing else; it creates nothing.
        QVERIFY(!run(false).failed);
        QCOMPARE(m_log, machineFile("remove-" + kind + ".log"));
        QCOMPARE(listing(), QStringList());
        const QStringList removed = TestHost::software();
        QVERIFY(std::includes(removed.cbegin(), removed.cend(), before.cbegin(), before.cend()));
        QVERIFY(std::includes(once.cbegin(), once.cend(), removed.cbegin(), removed.cend()));

        // Without administrator rights an install writes nothing and claims no registration.
        QVERIFY(run(true, false).failed);
        QCOMPARE(m_log.filter("Не удалось зарегистрировать").size(), 1);
        QCOMPARE(TestHost::software(), removed);
        // A refused value is reported, and the others are written.
        RegistryFault::armed = {{"RegSetValueExW", "Crypto Provider", ERROR_ACCESS_DENIED, true}};
        QVERIFY(run(true).failed);
        QCOMPARE(m_log.filter("Не удалось зарегистрировать").size(), 1);
        QCOMPARE(listing(), installed.filter(QRegularExpression("^(?!    Crypto Provider )")));
        // Without rights a removal changes nothing and calls no key that holds
        // the product gone; the key carrier's subkeys go with it.
        const QStringList registered = TestHost::software();
        QVERIFY(run(false, false).failed);
        QCOMPARE(TestHost::software(), registered);
        QCOMPARE(m_log.filter("не получилось удалить").size(),
                 installed.filter(QRegularExpression(R"(^HKEY(?!.*VEXOR\\))")).size());
        // A key the system refuses to delete, and then to show, is not called gone, and stays.
        RegistryFault::armed = {
            {"RegDeleteKeyExW", "1", ERROR_ACCESS_DENIED, true},
            {"RegOpenKeyExW", "*KeyCarriers\\VEXOR", ERROR_ACCESS_DENIED, true}};
        QVERIFY(run(false).failed);
        QVERIFY(m_log.contains("Ключ VEXOR не получилось удалить!"));
        QCOMPARE(listing().filter("KeyCarriers\\VEXOR\\1").size(), 1);
    }

    // What a removal must not take, or cannot yet: a module in use is queued
    // for deletion at restart; one deleted by hand is reported gone, and not
    // queued; the maker's key holding another product stays, unmentioned.
    void removalLeaves()
    {
        QVERIFY(m_host.emplace("x86_64", true).isReady());
        QVERIFY(RawRegistry::plant(HKEY_LOCAL_MACHINE, "SOFTWARE",
                                   {"Quellon\\Other Product|Version=2.1"}, KEY_WOW64_32KEY));
        const QStringList planted = listing();
        QVERIFY(!run(true).failed);
        QVERIFY(m_host->holdInUse(SimulatedHost::cspFolder() + "/vexor.dll"));
        QVERIFY(QFile::remove(SimulatedHost::cspFolder64() + "/vexor.dll"));
        // The log's third and fifth lines tell of the 32- and 64-bit module.
        QStringList expected = machineFile("remove-x64.log");
        expected[2].replace("успешно удален", "успешно поставлен на удаление после перезагрузки");
        expected[4].replace("успешно удален", "уже удален");
        expected.removeAt(expected.lastIndexOf("Ключ Quellon успешно удален!"));
        QVERIFY(!run(false).failed);
        QCOMPARE(m_log, expected);
        QCOMPARE(TestHost::pendingFileOperations(),
                 QStringList(SimulatedHost::cspFolder() + "/vexor.dll"));
        QCOMPARE(listing(), planted);
    }

    // Without Crypto Pro, or with its CSP folder deleted, an install is
    // cancelled and changes nothing.
    void withoutCspFolder()
    {
        for (const bool withCryptoPro : {false, true}) {
            QVERIFY(m_host.emplace("x86_64", withCryptoPro).isReady());
            QVERIFY(!withCryptoPro || QDir(SimulatedHost::cspFolder()).removeRecursively());
            const QStringList before = TestHost::software();
            QVERIFY(run(true).cancelled);
            QCOMPARE(m_log, machineFile("cancel.log"));
            QCOMPARE(TestHost::software(), before);
        }
    }

    // Without ProgramW6432 there is no 64-bit folder: no 64-bit module, and errors.
    void withoutProgramFolder64()
    {
        QVERIFY(m_host.emplace("x86_64", true).isReady());
        TestHost::clearProgramW6432();
        QVERIFY(run(true).failed);
        QVERIFY(!QFile::exists(SimulatedHost::cspFolder64() + "/vexor.dll"));
        // All but the 64-bit module's path, the first key listed.
        QCOMPARE(listing(), machineFile("x64-installed.txt").mid(2));
    }

    // Only the text 1 in the maker's key of the 32-bit view, the first row.
    void installedMarker()
    {
        const QStringList rows[] = {{"32", "1"}, {"32", "1 "}, {"64", "1"}};
        for (const QStringList& row : rows) {
            QVERIFY(m_host.emplace("x86_64", true).isReady());
            QVERIFY(RawRegistry::plant(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quellon\\Vexor K Crypto Pro",
                                       {"|=" + row[1]},
                                       row[0] == "32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY));
            QCOMPARE(isInstalled(), row == rows[0]);
        }
    }

    // The Installer's location loses one trailing separator, and only one.
    void installLocation()
    {
        QVERIFY(m_host.emplace("x86_64", true).isReady());
        const QString location = TestHost::systemDrive() + "/CSP//";
        QVERIFY(RawRegistry::plant(HKEY_LOCAL_MACHINE, TestHost::cryptoProProperties(),
                                   {"|InstallLocation=" + location}));
        QCOMPARE(m_host->facts().cspFolder, location.chopped(1));
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
