#include "VexorKCryptoProInstaller.h"

#include <QtTest>

#include <QImageReader>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCodec>

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void formTitleAndSize();
    void widgetsCarryNamesFontsAndTexts_data();
    void widgetsCarryNamesFontsAndTexts();
    void formDetails();
    void iconComesFromTheWorkingDirectory_data();
    void iconComesFromTheWorkingDirectory();
    void iconFileHoldsEverySizeThreeTimes();

    void logLineReachesPaneAndFile_data();
    void logLineReachesPaneAndFile();
    void plainLineAfterErrorLineIsNotRed();
    void paneKeepsLastHundredFileKeepsAll();
    void secondWindowEmptiesTheLog();
    void unopenableLogFileLeavesThePaneWorking();

    void modeTitleSwitchesTitleAndInstallButton_data();
    void modeTitleSwitchesTitleAndInstallButton();
    void newestLineStaysInViewWhenTheButtonReturns();
    void closeButtonEndsEventLoopWithZero();

private:
    static QString logPath();
    static QByteArray logBytes();
    static bool blockIsRed(const QTextBlock& block);
};

QString MainWindowTest::logPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/install.log");
}

QByteArray MainWindowTest::logBytes()
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<install.log could not be read>");
    return file.readAll();
}

bool MainWindowTest::blockIsRed(const QTextBlock& block)
{
    bool red = false;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextCharFormat format = it.fragment().charFormat();
        if (format.hasProperty(QTextFormat::ForegroundBrush) &&
            format.foreground().color() == QColor(Qt::red))
            red = true;
        else
            return false;
    }
    return red;
}

void MainWindowTest::initTestCase()
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1251"));
}

void MainWindowTest::cleanup()
{
    QFileInfo log(logPath());
    if (log.isDir())
        QDir(logPath()).removeRecursively();
}

void MainWindowTest::formTitleAndSize()
{
    VexorKCryptoProInstaller window;
    QCOMPARE(window.objectName(), QStringLiteral("VEXOR_K_CryptoProInstallerClass"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Установка Quellon Vexor K для Crypto Pro"));
    QCOMPARE(window.size(), QSize(662, 268));
    QCOMPARE(window.font().family(), QStringLiteral("MS Serif"));
    QCOMPARE(window.font().pointSize(), 9);
    QVERIFY(window.autoFillBackground());
    QVERIFY(!window.isVisible());
}

void MainWindowTest::widgetsCarryNamesFontsAndTexts_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("className");
    QTest::addColumn<int>("pointSize");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");

    QTest::newRow("the central widget uses Arial 9") << "centralWidget"
                                                     << "QWidget" << 9 << QString() << QString();
    QTest::newRow("the install button says Install")
        << "installButton"
        << "QPushButton" << 10 << "Установить" << QString();
    QTest::newRow("the label names the progress")
        << "label_3"
        << "QLabel" << 10 << "Прогресс установки/удаления:" << QString();
    QTest::newRow("the log pane has its tool tip")
        << "logTextEdit"
        << "QPlainTextEdit" << 10 << QString() << "Окно лога";
    QTest::newRow("the close button says Close") << "closeButton"
                                                 << "QPushButton" << 10 << "Закрыть" << QString();
}

void MainWindowTest::widgetsCarryNamesFontsAndTexts()
{
    QFETCH(QString, objectName);
    QFETCH(QString, className);
    QFETCH(int, pointSize);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);

    VexorKCryptoProInstaller window;
    auto* widget = window.findChild<QWidget*>(objectName);
    QVERIFY2(widget, qPrintable(objectName + " is missing"));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->font().family(), QStringLiteral("Arial"));
    QCOMPARE(widget->font().pointSize(), pointSize);
    QVERIFY(!widget->font().bold());
    if (auto* button = qobject_cast<QPushButton*>(widget))
        QCOMPARE(button->text(), text);
    if (auto* label = qobject_cast<QLabel*>(widget))
        QCOMPARE(label->text(), text);
    QCOMPARE(widget->toolTip(), toolTip);
}

void MainWindowTest::formDetails()
{
    VexorKCryptoProInstaller window;
    QCOMPARE(window.centralWidget()->objectName(), QStringLiteral("centralWidget"));

    auto* pane = window.findChild<QPlainTextEdit*>("logTextEdit");
    QVERIFY(pane->isReadOnly());
    QCOMPARE(pane->maximumBlockCount(), 100);

    auto* installButton = window.findChild<QPushButton*>("installButton");
    QVERIFY(installButton->autoFillBackground());
    QCOMPARE(installButton->locale(), QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(window.findChild<QPushButton*>("closeButton")->locale(),
             QLocale(QLocale::Russian, QLocale::Belarus));

    auto* outer = window.findChild<QVBoxLayout*>("verticalLayout_2");
    QVERIFY(outer);
    QCOMPARE(outer->spacing(), 6);
    QCOMPARE(outer->contentsMargins(), QMargins(11, 11, 11, 11));
    auto* inner = window.findChild<QHBoxLayout*>("horizontalLayout_2");
    QVERIFY(inner);
    QCOMPARE(inner->spacing(), 6);
    // The spacer comes first so that the close button sits at the right edge.
    QCOMPARE(inner->count(), 2);
    QVERIFY(inner->itemAt(0)->spacerItem());
    QCOMPARE(inner->itemAt(1)->widget()->objectName(), QStringLiteral("closeButton"));
}

void MainWindowTest::iconComesFromTheWorkingDirectory_data()
{
    QTest::addColumn<bool>("iconInWorkingDirectory");
    QTest::newRow("an icon file in the working directory becomes the window icon") << true;
    QTest::newRow("without the file the window has no icon of its own") << false;
}

void MainWindowTest::iconComesFromTheWorkingDirectory()
{
    QFETCH(bool, iconInWorkingDirectory);
    QTemporaryDir workingDirectory;
    QVERIFY(workingDirectory.isValid());
    if (iconInWorkingDirectory)
        QVERIFY(QFile::copy(QStringLiteral(VEXOR_ICON_FILE),
                            workingDirectory.filePath("VEXOR_K_CryptoProInstaller.ico")));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workingDirectory.path()));
    bool hasIcon = false;
    {
        VexorKCryptoProInstaller window;
        hasIcon = !window.windowIcon().availableSizes().isEmpty();
        window.addLogLine(QStringLiteral("logged"), 0);
    }
    QDir::setCurrent(previous);
    QCOMPARE(hasIcon, iconInWorkingDirectory);
    // The log stays in the program's folder whatever the working directory.
    QVERIFY(!QFile::exists(workingDirectory.filePath("install.log")));
    QCOMPARE(logBytes(), QByteArray("logged\n"));
}

void MainWindowTest::iconFileHoldsEverySizeThreeTimes()
{
    QImageReader reader(QStringLiteral(VEXOR_ICON_FILE));
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QMap<int, int> imagesBySize;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.width(), image.height());
        ++imagesBySize[image.width()];
    }
    // Each size in 4-bit, 8-bit and 32-bit colour.
    const QMap<int, int> expected{{16, 3}, {24, 3}, {32, 3}, {48, 3}, {256, 3}};
    QCOMPARE(imagesBySize, expected);
}

void MainWindowTest::logLineReachesPaneAndFile_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("isError");
    QTest::addColumn<bool>("red");
    QTest::addColumn<QByteArray>("fileBytes");

    QTest::newRow("a normal line is plain in pane and file")
        << "Copied vexor.dll" << 0 << false << QByteArray("Copied vexor.dll\n");
    QTest::newRow("an error line is red in the pane and plain in the file")
        << "Access denied" << 1 << true << QByteArray("Access denied\n");
    QTest::newRow("an error line holding markup shows its characters")
        << "<b>C:\\a & b</b> <font color=\"green\">" << 1 << true
        << QByteArray("<b>C:\\a & b</b> <font color=\"green\">\n");
    QTest::newRow("a normal line holding markup stays plain")
        << "<i>x</i> & y" << 0 << false << QByteArray("<i>x</i> & y\n");
    QTest::newRow("Cyrillic is one Windows-1251 byte per letter")
        << "Закрыть" << 0 << false << QByteArray("\xC7\xE0\xEA\xF0\xFB\xF2\xFC\n");
    QTest::newRow("a Cyrillic error line is Windows-1251 in the file too")
        << "Ошибка" << 1 << true << QByteArray("\xCE\xF8\xE8\xE1\xEA\xE0\n");
}

void MainWindowTest::logLineReachesPaneAndFile()
{
    QFETCH(QString, message);
    QFETCH(int, isError);
    QFETCH(bool, red);
    QFETCH(QByteArray, fileBytes);

    VexorKCryptoProInstaller window;
    window.addLogLine(message, isError);

    auto* pane = window.findChild<QPlainTextEdit*>("logTextEdit");
    const QTextBlock last = pane->document()->lastBlock();
    QCOMPARE(last.text(), message);
    QCOMPARE(blockIsRed(last), red);
    // The line is in the file before the window is gone.
    QCOMPARE(logBytes(), fileBytes);
}

void MainWindowTest::plainLineAfterErrorLineIsNotRed()
{
    VexorKCryptoProInstaller window;
    window.addLogLine(QStringLiteral("failed"), 1);
    window.addLogLine(QStringLiteral("carried on"), 0);
    auto* pane = window.findChild<QPlainTextEdit*>("logTextEdit");
    QCOMPARE(pane->document()->lastBlock().text(), QStringLiteral("carried on"));
    QVERIFY(!blockIsRed(pane->document()->lastBlock()));
}

void MainWindowTest::paneKeepsLastHundredFileKeepsAll()
{
    VexorKCryptoProInstaller window;
    for (int i = 1; i <= 150; ++i)
        window.addLogLine(QStringLiteral("line %1").arg(i), i % 2);

    auto* pane = window.findChild<QPlainTextEdit*>("logTextEdit");
    QCOMPARE(pane->blockCount(), 100);
    QCOMPARE(pane->document()->firstBlock().text(), QStringLiteral("line 51"));
    QCOMPARE(pane->document()->lastBlock().text(), QStringLiteral("line 150"));

    const QList<QByteArray> lines = logBytes().split('\n');
    QCOMPARE(lines.size(), 151); // the last line end leaves an empty tail
    QCOMPARE(lines.first(), QByteArray("line 1"));
    QCOMPARE(lines.at(149), QByteArray("line 150"));
    QVERIFY(lines.last().isEmpty());
}

void MainWindowTest::secondWindowEmptiesTheLog()
{
    {
        VexorKCryptoProInstaller first;
        first.addLogLine(QStringLiteral("first run"), 0);
    }
    VexorKCryptoProInstaller second;
    QCOMPARE(logBytes(), QByteArray());
    second.addLogLine(QStringLiteral("second run"), 0);
    QCOMPARE(logBytes(), QByteArray("second run\n"));
}

void MainWindowTest::unopenableLogFileLeavesThePaneWorking()
{
    // A folder in the log file's place cannot be opened for writing, even
    // with administrator rights.
    QVERIFY(QFile::remove(logPath()) || !QFile::exists(logPath()));
    QVERIFY(QDir().mkpath(logPath()));

    VexorKCryptoProInstaller window;
    window.addLogLine(QStringLiteral("still shown"), 0);
    window.addLogLine(QStringLiteral("also shown"), 1);
    auto* pane = window.findChild<QPlainTextEdit*>("logTextEdit");
    QCOMPARE(pane->toPlainText(), QStringLiteral("still shown\nalso shown"));
    QVERIFY(QFileInfo(logPath()).isDir());
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
    auto* pane = window.findChild<QPlainTextEdit*>("logTextEdit");
    QVERIFY(pane->toPlainText().isEmpty());
}

void MainWindowTest::newestLineStaysInViewWhenTheButtonReturns()
{
    // A removal runs with the install button hidden and without returning to
    // the event loop; when the button comes back it must not push the final
    // line out of the pane.
    VexorKCryptoProInstaller window;
    window.setModeTitle(false);
    window.show();
    for (int i = 1; i <= 40; ++i)
        window.addLogLine(QStringLiteral("line %1").arg(i), 0);
    window.setModeTitle(true);
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto* pane = window.findChild<QPlainTextEdit*>("logTextEdit");
    QScrollBar* scrollBar = pane->verticalScrollBar();
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
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
