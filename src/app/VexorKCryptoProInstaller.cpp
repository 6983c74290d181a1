#include "VexorKCryptoProInstaller.h"

#include "Cp1251.h"
#include "InstallerTexts.h"
#include "Platform.h"
#include "ui_VexorKCryptoProInstaller.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>

namespace {
constexpr auto kRemovalModeTitle = cp1251("Удаление Quellon Vexor K для Крипто Про");
} // namespace

VexorKCryptoProInstaller::VexorKCryptoProInstaller(QWidget* parent)
    : VexorKCryptoProInstaller(HostFacts::detect(Platform::cpuArchitecture()), parent)
{
}

VexorKCryptoProInstaller::VexorKCryptoProInstaller(const HostFacts& host, QWidget* parent)
    : QMainWindow(parent), ui(new Ui::VEXOR_K_CryptoProInstallerClass),
      logFile(QCoreApplication::applicationDirPath() + QStringLiteral("/install.log")),
      engine(host,
             [this](const QString& message, bool isError) { addLogLine(message, isError ? 1 : 0); })
{
    ui->setupUi(this);
    // A log file that cannot be opened is not fatal: the pane still shows
    // every line.
    logFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);

    if (!host.problem.isEmpty())
        addLogLine(host.problem, 1);

    connect(ui->installButton, &QPushButton::clicked, this,
            &VexorKCryptoProInstaller::installButtonClicked);
    connect(ui->closeButton, &QPushButton::clicked, this,
            &VexorKCryptoProInstaller::closeButtonClicked);
}

VexorKCryptoProInstaller::~VexorKCryptoProInstaller()
{
    delete ui;
}

void VexorKCryptoProInstaller::addLogLine(const QString& message, int isError)
{
    if (logFile.isOpen()) {
        // Flushed per line so that a crash or a kill still leaves the record
        // of everything done so far.
        logFile.write(message.toLocal8Bit() + '\n');
        logFile.flush();
    }
    if (isError) {
        // Error texts and paths may hold '<' or '&'; they must show as typed.
        ui->logTextEdit->appendHtml(QStringLiteral("<font color=\"red\">") +
                                    message.toHtmlEscaped() + QStringLiteral("</font>"));
    } else {
        ui->logTextEdit->appendPlainText(message);
    }
    // Procedures run without returning to the event loop; only a synchronous
    // repaint shows their progress.
    ui->logTextEdit->repaint();
}

void VexorKCryptoProInstaller::setModeTitle(bool installMode)
{
    QScrollBar* scrollBar = ui->logTextEdit->verticalScrollBar();
    const bool showingNewestLine = scrollBar->value() == scrollBar->maximum();
    ui->installButton->setVisible(installMode);
    if (showingNewestLine && isVisible()) {
        // The button takes its room from the log pane; the last line of a
        // finished removal must stay in view.
        ui->centralWidget->layout()->activate();
        scrollBar->setValue(scrollBar->maximum());
    }
    setWindowTitle(fromCp1251(installMode ? kInstallModeTitle.c_str() : kRemovalModeTitle.c_str()));
}

void VexorKCryptoProInstaller::installButtonClicked()
{
    const ProcedureOutcome outcome = engine.install();
    if (outcome.cancelled) {
        // The box repeats the line that told why nothing was installed.
        QMessageBox::critical(nullptr, fromCp1251(kInstallerBoxTitle.c_str()), outcome.closingLine);
        return;
    }
    ui->installButton->setEnabled(false);
}

void VexorKCryptoProInstaller::uninstall()
{
    engine.uninstall();
}

void VexorKCryptoProInstaller::closeButtonClicked()
{
    close();
}
