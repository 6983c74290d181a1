#include <QtTest>

#include "InstalledMarker.h"
#include "RegistrySnapshot.h"
#include "TestHost.h"

Q_DECLARE_METATYPE(RegistrySnapshot::Value)

namespace {
const QString kApplicationKey = QStringLiteral("SOFTWARE\\Quellon\\Vexor K Crypto Pro");
const QString kOrganizationDefaults = QStringLiteral("SOFTWARE\\Quellon\\OrganizationDefaults");
const QString kOrganizationKey = QStringLiteral("SOFTWARE\\Quellon");
} // namespace

class InstalledMarkerTest : public QObject
{
    Q_OBJECT

private slots:
    void onlyTheTextOneMeansInstalled_data();
    void onlyTheTextOneMeansInstalled();
    void aNeverInstalledHostLeavesOnlyEmptyKeys();
};

void InstalledMarkerTest::onlyTheTextOneMeansInstalled_data()
{
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QString>("key");
    QTest::addColumn<REGSAM>("view");
    QTest::addColumn<RegistrySnapshot::Value>("marker");
    QTest::addColumn<bool>("installed");

    const REGSAM view32 = KEY_WOW64_32KEY;
    const QString x64 = QStringLiteral("x86_64");
    QTest::newRow("the text 1 in the application key means installed")
        << x64 << kApplicationKey << view32 << RegistrySnapshot::text(QStringLiteral("1")) << true;
    QTest::newRow("the text 1 on a 32-bit host means installed")
        << QStringLiteral("i386") << kApplicationKey << view32
        << RegistrySnapshot::text(QStringLiteral("1")) << true;
    QTest::newRow("the text 0 does not")
        << x64 << kApplicationKey << view32 << RegistrySnapshot::text(QStringLiteral("0")) << false;
    QTest::newRow("the text true does not")
        << x64 << kApplicationKey << view32 << RegistrySnapshot::text(QStringLiteral("true"))
        << false;
    QTest::newRow("a 1 followed by a space does not")
        << x64 << kApplicationKey << view32 << RegistrySnapshot::text(QStringLiteral("1 "))
        << false;
    QTest::newRow("empty text does not")
        << x64 << kApplicationKey << view32 << RegistrySnapshot::text(QString()) << false;
    QTest::newRow("the text 1 in OrganizationDefaults alone means installed")
        << x64 << kOrganizationDefaults << view32 << RegistrySnapshot::text(QStringLiteral("1"))
        << true;
    QTest::newRow("a marker in the native 64-bit view only is not seen")
        << x64 << kApplicationKey << REGSAM(KEY_WOW64_64KEY)
        << RegistrySnapshot::text(QStringLiteral("1")) << false;
}

void InstalledMarkerTest::onlyTheTextOneMeansInstalled()
{
    QFETCH(QString, architecture);
    QFETCH(QString, key);
    QFETCH(REGSAM, view);
    QFETCH(RegistrySnapshot::Value, marker);
    QFETCH(bool, installed);
    TestHost host(architecture, true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    QVERIFY(RegistrySnapshot::write(key, QString(), marker, view));

    QCOMPARE(isInstalled(), installed);
    // Reading never changes what it read.
    QCOMPARE(RegistrySnapshot::take(key, view).value(QStringLiteral("@")), marker);
}

void InstalledMarkerTest::aNeverInstalledHostLeavesOnlyEmptyKeys()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));

    QVERIFY(!isInstalled());
    QVERIFY(RegistrySnapshot::keyExists(kApplicationKey, KEY_WOW64_32KEY));
    QCOMPARE(RegistrySnapshot::take(kOrganizationKey, KEY_WOW64_32KEY), RegistrySnapshot::Values());
    QVERIFY(!isInstalled());
}

QTEST_MAIN(InstalledMarkerTest)
#include "tst_InstalledMarker.moc"
