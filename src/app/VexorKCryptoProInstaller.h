#pragma once

#include <QFile>
#include <QMainWindow>
#include <QString>

#include "InstallationEngine.h"

namespace Ui {
class VEXOR_K_CryptoProInstallerClass;
}

// The program's one window: the install button, the log pane and install.log.
// The installation itself is the engine's; the window hands it its log line
// by line and turns its outcomes into boxes and button states.
class VexorKCryptoProInstaller : public QMainWindow
{
    Q_OBJECT

public:
    // Gathers the host facts of this machine.
    explicit VexorKCryptoProInstaller(QWidget* parent = nullptr);
    explicit VexorKCryptoProInstaller(const HostFacts& host, QWidget* parent = nullptr);
    ~VexorKCryptoProInstaller() override;

    // One line to install.log and to the log pane; red in the pane when
    // isError is nonzero.
    void addLogLine(const QString& message, int isError);

    // true: install mode (install button visible); false: removal mode.
    void setModeTitle(bool installMode);

    // The engine's removal, reporting through addLogLine.
    void uninstall();

private slots:
    void installButtonClicked();
    void closeButtonClicked();

private:
    Ui::VEXOR_K_CryptoProInstallerClass* ui;
    QFile logFile;
    InstallationEngine engine;
};
