// What only the simulated host can show: that the folders it gives a program
// stay on its drive, and its named lock. Registry behaviour and the Installer
// query's answers are the conformance run's; the host tool's table covers the
// restart queue.

#include "RawRegistry.h"
#include "SimulatedHost.h"
#include "TestHost.h"

#include <QtTest>

class SimulatedHostTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHost> host;

private slots:
    void init()
    {
        host = std::make_unique<TestHost>(QStringLiteral("x86_64"), true);
        QVERIFY2(host->isReady(), qPrintable(host->error()));
    }

    void cleanup() { host.reset(); }

    // A host's records may come from anyone: the folders it gives a program
    // are on its own drive, or there are none.
    void aProgramIsNeverSentOffTheHostsDrive_data()
    {
        QTest::addColumn<QString>("location");
        QTest::addColumn<bool>("found");
        QTest::newRow("a Windows path: the folder on the drive")
            << "C:\\Program Files (x86)\\Crypto Pro\\CSP\\" << true;
        QTest::newRow("a folder outside the host: none") << "{outside}/" << false;
        QTest::newRow("out of the drive by '..': none") << "{drive}/windows/../../../x/" << false;
        QTest::newRow("out through a link on the drive: none") << "{drive}/link/" << false;
    }

    void aProgramIsNeverSentOffTheHostsDrive()
    {
        QFETCH(QString, location);
        QFETCH(bool, found);
        QTemporaryDir outside;
        const QString drive = SimulatedHost::folder() + "/drive_c";
        QVERIFY(QFile::link(outside.path(), drive + "/link"));
        location.replace("{outside}", outside.path()).replace("{drive}", drive);
        // Written where Windows Installer keeps Crypto Pro's record, under its
        // packed product code.
        QVERIFY(RawRegistry::setValue(HKEY_LOCAL_MACHINE, TestHost::cryptoProProperties(),
                                      "InstallLocation", REG_SZ,
                                      QByteArray(reinterpret_cast<const char*>(location.utf16()),
                                                 (location.size() + 1) * 2)));
        QCOMPARE(host->facts().cspFolder, found ? SimulatedHost::cspFolder() : QString());
    }

    // As a named mutex: the first claim holds it while the process lives.
    void aNamedLockIsHeldByItsFirstClaim()
    {
        QVERIFY(SimulatedHost::claimNamedLock("Global\\VexorTest"));
        QVERIFY(!SimulatedHost::claimNamedLock("Global\\VexorTest"));
        QVERIFY(SimulatedHost::claimNamedLock("Global\\VexorOther"));
    }
};

QTEST_GUILESS_MAIN(SimulatedHostTest)

#include "tst_simulatedhost.moc"
