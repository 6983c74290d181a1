#include <QPushButton>
#include <QTextCodec>
#include <QtTest>

#include "EngineLog.h"
#include "RegistrySnapshot.h"
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

class RefusedKeyDeletionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void aKeyThatStaysIsNotReportedRemoved();
};

void RefusedKeyDeletionTest::initTestCase()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
}

void RefusedKeyDeletionTest::aKeyThatStaysIsNotReportedRemoved()
{
    TestHost host(QStringLiteral("i386"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    {
        VexorKCryptoProInstaller installer;
        installer.findChild<QPushButton*>(QStringLiteral("installButton"))->click();
    }

    // The key carrier's entry "1" cannot be deleted, so neither can the carrier.
    refusedSubkey = QStringLiteral("1");
    VexorKCryptoProInstaller window;
    window.uninstall();
    refusedSubkey.clear();

    const LogLines lines = EngineLog::pane(window);
    const QString carrierKey =
        QStringLiteral("SOFTWARE\\Crypto Pro\\Cryptography\\CurrentVersion\\KeyCarriers\\VEXOR");
    QVERIFY(RegistrySnapshot::keyExists(carrierKey));
    const LogLines keyLines = lines.mid(lines.indexOf(normal("Отмена регистрации библиотек PKCS "
                                                             "Quellon Vexor K!")) +
                                        1);
    QCOMPARE(keyLines,
             (LogLines{
                 normal("Ключ VEXOR успешно удален!"), normal("Ключ VEXOR_ESMART успешно удален!"),
                 red("Ключ VEXOR не получилось удалить!"), normal("Ключ vexor.dll успешно удален!"),
                 normal("Ключ Vexor K Crypto Pro успешно удален!"),
                 normal("Ключ Quellon успешно удален!"), red("Удаление завершено с ошибками!")}));
}

QTEST_MAIN(RefusedKeyDeletionTest)
#include "tst_RefusedKeyDeletion.moc"
