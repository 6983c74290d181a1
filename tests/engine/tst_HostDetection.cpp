#include <QDir>
#include <QtTest>

#include "HostCpuArchitecture.h"
#include "RegistrySnapshot.h"
#include "TestHost.h"
#include "VexorKCryptoProInstaller.h"

namespace {
// Where Windows Installer keeps the install properties of the Crypto Pro CSP
// (its product code in the installer's packed form).
const QString kInstallProperties = QStringLiteral(
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\"
    "7AB5E7046046FB044ACD63458B5F481C\\InstallProperties");

const QChar kSeparator = QDir::separator();
const QChar kOtherSlash = kSeparator == QLatin1Char('/') ? QLatin1Char('\\') : QLatin1Char('/');

QString cspBelow(const QString& programFiles)
{
    return programFiles + kSeparator + QStringLiteral("Crypto Pro") + kSeparator +
           QStringLiteral("CSP");
}
} // namespace

class HostDetectionTest : public QObject
{
    Q_OBJECT

private slots:
    void findsTheCspFolder_data();
    void findsTheCspFolder();
    void findsThe64BitCspFolder_data();
    void findsThe64BitCspFolder();
};

void HostDetectionTest::findsTheCspFolder_data()
{
    QTest::addColumn<bool>("withCsp");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("expected");

    const QString folder = QStringLiteral("C:") + kSeparator + QStringLiteral("Crypto Pro");
    QTest::newRow("the installer's trailing separator is removed")
        << true << folder + kSeparator << folder;
    QTest::newRow("of two trailing separators only the last is removed")
        << true << folder + kSeparator + kSeparator << folder + kSeparator;
    QTest::newRow("a location without a trailing separator is kept as it is")
        << true << folder << folder;
    QTest::newRow("the other kind of slash at the end is kept")
        << true << folder + kOtherSlash << folder + kOtherSlash;
    QTest::newRow("a lone separator leaves an empty folder")
        << true << QString(kSeparator) << QString();
    QTest::newRow("an empty location gives no folder") << true << QString() << QString();
    QTest::newRow("a host without Crypto Pro gives no folder") << false << QString() << QString();
}

void HostDetectionTest::findsTheCspFolder()
{
    QFETCH(bool, withCsp);
    QFETCH(QString, location);
    QFETCH(QString, expected);
    TestHost host(QStringLiteral("x86_64"), withCsp);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    if (withCsp) {
        QVERIFY(RegistrySnapshot::keyExists(kInstallProperties));
        QVERIFY(RegistrySnapshot::write(kInstallProperties, QStringLiteral("InstallLocation"),
                                        RegistrySnapshot::text(location)));
    }

    VexorKCryptoProInstaller window;
    QCOMPARE(window.cspFolderPath(), expected);
}

void HostDetectionTest::findsThe64BitCspFolder_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("expected");

    const QString x64 = QStringLiteral("x86_64");
    QTest::newRow("the 64-bit program folder is followed by the CSP's place in it")
        << x64 << QByteArray("ProgramW6432") << QByteArray("C:/Program Files")
        << cspBelow(QStringLiteral("C:/Program Files"));
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
        << QStringLiteral("i386") << QByteArray("ProgramW6432") << QByteArray("C:/P") << QString();
    QTest::newRow("another architecture has no 64-bit folder")
        << QStringLiteral("arm64") << QByteArray("ProgramW6432") << QByteArray("C:/P") << QString();
}

void HostDetectionTest::findsThe64BitCspFolder()
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

    VexorKCryptoProInstaller window;
    qunsetenv(name.constData());
    QCOMPARE(window.cspFolder64Path(), expected);
}

QTEST_MAIN(HostDetectionTest)
#include "tst_HostDetection.moc"
