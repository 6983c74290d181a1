#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "Platform.h"
#include "RawRegistry.h"
#include "RegistryFaults.h"
#include "SimulatedHost.h"
#include "WarningCatcher.h"
#include "WinRegistrySettings.h"

namespace {

const QString basePath = QStringLiteral("HKLM\\SOFTWARE\\Vexor Test");
const QString baseKey = QStringLiteral("SOFTWARE\\Vexor Test");

// "{5}" in an expected text stands for the system message of result code 5.
QStringList withErrorTexts(QStringList texts)
{
    static const QRegularExpression code(QStringLiteral("\\{(\\d+)\\}"));
    for (QString& text : texts) {
        QRegularExpressionMatch match;
        while ((match = code.match(text)).hasMatch())
            text.replace(match.capturedStart(), match.capturedLength(),
                         Platform::errorText(match.captured(1).toLong()));
    }
    return texts;
}

// Entries "path|name" plant a REG_SZ value "x" below the base key (empty
// path: the base key itself); entries "path\" plant an empty key.
void plant(const QStringList& entries)
{
    for (const QString& entry : entries) {
        if (entry.endsWith(QLatin1Char('\\'))) {
            QVERIFY(
                RawRegistry::createKey(HKEY_LOCAL_MACHINE, baseKey + QLatin1Char('\\') + entry));
            continue;
        }
        const QString path = entry.section(QLatin1Char('|'), 0, 0);
        const QString keyPath = path.isEmpty() ? baseKey : baseKey + QLatin1Char('\\') + path;
        QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, keyPath,
                                     entry.section(QLatin1Char('|'), 1), QStringLiteral("x")));
    }
}

} // namespace

class TestRegistryFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void keysAreOpenedWithTheirFixedRights_data();
    void keysAreOpenedWithTheirFixedRights();
    void registryFailuresAreReportedAndContained_data();
    void registryFailuresAreReportedAndContained();

private:
    std::unique_ptr<QTemporaryDir> m_hostFolder;
    std::unique_ptr<WarningCatcher> m_warnings;
};

void TestRegistryFaults::init()
{
    RegistryFaults::reset();
    m_hostFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_hostFolder->isValid());
    QString error;
    QVERIFY2(SimulatedHost::use(m_hostFolder->path(), &error), qPrintable(error));
    SimulatedHost::setElevated(true);
    m_warnings = std::make_unique<WarningCatcher>();
}

void TestRegistryFaults::cleanup()
{
    m_warnings.reset();
    SimulatedHost::setElevated(true);
    QCOMPARE(RegistryFaults::openHandles(), 0);
    QCOMPARE(RegistryFaults::badCloses(), 0);
    RegistryFaults::reset();
}

void TestRegistryFaults::keysAreOpenedWithTheirFixedRights_data()
{
    QTest::addColumn<QString>("construction"); // "path:<format>" or "organisation"
    QTest::addColumn<QStringList>("planted");
    QTest::addColumn<bool>("elevated");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("expected"); // "open|create <subkey> <rights in hex>"

    QTest::newRow("a read opens the base key for writing and the value's key for reading")
        << "path:1" << QStringList{"k|v"} << true << "read"
        << QStringList{"open SOFTWARE\\Vexor Test 2011f", "open k\\ 20119"};
    QTest::newRow("the 32-bit view adds its own bit to every open")
        << "path:0" << QStringList() << true << "read"
        << QStringList{"open SOFTWARE\\Vexor Test 2021f", "create SOFTWARE\\Vexor Test 2021f",
                       "open k\\ 20219"};
    QTest::newRow("an unknown format asks for full access without a view bit")
        << "path:7" << QStringList{"k|v"} << true << "read"
        << QStringList{"open SOFTWARE\\Vexor Test f003f", "open k\\ f003f"};
    QTest::newRow("a missing base key is created with reading and writing rights")
        << "path:1" << QStringList() << true << "read"
        << QStringList{"open SOFTWARE\\Vexor Test 2011f", "create SOFTWARE\\Vexor Test 2011f",
                       "open k\\ 20119"};
    QTest::newRow("without administrator rights the base key falls back to reading")
        << "path:1" << QStringList{"k|v"} << false << "read"
        << QStringList{"open SOFTWARE\\Vexor Test 2011f", "create SOFTWARE\\Vexor Test 2011f",
                       "open SOFTWARE\\Vexor Test 20119", "open k\\ 20119"};
    QTest::newRow("a read-only location is only ever opened for reading")
        << "organisation" << QStringList() << true << "read"
        << QStringList{"open Software\\Quellon\\Vexor K Crypto Pro 2011f",
                       "create Software\\Quellon\\Vexor K Crypto Pro 2011f", "open k\\ 20119",
                       "open Software\\Quellon\\OrganizationDefaults 20119"};
    QTest::newRow("a write opens or creates the value's key for writing")
        << "path:1" << QStringList{"|v"} << true << "write"
        << QStringList{"open SOFTWARE\\Vexor Test 2011f", "open a\\b\\ 2011f",
                       "create a\\b\\ 2011f"};
    QTest::newRow("a listing walks the tree for reading")
        << "path:1" << QStringList{"|v", "s|w"} << true << "list"
        << QStringList{"open SOFTWARE\\Vexor Test 2011f", "open  20119", "open  20119",
                       "open s 20119"};
    QTest::newRow("a removal opens for writing only")
        << "path:1" << QStringList{"k\\s|w"} << true << "remove"
        << QStringList{"open SOFTWARE\\Vexor Test 2011f", "open  2011f", "open k 2011f",
                       "open s 2011f"};
    QTest::newRow("clearing opens the write key itself for writing")
        << "path:1" << QStringList{"|v"} << true << "clear"
        << QStringList{"open SOFTWARE\\Vexor Test 2011f", "open  2011f", "open  2011f"};
}

void TestRegistryFaults::keysAreOpenedWithTheirFixedRights()
{
    QFETCH(QString, construction);
    QFETCH(QStringList, planted);
    QFETCH(bool, elevated);
    QFETCH(QString, operation);
    QFETCH(QStringList, expected);
    plant(planted);
    SimulatedHost::setElevated(elevated);

    RegistryFaults::setRecording(true);
    {
        std::unique_ptr<WinRegistrySettings> settings;
        if (construction == QLatin1String("organisation"))
            settings = std::make_unique<WinRegistrySettings>(
                WinRegistrySettings::Registry64Format, WinRegistrySettings::SystemScope,
                QStringLiteral("Quellon"), QStringLiteral("Vexor K Crypto Pro"));
        else
            settings = std::make_unique<WinRegistrySettings>(
                basePath, WinRegistrySettings::Format(construction.mid(5).toInt()));

        if (operation == QLatin1String("read"))
            settings->value(QStringLiteral("k/v"));
        else if (operation == QLatin1String("write"))
            settings->setValue(QStringLiteral("a/b/v"), 1);
        else if (operation == QLatin1String("list"))
            settings->allKeys();
        else if (operation == QLatin1String("remove"))
            settings->remove(QStringLiteral("k"));
        else
            settings->remove(QString());

        QStringList opens;
        for (const RegistryFaults::Call& call : RegistryFaults::calls()) {
            if (call.function == QLatin1String("RegOpenKeyExW"))
                opens << QStringLiteral("open %1 %2").arg(call.subject).arg(call.rights, 0, 16);
            else if (call.function == QLatin1String("RegCreateKeyExW"))
                opens << QStringLiteral("create %1 %2").arg(call.subject).arg(call.rights, 0, 16);
        }
        QCOMPARE(opens, expected);
        SimulatedHost::setElevated(true);
    }
    QVERIFY(m_warnings->warnings().isEmpty());
}

void TestRegistryFaults::registryFailuresAreReportedAndContained_data()
{
    QTest::addColumn<QStringList>("planted");
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<QStringList>("listed"); // allKeys of a fresh object afterwards
    QTest::addColumn<int>("status");

    QTest::newRow("a refused value write warns and fails the status, keeping created keys")
        << QStringList() << "RegSetValueExW"
        << "v" << 5 << "write:a/b/v"
        << QStringList{"QSettings: failed to set subkey \"a\\b\\v\": {5}"} << QStringList() << 1;
    QTest::newRow("a subkey that cannot be deleted stops its level and its parent")
        << QStringList{"K\\l|x", "K\\m|x", "K\\n|x", "|K"} << "RegDeleteKeyW"
        << "m" << 5 << "remove:K"
        << QStringList{"RegDeleteKey failed on subkey \"m\": {5}",
                       "QSettings: RegDeleteKey failed on key \"K\": {5}"}
        << QStringList{"K/m/x", "K/n/x"} << 0;
    QTest::newRow("a value that cannot be deleted while clearing leaves the others to go")
        << QStringList{"|a", "|b", "|c"} << "RegDeleteValueW"
        << "b" << 5 << "clear"
        << QStringList{"QSettings: RegDeleteValue failed on subkey \"b\": {5}"} << QStringList{"b"}
        << 0;
    QTest::newRow("a key whose information cannot be read lists none of its values")
        << QStringList{"|a", "s|b"} << "RegQueryInfoKeyW"
        << "call 1" << 1009 << "list" << QStringList{"RegQueryInfoKey() failed: {1009}"}
        << QStringList{"s/b"} << 0;
    QTest::newRow("a value name that cannot be read is skipped")
        << QStringList{"|a", "|b"} << "RegEnumValueW"
        << "0" << 1009 << "list" << QStringList{"RegEnumValue failed: {1009}"} << QStringList{"b"}
        << 0;
    QTest::newRow("a subkey name that cannot be read is skipped with the same warning")
        << QStringList{"s|a", "t|b"} << "RegEnumKeyExW"
        << "0" << 1009 << "list" << QStringList{"RegEnumValue failed: {1009}"} << QStringList{"t/b"}
        << 0;
    QTest::newRow("a write key that cannot be deleted at the end is reported by its subkey")
        << QStringList{"|a"} << "RegDeleteKeyW"
        << "" << 5 << "clear"
        << QStringList{"QSettings: Failed to delete key \"SOFTWARE\\Vexor Test\": {5}"}
        << QStringList() << 0;
    QTest::newRow("a value whose data cannot be read is looked for in the next location")
        << QStringList() << "RegQueryValueExW"
        << "call 2" << 5 << "read-two-locations" << QStringList() << QStringList() << 0;
    QTest::newRow("a key path that cannot be opened for a write fails the status quietly")
        << QStringList() << "RegCreateKeyExW"
        << "a\\b\\" << 5 << "write:a/b/v" << QStringList() << QStringList() << 1;
}

void TestRegistryFaults::registryFailuresAreReportedAndContained()
{
    QFETCH(QStringList, planted);
    QFETCH(QString, function);
    QFETCH(QString, subject);
    QFETCH(int, code);
    QFETCH(QString, operation);
    QFETCH(QStringList, warnings);
    QFETCH(QStringList, listed);
    QFETCH(int, status);
    plant(planted);

    const QString applicationKey = QStringLiteral("Software\\Quellon\\Vexor K Crypto Pro");
    const QString defaultsKey = QStringLiteral("Software\\Quellon\\OrganizationDefaults");
    if (operation == QLatin1String("read-two-locations")) {
        QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, applicationKey, "v", "first"));
        QVERIFY(RawRegistry::setText(HKEY_LOCAL_MACHINE, defaultsKey, "v", "second"));
    }

    RegistryFaults::failOnce(function, subject, LONG(code));
    RegistryFaults::setRecording(true);
    {
        if (operation == QLatin1String("read-two-locations")) {
            WinRegistrySettings settings(
                WinRegistrySettings::Registry64Format, WinRegistrySettings::SystemScope,
                QStringLiteral("Quellon"), QStringLiteral("Vexor K Crypto Pro"));
            QCOMPARE(settings.value(QStringLiteral("v")).toString(), QStringLiteral("second"));
            QCOMPARE(int(settings.status()), status);
        } else {
            WinRegistrySettings settings(basePath, WinRegistrySettings::Registry64Format);
            if (operation.startsWith(QLatin1String("write:")))
                settings.setValue(operation.mid(6), 1);
            else if (operation.startsWith(QLatin1String("remove:")))
                settings.remove(operation.mid(7));
            else if (operation == QLatin1String("clear"))
                settings.remove(QString());
            else
                QCOMPARE(settings.allKeys(), listed);
            QCOMPARE(int(settings.status()), status);
            if (operation != QLatin1String("list")) {
                // Looked at while the object lives: clearing deletes the write
                // key itself once the object is gone.
                WinRegistrySettings check(basePath, WinRegistrySettings::Registry64Format);
                QCOMPARE(check.allKeys(), listed);
            }
        }
    }
    RegistryFaults::setRecording(false);
    QCOMPARE(m_warnings->warnings(), withErrorTexts(warnings));

    if (operation.startsWith(QLatin1String("write:")))
        QVERIFY2(RawRegistry::keyExists(HKEY_LOCAL_MACHINE, baseKey + QStringLiteral("\\a")) ==
                     (function == QLatin1String("RegSetValueExW")),
                 "keys made on the way stay");
}

QTEST_GUILESS_MAIN(TestRegistryFaults)
#include "TestRegistryFaults.moc"
