#include <QtTest>

#include "InstallationEngine.h"
#include "InstalledMarker.h"
#include "RawRegistry.h"
#include "RegistryFault.h"
#include "TestHost.h"

// The engine on fresh simulated hosts. What a machine holds after an install,
// and the log of each procedure, are the files of tests/machine.
namespace {
QStringList machineFile(const QString& name)
{
    QFile file(QStringLiteral(MACHINE_DIR "/") + name);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// Host paths as the Windows paths they stand for.
QString windows(QString text)
{
    const QString drive = TestHost::systemDrive();
    return text.contains(drive) ? text.replace(drive, "C:").replace('/', '\\') : text;
}

// Every key below HKLM\SOFTWARE whose path names the product and that has
// values, with its values, as reg query lists them.
QStringList listing()
{
    QMap<QString, QStringList> keys;
    const QRegularExpression entry(R"(^(.*(?i:vexor|quellon).*)\\\|(.*) = (\d+) (\w*)$)");
    for (const QString& line : TestHost::software()) {
        const QRegularExpressionMatch value = entry.match(line);
        const QByteArray data = QByteArray::fromHex(value.captured(4).toLatin1());
        const QString text =
            QString::fromUtf16(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2 - 1);
        const QString name = value.captured(2).isEmpty() ? "(Default)" : value.captured(2);
        if (value.hasMatch())
            keys[value.captured(1)]
                << "    " + name +
                       (value.captured(3) == "1" ? "    REG_SZ    " + windows(text)
                                                 : "    REG_BINARY    " + data.toHex().toUpper());
    }
    QStringList lines;
    for (auto key = keys.cbegin(); key != keys.cend(); ++key)
        lines << "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + key.key() << key.value();
    return lines;
}
} // namespace

class EngineTest : public QObject
{
    Q_OBJECT

    QScopedPointer<TestHost> m_host;
    QStringList m_log;

    bool newHost(const QString& architecture, bool withCsp = true)
    {
        m_host.reset(); // the old host first: its end leaves the process on an idle host
        m_host.reset(new TestHost(architecture, withCsp));
        return m_host->isReady();
    }

    // Registry faults armed, and rights taken, last for one procedure.
    ProcedureOutcome run(bool install, bool elevated = true)
    {
        m_log.clear();
        TestHost::setElevated(elevated);
        InstallationEngine engine(m_host->facts(),
                                  [this](const QString& line, bool) { m_log << windows(line); });
        const ProcedureOutcome outcome = install ? engine.install() : engine.uninstall();
        RegistryFault::armed.clear();
        TestHost::setElevated(true);
        return outcome;
    }

private slots:
    void lifecycle_data()
    {
        QTest::addColumn<QString>("architecture");
        for (const char* architecture : {"x86_64", "arm64", "i386"})
            QTest::newRow(architecture) << QString(architecture);
    }

    void lifecycle()
    {
        QFETCH(QString, architecture);
        const QString kind = architecture == "i386" ? "x86" : "x64";
        const QStringList installed = machineFile(kind + "-installed.txt");
        QVERIFY(newHost(architecture));
        const QStringList before = TestHost::software();
        QVERIFY(!run(true).failed);
        QCOMPARE(m_log, machineFile("install-" + kind + ".log"));
        QCOMPARE(listing(), installed);
        // A second install keeps the modules in place, says so, and changes no value.
        const QStringList once = TestHost::software();
        QVERIFY(run(true).failed);
        QCOMPARE(TestHost::software(), once);
        QCOMPARE(m_log.filter("Destination file exists").size(), kind == "x64" ? 2 : 1);
        QVERIFY(!run(false).failed);
        QCOMPARE(m_log, machineFile("remove-" + kind + ".log"));
        QCOMPARE(listing(), QStringList());
        const QStringList removed = TestHost::software();
        for (const QString& line : before)
            QVERIFY2(removed.contains(line), qPrintable("lost: " + line));
        QVERIFY(!run(false).failed);
        QCOMPARE(TestHost::software(), removed);

        // Without administrator rights an install writes nothing and claims no registration.
        QVERIFY(run(true, false).failed);
        QCOMPARE(m_log.filter("Не удалось зарегистрировать").size(), 1);
        QCOMPARE(TestHost::software(), removed);
        // A refused value is reported, and the others are written.
        RegistryFault::armed = {
            {"RegSetValueExW", "Crypto Provider", ERROR_ACCESS_DENIED, {}, true}};
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
            {"RegDeleteKeyExW", "1", ERROR_ACCESS_DENIED, {}, true},
            {"RegOpenKeyExW", "*KeyCarriers\\VEXOR", ERROR_ACCESS_DENIED, {}, true}};
        QVERIFY(run(false).failed);
        QVERIFY(m_log.contains("Ключ VEXOR не получилось удалить!"));
        QCOMPARE(listing().filter("KeyCarriers\\VEXOR\\1").size(), 1);

        // The maker's key holding another product stays, and its removal goes unsaid.
        run(false);
        QVERIFY(RawRegistry::plant(HKEY_LOCAL_MACHINE, "SOFTWARE",
                                   {"Quellon\\Other Product|Version=2.1"}, KEY_WOW64_32KEY));
        const QStringList planted = listing();
        QVERIFY(!run(true).failed);
        QVERIFY(!run(false).failed);
        QStringList expected = machineFile("remove-" + kind + ".log");
        expected.removeAt(expected.lastIndexOf("Ключ Quellon успешно удален!"));
        QCOMPARE(m_log, expected);
        QCOMPARE(listing(), planted);
    }

    // A removal queues a module in use for deletion at restart; one deleted by
    // hand is reported gone, and not queued.
    void modulesInUseOrGone()
    {
        QVERIFY(newHost("x86_64"));
        QVERIFY(!run(true).failed);
        const QString inUse = TestHost::cspFolder() + "/vexor.dll";
        const QString gone = TestHost::cspFolder64() + "/vexor.dll";
        QVERIFY(m_host->holdInUse(inUse));
        QVERIFY(QFile::remove(gone));
        QStringList expected = machineFile("remove-x64.log");
        expected.replaceInStrings(windows(inUse) + " успешно удален",
                                  windows(inUse) +
                                      " успешно поставлен на удаление после перезагрузки");
        expected.replaceInStrings(windows(gone) + " успешно удален", windows(gone) + " уже удален");
        QVERIFY(!run(false).failed);
        QVERIFY(m_host->release());
        QCOMPARE(m_log, expected);
        QCOMPARE(TestHost::pendingFileOperations(), QStringList(inUse));
        QCOMPARE(listing(), QStringList());
    }

    // Without Crypto Pro, or with its CSP folder deleted, an install is
    // cancelled and a removal fails; neither changes anything.
    void withoutCspFolder()
    {
        for (const bool withCryptoPro : {false, true}) {
            QVERIFY(newHost("x86_64", withCryptoPro));
            QVERIFY(!withCryptoPro || QDir(TestHost::cspFolder()).removeRecursively());
            const QStringList before = TestHost::software();
            QVERIFY(run(true).cancelled);
            QCOMPARE(m_log, machineFile("cancel.log"));
            QVERIFY(run(false).failed);
            QCOMPARE(TestHost::software(), before);
        }
    }

    void withoutProgramFolder64()
    {
        QVERIFY(newHost("x86_64"));
        TestHost::clearProgramW6432();
        QVERIFY(run(true).failed);
        QVERIFY(!QFile::exists(TestHost::cspFolder64() + "/vexor.dll"));
        // All but the 64-bit module's path, the first key listed.
        QCOMPARE(listing(), machineFile("x64-installed.txt").mid(2));
    }

    // Only the text 1 in the maker's keys of the 32-bit view; reading writes no value.
    void installedMarker()
    {
        const QStringList rows[] = {{"32", "Vexor K Crypto Pro|=1", "yes"},
                                    {"32", "Vexor K Crypto Pro|=1 ", "no"},
                                    {"32", "OrganizationDefaults|=1", "yes"},
                                    {"64", "Vexor K Crypto Pro|=1", "no"}};
        for (const QStringList& row : rows) {
            QVERIFY(newHost("x86_64"));
            QVERIFY(RawRegistry::plant(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quellon", {row[1]},
                                       row[0] == "32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY));
            const QStringList values = TestHost::software().filter("|");
            QCOMPARE(isInstalled(), row[2] == "yes");
            QCOMPARE(TestHost::software().filter("|"), values);
        }
    }

    // The Installer's location loses one trailing separator; ProgramW6432
    // names the 64-bit folder, which a 32-bit host has none of.
    void hostFacts()
    {
        const QStringList rows[] = {{"x86_64", "CSP/", "CSP", "C:/P/Crypto Pro/CSP"},
                                    {"x86_64", "CSP//", "CSP/", "C:/P/Crypto Pro/CSP"},
                                    {"i386", "CSP/", "CSP", ""}};
        for (const QStringList& row : rows) {
            QVERIFY(newHost(row[0]));
            const QString drive = TestHost::systemDrive() + '/';
            QVERIFY(RawRegistry::plant(HKEY_LOCAL_MACHINE, TestHost::cryptoProProperties(),
                                       {"|InstallLocation=" + drive + row[1]}));
            qputenv("ProgramW6432", "C:/P");
            QCOMPARE(m_host->facts().cspFolder, drive + row[2]);
            QCOMPARE(m_host->facts().cspFolder64, row[3]);
        }
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "tst_engine.moc"
