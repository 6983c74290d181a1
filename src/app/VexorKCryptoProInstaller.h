#pragma once

#include <QFile>
#include <QMainWindow>
#include <QString>

namespace Ui {
class VEXOR_K_CryptoProInstallerClass;
}

// The program's one window, and the object the installation engine runs on:
// the install, uninstall, deployment and removal procedures are its methods
// (defined under src/engine) and all of them report through addLogLine.
class VexorKCryptoProInstaller : public QMainWindow
{
    Q_OBJECT

public:
    explicit VexorKCryptoProInstaller(QWidget* parent = nullptr);
    ~VexorKCryptoProInstaller() override;

    // One line to install.log and to the log pane; red in the pane when
    // isError is nonzero.
    void addLogLine(const QString& message, int isError);

    // true: install mode (install button visible); false: removal mode.
    void setModeTitle(bool installMode);

    // Removes an existing installation, reporting every step in the log.
    void uninstall();

    void copyModuleFiles(const QString& payloadRoot, const QString& targetFolder,
                         const QString& payloadFolder);
    void removeRegistryKey(const QString& parentPath, const QString& keyName, bool onlyIfEmpty);
    void removeModuleFiles(const QString& payloadFolder, const QString& targetFolder);

    // Host facts found while the window was built; empty when not found.
    QString cspFolderPath() const { return cspFolder; }
    QString cspFolder64Path() const { return cspFolder64; }

private slots:
    void installButtonClicked();
    void closeButtonClicked();

private:
    static QString queryProductInfo(const QString& productCode);
    void detectHost();

    QString cspFolder;
    QString cspFolder64;
    QFile logFile;
    QString productCode;
    Ui::VEXOR_K_CryptoProInstallerClass* ui;

    // The engine logs through this, so that a procedure can tell whether any
    // of its steps reported an error and close with the matching line.
    void logEngineLine(const QString& message, bool isError);
    int engineErrorLines = 0;
};
