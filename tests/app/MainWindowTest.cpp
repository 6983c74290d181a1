#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include "InstalledMarker.h"
#include "ModeSelection.h"
#include "TestHost.h"
#include "VexorKCryptoProInstaller.h"

// What the window adds to the engine: the log pane and install.log, and the
// window's state through the start-up choice. The install button and the
// failure box are driven end to end (tests/endtoend).
namespace {
QString logPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/install.log");
}

QByteArray logBytes()
{
    QFile file(logPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no install.log>");
}

QPlainTextEdit* pane(const QWidget& window)
{
    return window.findChild<QPlainTextEdit*>(QStringLiteral("logTextEdit"));
}

// Red only when every fragment of the block is red.
bool isRed(const QTextBlock& block)
{
    bool red = block.begin() != block.end();
    for (auto it = block.begin(); !it.atEnd(); ++it)
        red &= it.fragment().charFormat().foreground().color() == QColor(Qt::red);
    return red;
}

// How the window looks, as one comparable line.
QString state(const QWidget& window)
{
    const auto* button = window.findChild<QPushButton*>(QStringLiteral("installButton"));
    return QStringLiteral("%1, install button %2 %3, window %4")
        .arg(window.windowTitle())
        .arg(button->isHidden() ? "hidden" : "shown")
        .arg(button->isEnabled() ? "enabled" : "disabled")
        .arg(window.isVisible() ? "shown" : "hidden");
}

// Presses button (Escape for NoButton) on the message box that is modal when
// control next reaches an event loop; *seen receives "title|text".
void answerNextBox(QMessageBox::StandardButton button, QString* seen)
{
    seen->clear();
    QTimer::singleShot(0, [button, seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        *seen = box->windowTitle() + QLatin1Char('|') + box->text();
        if (button == QMessageBox::NoButton)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->button(button)->click();
    });
}

const QString kFormTitle = QStringLiteral("Установка Quellon Vexor K для Crypto Pro");
const QString kInstallTitle = QStringLiteral("Установка Quellon Vexor K для Крипто Про");
const QString kRemovalTitle = QStringLiteral("Удаление Quellon Vexor K для Крипто Про");
const QString kBoxTitle = QStringLiteral("Установка Quellon Vexor K для Крипто Про!");
} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestHost> m_host;

private slots:
    // A host of its own for each test, so that the window starts without a
    // red line about the host.
    void init()
    {
        m_host = std::make_unique<TestHost>(QStringLiteral("x86_64"), true);
        QVERIFY2(m_host->isReady(), qPrintable(m_host->error()));
    }

    void cleanup()
    {
        m_host.reset();
        if (QFileInfo(logPath()).isDir())
            QDir(logPath()).removeRecursively();
    }

    void logLineReachesPaneAndFile_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("isError");
        QTest::newRow("a normal line after an error line is plain in pane and file")
            << "Copied vexor.dll" << 0;
        QTest::newRow("an error line holding markup is red and shows its characters")
            << "<b>C:\\a & b</b> <font color=\"green\">" << 1;
    }

    void logLineReachesPaneAndFile()
    {
        QFETCH(QString, message);
        QFETCH(int, isError);
        VexorKCryptoProInstaller window;
        // A red line first, so that a colour carried over to the next line shows.
        window.addLogLine(QStringLiteral("earlier"), 1);
        window.addLogLine(message, isError);
        const QTextBlock last = pane(window)->document()->lastBlock();
        QCOMPARE(last.text(), message);
        QCOMPARE(isRed(last), isError != 0);
        // The line is in the file while the window still has it open.
        QCOMPARE(logBytes(), "earlier\n" + message.toLatin1() + '\n');
    }

    void paneKeepsLastHundredFileKeepsAll()
    {
        VexorKCryptoProInstaller window;
        for (int i = 1; i <= 150; ++i)
            window.addLogLine(QStringLiteral("line %1").arg(i), i % 2);
        QCOMPARE(pane(window)->blockCount(), 100);
        QCOMPARE(pane(window)->document()->firstBlock().text(), QStringLiteral("line 51"));
        const QList<QByteArray> lines = logBytes().split('\n');
        QCOMPARE(lines.size(), 151); // the last line end leaves an empty tail
        QCOMPARE(lines.at(149), QByteArray("line 150"));
    }

    void unopenableLogFileLeavesThePaneWorking()
    {
        // A folder in the log file's place cannot be opened for writing, even by root.
        QVERIFY(QFile::remove(logPath()) || !QFile::exists(logPath()));
        QVERIFY(QDir().mkpath(logPath()));
        VexorKCryptoProInstaller window;
        window.addLogLine(QStringLiteral("still shown"), 1);
        QCOMPARE(pane(window)->toPlainText(), QStringLiteral("still shown"));
    }

    void startUpChoice_data()
    {
        // Both end the start-up with exit code 0. A first start and a start
        // answered No are driven end to end.
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("after");
        QTest::newRow("closing the question with Escape ends at once")
            << int(QMessageBox::NoButton)
            << kFormTitle + ", install button shown enabled, window hidden";
        QTest::newRow("answering Yes removes in removal mode, then offers a fresh install")
            << int(QMessageBox::Yes)
            << kInstallTitle + ", install button shown enabled, window shown, newest line in view";
    }

    void startUpChoice()
    {
        QFETCH(int, button);
        QFETCH(QString, after);
        InstallationEngine(m_host->facts(), nullptr).install();
        VexorKCryptoProInstaller window(m_host->facts());
        // Every line of a removal arrives in removal mode; once the event loop
        // runs, look, and end it with the close button. The removal runs
        // without returning to the event loop: the returning install button
        // must not push the last line out of view.
        QStringList duringRemoval;
        QString inEventLoop;
        connect(pane(window), &QPlainTextEdit::textChanged, &window, [&] {
            duringRemoval << state(window);
            if (pane(window)->document()->lastBlock().text() == "Удаление прошло успешно.")
                QTimer::singleShot(0, &window, [&] {
                    const QScrollBar* bar = pane(window)->verticalScrollBar();
                    inEventLoop =
                        state(window) + (bar->maximum() > 0 && bar->value() == bar->maximum()
                                             ? ", newest line in view"
                                             : ", newest line hidden");
                    QTest::mouseClick(window.findChild<QPushButton*>("closeButton"),
                                      Qt::LeftButton);
                });
        });
        // Fires only when the click did not end the loop.
        QTimer::singleShot(20000, &window, [] { QCoreApplication::exit(99); });
        QString seen;
        answerNextBox(QMessageBox::StandardButton(button), &seen);
        QCOMPARE(ModeSelection::run(window).value_or(-1), 0);
        QCoreApplication::processEvents();
        QCOMPARE(seen, kBoxTitle + "|Quellon Vexor K для Крипто Про уже установлено! Удалить?");
        QCOMPARE(inEventLoop.isEmpty() ? state(window) : inEventLoop, after);
        QVERIFY(inEventLoop.isEmpty() || !window.isVisible());
        QCOMPARE(duringRemoval.size(), button == QMessageBox::Yes ? 22 : 0);
        duringRemoval.removeDuplicates();
        QCOMPARE(duringRemoval.join(QString()),
                 duringRemoval.isEmpty()
                     ? QString()
                     : kRemovalTitle + ", install button hidden enabled, window shown");
        QCOMPARE(isInstalled(), button != QMessageBox::Yes);
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
