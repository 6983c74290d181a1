#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include "EngineLog.h"
#include "InstalledMarker.h"
#include "ModalAnswer.h"
#include "ModeSelection.h"
#include "RegistrySnapshot.h"
#include "TestHost.h"
#include "VexorKCryptoProInstaller.h"

namespace {
const QString kInstallTitle = QStringLiteral("Установка Quellon Vexor K для Крипто Про");
const QString kRemovalTitle = QStringLiteral("Удаление Quellon Vexor K для Крипто Про");

// How the window looked at one moment, as one comparable line.
QString state(const VexorKCryptoProInstaller& window)
{
    return QStringLiteral("%1, install button %2, window %3")
        .arg(window.windowTitle())
        .arg(TestHost::installButton(window)->isHidden() ? "hidden" : "shown")
        .arg(window.isVisible() ? "shown" : "hidden");
}
} // namespace

class ModeSelectionTest : public QObject
{
    Q_OBJECT

private slots:
    void withoutMarkerNothingIsAsked();
    void decliningEndsAtOnce_data();
    void decliningEndsAtOnce();
    void agreeingRemovesThenOffersInstall();
};

void ModeSelectionTest::withoutMarkerNothingIsAsked()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    VexorKCryptoProInstaller window;
    ModalAnswer answer(QMessageBox::No);
    QCOMPARE(ModeSelection::run(window), std::optional<int>());
    QCoreApplication::processEvents();
    QVERIFY(!answer.answered());
    QCOMPARE(window.windowTitle(), QStringLiteral("Установка Quellon Vexor K для Crypto Pro"));
    QVERIFY(TestHost::installButton(window)->isEnabled());
    QVERIFY(!TestHost::installButton(window)->isHidden());
}

void ModeSelectionTest::decliningEndsAtOnce_data()
{
    QTest::addColumn<int>("button");
    QTest::newRow("answering No") << int(QMessageBox::No);
    QTest::newRow("closing the question with Escape") << int(QMessageBox::NoButton);
}

void ModeSelectionTest::decliningEndsAtOnce()
{
    QFETCH(int, button);
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    QVERIFY(RegistrySnapshot::writeText("SOFTWARE\\Quellon\\Vexor K Crypto Pro", QString(), "1",
                                        KEY_WOW64_32KEY));
    VexorKCryptoProInstaller window;
    ModalAnswer answer{QMessageBox::StandardButton(button)};
    QCOMPARE(ModeSelection::run(window), std::optional<int>(0));
    QVERIFY(answer.answered());
    QCOMPARE(answer.icon(), QMessageBox::Question);
    QCOMPARE(answer.title(), QStringLiteral("Установка Quellon Vexor K для Крипто Про!"));
    QCOMPARE(answer.text(),
             QStringLiteral("Quellon Vexor K для Крипто Про уже установлено! Удалить?"));
    QVERIFY(!window.isVisible());
    const QFileInfo log(QCoreApplication::applicationDirPath() + QStringLiteral("/install.log"));
    QVERIFY(log.exists());
    QCOMPARE(log.size(), qint64(0));
    QVERIFY(isInstalled());
}

void ModeSelectionTest::agreeingRemovesThenOffersInstall()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    TestHost::install();
    VexorKCryptoProInstaller window;

    QStringList duringRemoval;
    QString inEventLoop;
    auto* pane = window.findChild<QPlainTextEdit*>(QStringLiteral("logTextEdit"));
    connect(pane, &QPlainTextEdit::textChanged, &window, [&] {
        duringRemoval << state(window);
        // After the last removal line the event loop starts: look, then end it.
        if (pane->document()->lastBlock().text() == QStringLiteral("Удаление прошло успешно."))
            QTimer::singleShot(0, &window, [&] {
                inEventLoop = state(window);
                window.close();
            });
    });
    // Should the removal end otherwise, the event loop must still end.
    QTimer::singleShot(60000, &window, &QWidget::close);
    ModalAnswer answer(QMessageBox::Yes);
    QCOMPARE(ModeSelection::run(window), std::optional<int>(0));
    QVERIFY(answer.answered());

    const QString removing =
        kRemovalTitle + QStringLiteral(", install button hidden, window shown");
    QCOMPARE(duringRemoval.size(), EngineLog::pane(window).size());
    for (const QString& seen : duringRemoval)
        QCOMPARE(seen, removing);
    QCOMPARE(inEventLoop, kInstallTitle + QStringLiteral(", install button shown, window shown"));
    QVERIFY(TestHost::installButton(window)->isEnabled());
    QVERIFY(!isInstalled());
}

QTEST_MAIN(ModeSelectionTest)
#include "tst_ModeSelection.moc"
