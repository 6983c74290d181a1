#include <QDir>
#include <QtTest>

#include "HostCpuArchitecture.h"
#include "InstalledMarker.h"
#include "RegistrySnapshot.h"
#include "TestHost.h"
#include "VexorKCryptoProInstaller.h"

// What the program learns from the host before it acts: whether the module is
// installed, where the CSP's 32-bit and 64-bit folders are.
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
} // namespace

class HostFactsTest : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheTextOneMeansInstalled_data();
    void onlyTheTextOneMeansInstalled();
    void findsTheCspFolder_data();
    void findsTheCspFolder();
    void findsThe64BitCspFolder_data();
    void findsThe64BitCspFolder();
};

void HostFactsTest::onlyTheTextOneMeansInstalled_data()
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

void HostFactsTest::onlyTheTextOneMeansInstalled()
{
    QFETCH(QString, architecture);
    QFETCH(QString, key);
    QFETCH(REGSAM, view);
    QFETCH(QString, marker);
    QFETCH(bool, installed);
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    if (!key.isEmpty())
        QVERIFY(RegistrySnapshot::writeText(key, QString(), marker, view));
    const QStringList before = RegistrySnapshot::take(QStringLiteral("SOFTWARE"), view);

    QCOMPARE(isInstalled(), installed);
    // Reading never writes a value, not even a default one.
    QCOMPARE(RegistrySnapshot::take(QStringLiteral("SOFTWARE"), view), before);
}

void HostFactsTest::findsTheCspFolder_data()
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

void HostFactsTest::findsTheCspFolder()
{
    QFETCH(bool, withCsp);
    QFETCH(QString, location);
    QFETCH(QString, expected);
    TestHost host(QStringLiteral("x86_64"), withCsp);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    if (withCsp) {
        QVERIFY(RegistrySnapshot::keyExists(kInstallProperties));
        QVERIFY(RegistrySnapshot::writeText(kInstallProperties, QStringLiteral("InstallLocation"),
                                            location));
    }
    QCOMPARE(VexorKCryptoProInstaller().cspFolderPath(), expected);
}

void HostFactsTest::findsThe64BitCspFolder_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("expected");

    const QString x64 = QStringLiteral("x86_64");
    QTest::newRow("the 64-bit program folder is followed by the CSP's place in it")
        << x64 << QByteArray("ProgramW6432") << QByteArray("C:/Program Files")
        << cspBelow("C:/Program Files");
    QTest::newRow("a name in capitals is found")
        << x64 << QByteArray("PROGRAMW6432") << QByteArray("D:/P") << cspBelow("D:/P");
    QTest::newRow("a name in small letters is found")
        << x64 << QByteArray("programw6432") << QByteArray("D:/P") << cspBelow("D:/P");
    QTest::newRow("an empty value leaves only the CSP's place")
        << x64 << QByteArray("ProgramW6432") << QByteArray() << cspBelow(QString());
    QTest::newRow("a value with an equals sign is cut there")
        << x64 << QByteArray("ProgramW6432") << QByteArray("A=B") << cspBelow("A");
    QTest::newRow("a longer name ending differently does not match")
        << x64 << QByteArray("ProgramW6432X") << QByteArray("C:/P") << QString();
    QTest::newRow("a longer name beginning differently does not match")
        << x64 << QByteArray("XProgramW6432") << QByteArray("C:/P") << QString();
    QTest::newRow("a 32-bit host has no 64-bit folder")
        << "i386" << QByteArray("ProgramW6432") << QByteArray("C:/P") << QString();
    QTest::newRow("another architecture has no 64-bit folder")
        << "arm64" << QByteArray("ProgramW6432") << QByteArray("C:/P") << QString();
}

void HostFactsTest::findsThe64BitCspFolder()
{
    QFETCH(QString, architecture);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QFETCH(QString, expected);
    TestHost host(architecture == QLatin1String("i386") ? architecture : QStringLiteral("x86_64"),
                  true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    hostCpuArchitecture = architecture;
    TestHost::clearProgramW6432();
    qputenv(name.constData(), value);
    const QString found = VexorKCryptoProInstaller().cspFolder64Path();
    qunsetenv(name.constData());
    QCOMPARE(found, expected);
}

QTEST_MAIN(HostFactsTest)
#include "tst_HostFacts.moc"
