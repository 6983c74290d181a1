#include "Cp1251.h"
#include "VexorKCryptoProInstaller.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCodec>
#include <QtTest>

// The window on its own, its log file, the text conversion it relies on and
// the payload it carries.
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

QPlainTextEdit* pane(const VexorKCryptoProInstaller& window)
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
} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void fromCp1251MakesText_data();
    void fromCp1251MakesText();
    void payloadFolderListsOnlyTheModule_data();
    void payloadFolderListsOnlyTheModule();
    void widgetsCarryNamesAndTexts_data();
    void widgetsCarryNamesAndTexts();
    void logLineReachesPaneAndFile_data();
    void logLineReachesPaneAndFile();
    void paneKeepsLastHundredFileKeepsAll();
    void logFileStaysInTheProgramFolder();
    void unopenableLogFileLeavesThePaneWorking();
    void modeTitleSwitchesTitleAndInstallButton_data();
    void modeTitleSwitchesTitleAndInstallButton();
    void newestLineStaysInViewWhenTheButtonReturns();
    void closeButtonEndsEventLoopWithZero();
};

void MainWindowTest::initTestCase()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
}

void MainWindowTest::cleanup()
{
    if (QFileInfo(logPath()).isDir())
        QDir(logPath()).removeRecursively();
}

void MainWindowTest::fromCp1251MakesText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("an empty byte string gives empty text") << QByteArray() << QString();
    QTest::newRow("the bytes of a Cyrillic word give that word")
        << QByteArray("\xC7\xE0\xEA\xF0\xFB\xF2\xFC") << QStringLiteral("Закрыть");
    QTest::newRow("yo and the number sign outside the basic block are found")
        << QByteArray("\xA8\xB8 \xB9") << QStringLiteral("Ёё №");
}

void MainWindowTest::fromCp1251MakesText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(fromCp1251(bytes.constData()), text);
    // The compile-time conversion gives the same bytes.
    if (text == QStringLiteral("Закрыть"))
        QCOMPARE(QByteArray(cp1251("Закрыть").c_str()), bytes);
}

void MainWindowTest::payloadFolderListsOnlyTheModule_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("the 32-bit folder holds only vexor.dll") << QStringLiteral("x86");
    QTest::newRow("the 64-bit folder holds only vexor.dll") << QStringLiteral("x64");
}

void MainWindowTest::payloadFolderListsOnlyTheModule()
{
    QFETCH(QString, folder);
    // The filter the copy and removal steps list a payload folder with.
    const QDir payload(":/VEXOR_K_CryptoProInstaller/Resources/" + folder);
    QCOMPARE(
        payload.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot),
        QStringList{QStringLiteral("vexor.dll")});
}

void MainWindowTest::widgetsCarryNamesAndTexts_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("text");
    QTest::newRow("the window has the form's title") << "VEXOR_K_CryptoProInstallerClass"
                                                     << "Установка Quellon Vexor K для Crypto Pro";
    QTest::newRow("the install button says Install") << "installButton"
                                                     << "Установить";
    QTest::newRow("the label names the progress") << "label_3"
                                                  << "Прогресс установки/удаления:";
    QTest::newRow("the log pane has its tool tip") << "logTextEdit"
                                                   << "Окно лога";
    QTest::newRow("the close button says Close") << "closeButton"
                                                 << "Закрыть";
}

void MainWindowTest::widgetsCarryNamesAndTexts()
{
    QFETCH(QString, objectName);
    QFETCH(QString, text);
    VexorKCryptoProInstaller window;
    QWidget* widget =
        window.objectName() == objectName ? &window : window.findChild<QWidget*>(objectName);
    QVERIFY2(widget, qPrintable(objectName + " is missing"));
    QString shown = widget->windowTitle();
    if (auto* button = qobject_cast<QPushButton*>(widget))
        shown = button->text();
    else if (auto* label = qobject_cast<QLabel*>(widget))
        shown = label->text();
    else if (widget != &window)
        shown = widget->toolTip();
    QCOMPARE(shown, text);
}

void MainWindowTest::logLineReachesPaneAndFile_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("isError");
    QTest::addColumn<QByteArray>("fileBytes");

    QTest::newRow("a normal line after an error line is plain in pane and file")
        << "Copied vexor.dll" << 0 << QByteArray("Copied vexor.dll\n");
    QTest::newRow("an error line is red in the pane and plain in the file")
        << "Access denied" << 1 << QByteArray("Access denied\n");
    QTest::newRow("an error line holding markup shows its characters")
        << "<b>C:\\a & b</b> <font color=\"green\">" << 1
        << QByteArray("<b>C:\\a & b</b> <font color=\"green\">\n");
    QTest::newRow("Cyrillic is one Windows-1251 byte per letter")
        << "Закрыть" << 0 << QByteArray("\xC7\xE0\xEA\xF0\xFB\xF2\xFC\n");
    QTest::newRow("a Cyrillic error line is Windows-1251 in the file too")
        << "Ошибка" << 1 << QByteArray("\xCE\xF8\xE8\xE1\xEA\xE0\n");
}

void MainWindowTest::logLineReachesPaneAndFile()
{
    QFETCH(QString, message);
    QFETCH(int, isError);
    QFETCH(QByteArray, fileBytes);
    VexorKCryptoProInstaller window;
    // A red line first, so that a colour carried over to the next line shows.
    window.addLogLine(QStringLiteral("earlier"), 1);
    window.addLogLine(message, isError);
    const QTextBlock last = pane(window)->document()->lastBlock();
    QCOMPARE(last.text(), message);
    QCOMPARE(isRed(last), isError != 0);
    // The line is in the file before the window is gone.
    QCOMPARE(logBytes(), "earlier\n" + fileBytes);
}

void MainWindowTest::paneKeepsLastHundredFileKeepsAll()
{
    VexorKCryptoProInstaller window;
    for (int i = 1; i <= 150; ++i)
        window.addLogLine(QStringLiteral("line %1").arg(i), i % 2);
    QCOMPARE(pane(window)->blockCount(), 100);
    QCOMPARE(pane(window)->document()->firstBlock().text(), QStringLiteral("line 51"));
    QCOMPARE(pane(window)->document()->lastBlock().text(), QStringLiteral("line 150"));
    const QList<QByteArray> lines = logBytes().split('\n');
    QCOMPARE(lines.size(), 151); // the last line end leaves an empty tail
    QCOMPARE(lines.first(), QByteArray("line 1"));
    QCOMPARE(lines.at(149), QByteArray("line 150"));
}

void MainWindowTest::logFileStaysInTheProgramFolder()
{
    QTemporaryDir workingDirectory;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workingDirectory.path()));
    {
        VexorKCryptoProInstaller window;
        window.addLogLine(QStringLiteral("logged"), 0);
    }
    QDir::setCurrent(previous);
    QVERIFY(!QFile::exists(workingDirectory.filePath("install.log")));
    QCOMPARE(logBytes(), QByteArray("logged\n"));
}

void MainWindowTest::unopenableLogFileLeavesThePaneWorking()
{
    // A folder in the log file's place cannot be opened for writing, even by root.
    QVERIFY(QFile::remove(logPath()) || !QFile::exists(logPath()));
    QVERIFY(QDir().mkpath(logPath()));
    VexorKCryptoProInstaller window;
    window.addLogLine(QStringLiteral("still shown"), 0);
    window.addLogLine(QStringLiteral("also shown"), 1);
    QCOMPARE(pane(window)->toPlainText(), QStringLiteral("still shown\nalso shown"));
}

void MainWindowTest::modeTitleSwitchesTitleAndInstallButton_data()
{
    QTest::addColumn<bool>("installMode");
    QTest::addColumn<QString>("title");
    QTest::newRow("removal mode hides the install button")
        << false << "Удаление Quellon Vexor K для Крипто Про";
    QTest::newRow("install mode shows the install button")
        << true << "Установка Quellon Vexor K для Крипто Про";
}

void MainWindowTest::modeTitleSwitchesTitleAndInstallButton()
{
    QFETCH(bool, installMode);
    QFETCH(QString, title);
    VexorKCryptoProInstaller window;
    window.show();
    // Start from the opposite mode so that both switches are exercised.
    window.setModeTitle(!installMode);
    window.setModeTitle(installMode);
    QCOMPARE(window.windowTitle(), title);
    QCOMPARE(window.findChild<QPushButton*>("installButton")->isVisible(), installMode);
}

void MainWindowTest::newestLineStaysInViewWhenTheButtonReturns()
{
    // A removal runs with the install button hidden and without returning to
    // the event loop; the returning button must not push the last line out.
    VexorKCryptoProInstaller window;
    window.setModeTitle(false);
    window.show();
    for (int i = 1; i <= 40; ++i)
        window.addLogLine(QStringLiteral("line %1").arg(i), 0);
    window.setModeTitle(true);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QScrollBar* scrollBar = pane(window)->verticalScrollBar();
    QVERIFY(scrollBar->maximum() > 0);
    QCOMPARE(scrollBar->value(), scrollBar->maximum());
}

void MainWindowTest::closeButtonEndsEventLoopWithZero()
{
    VexorKCryptoProInstaller window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* closeButton = window.findChild<QPushButton*>("closeButton");
    QTimer::singleShot(0, closeButton,
                       [closeButton] { QTest::mouseClick(closeButton, Qt::LeftButton); });
    // Fires only when the click did not end the loop.
    QTimer::singleShot(10000, &window, [] { QCoreApplication::exit(99); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
