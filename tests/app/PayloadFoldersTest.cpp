#include <QtTest>

class PayloadFoldersTest : public QObject
{
    Q_OBJECT

private slots:
    void payloadFolderListsOnlyTheModule_data();
    void payloadFolderListsOnlyTheModule();
    void theTwoBuildsDiffer();
    void frameworkCatalogueIsCarriedWhenTheBuildMachineHasIt();
};

namespace {
// What the copy and removal steps list: files, hidden ones too, no links.
const QDir::Filters kPayloadFilter =
    QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot;
const QString kResources = QStringLiteral(":/VEXOR_K_CryptoProInstaller/Resources");
} // namespace

void PayloadFoldersTest::payloadFolderListsOnlyTheModule_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("the 32-bit folder holds only vexor.dll") << kResources + "/x86";
    QTest::newRow("the 64-bit folder holds only vexor.dll") << kResources + "/x64";
}

void PayloadFoldersTest::payloadFolderListsOnlyTheModule()
{
    QFETCH(QString, folder);
    QCOMPARE(QDir(folder).entryList(kPayloadFilter), QStringList{QStringLiteral("vexor.dll")});
}

void PayloadFoldersTest::theTwoBuildsDiffer()
{
    QFile x86(kResources + "/x86/vexor.dll");
    QFile x64(kResources + "/x64/vexor.dll");
    QVERIFY(x86.open(QIODevice::ReadOnly));
    QVERIFY(x64.open(QIODevice::ReadOnly));
    const QByteArray x86Bytes = x86.readAll();
    const QByteArray x64Bytes = x64.readAll();
    QVERIFY(!x86Bytes.isEmpty());
    QVERIFY(!x64Bytes.isEmpty());
    QVERIFY2(x86Bytes != x64Bytes, "both payload folders carry the same build");
}

void PayloadFoldersTest::frameworkCatalogueIsCarriedWhenTheBuildMachineHasIt()
{
    const bool machineHasIt =
        QFile::exists(QLibraryInfo::location(QLibraryInfo::TranslationsPath) + "/qt_ru.qm");
    QCOMPARE(QFile::exists(QStringLiteral(":/VEXOR_K_CryptoProInstaller/qt_ru")), machineHasIt);
}

QTEST_APPLESS_MAIN(PayloadFoldersTest)
#include "PayloadFoldersTest.moc"
