#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

#include "EngineLog.h"
#include "InstalledMarker.h"
#include "ModeSelection.h"
#include "RegistrySnapshot.h"
#include "TestHost.h"
#include "VexorKCryptoProInstaller.h"

namespace {
const QString kMarkerKey = QStringLiteral("SOFTWARE\\Quellon\\Vexor K Crypto Pro");
const QString kFormTitle = QString::fromUtf8("Установка Quellon Vexor K для Crypto Pro");
const QString kInstallTitle = QString::fromUtf8("Установка Quellon Vexor K для Крипто Про");
const QString kRemovalTitle = QString::fromUtf8("Удаление Quellon Vexor K для Крипто Про");

bool setMarker()
{
    return RegistrySnapshot::write(kMarkerKey, QString(),
                                   RegistrySnapshot::text(QStringLiteral("1")), KEY_WOW64_32KEY);
}

QPushButton* installButton(VexorKCryptoProInstaller& window)
{
    return window.findChild<QPushButton*>(QStringLiteral("installButton"));
}

qint64 logFileSize()
{
    return QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/install.log"))
        .size();
}

// How the window looked each time a line reached its log pane.
struct WindowState
{
    QString title;
    bool installButtonVisible;
    bool windowVisible;
    bool operator==(const WindowState& other) const
    {
        return title == other.title && installButtonVisible == other.installButtonVisible &&
               windowVisible == other.windowVisible;
    }
};
} // namespace

class ModeSelectionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void withoutMarkerNothingIsAsked();
    void decliningEndsAtOnce_data();
    void decliningEndsAtOnce();
    void agreeingRemovesThenOffersInstall();
};

void ModeSelectionTest::initTestCase()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
}

void ModeSelectionTest::withoutMarkerNothingIsAsked()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    VexorKCryptoProInstaller window;

    ModalAnswer answer(QMessageBox::No);
    QCOMPARE(ModeSelection::run(window), std::optional<int>());
    QCoreApplication::processEvents();
    QVERIFY(!answer.answered());
    QCOMPARE(window.windowTitle(), kFormTitle);
    QVERIFY(!installButton(window)->isHidden());
    QVERIFY(installButton(window)->isEnabled());
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
    QVERIFY(setMarker());
    VexorKCryptoProInstaller window;

    ModalAnswer answer{QMessageBox::StandardButton(button)};
    QCOMPARE(ModeSelection::run(window), std::optional<int>(0));
    QVERIFY(answer.answered());
    QCOMPARE(answer.icon(), QMessageBox::Question);
    QCOMPARE(answer.title(), QString::fromUtf8("Установка Quellon Vexor K для Крипто Про!"));
    QCOMPARE(answer.text(),
             QString::fromUtf8("Quellon Vexor K для Крипто Про уже установлено! Удалить?"));
    QVERIFY(!window.isVisible());
    QCOMPARE(EngineLog::pane(window), LogLines());
    QVERIFY(QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/install.log")));
    QCOMPARE(logFileSize(), qint64(0));
    QVERIFY(isInstalled());
}

void ModeSelectionTest::agreeingRemovesThenOffersInstall()
{
    TestHost host(QStringLiteral("x86_64"), true);
    QVERIFY2(host.isReady(), qPrintable(host.error()));
    {
        VexorKCryptoProInstaller installer;
        installButton(installer)->click();
    }
    QVERIFY(isInstalled());
    VexorKCryptoProInstaller window;

    QList<WindowState> duringRemoval;
    std::optional<WindowState> inEventLoop;
    auto* pane = window.findChild<QPlainTextEdit*>(QStringLiteral("logTextEdit"));
    connect(pane, &QPlainTextEdit::textChanged, &window, [&] {
        duringRemoval << WindowState{window.windowTitle(), !installButton(window)->isHidden(),
                                     window.isVisible()};
        // After the last removal line the event loop starts: look, then end it.
        if (pane->document()->lastBlock().text() == QString::fromUtf8("Удаление прошло успешно.")) {
            QTimer::singleShot(0, &window, [&] {
                inEventLoop = WindowState{window.windowTitle(), !installButton(window)->isHidden(),
                                          window.isVisible()};
                window.close();
            });
        }
    });

    // Should the removal end otherwise, the event loop must still end.
    QTimer::singleShot(60000, &window, &QWidget::close);
    ModalAnswer answer(QMessageBox::Yes);
    QCOMPARE(ModeSelection::run(window), std::optional<int>(0));
    QVERIFY(answer.answered());

    QVERIFY(!duringRemoval.isEmpty());
    for (const WindowState& state : duringRemoval)
        QVERIFY(state == (WindowState{kRemovalTitle, false, true}));
    QVERIFY(duringRemoval.size() >= EngineLog::pane(window).size());
    QVERIFY(inEventLoop.has_value());
    QVERIFY(*inEventLoop == (WindowState{kInstallTitle, true, true}));
    QCOMPARE(window.windowTitle(), kInstallTitle);
    QVERIFY(!installButton(window)->isHidden());
    QVERIFY(installButton(window)->isEnabled());
    QVERIFY(!isInstalled());
}

QTEST_MAIN(ModeSelectionTest)
#include "tst_ModeSelection.moc"
