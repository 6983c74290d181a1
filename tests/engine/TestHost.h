#pragma once

#include <QMessageBox>
#include <QStringList>
#include <QTemporaryDir>

#include "WinApi.h"

class QPushButton;
class VexorKCryptoProInstaller;

// A simulated Windows host of its own for one test case, in a temporary
// folder: the process is switched to it with administrator rights,
// hostCpuArchitecture follows it and ProgramW6432 is taken from the host's
// environment, as a fresh start of the program on that host would see them.
// Also the ways a test drives the window and reads what it left behind.
class TestHost
{
public:
    TestHost(const QString& architecture, bool withCsp);
    ~TestHost();

    bool isReady() const { return m_ready; }
    QString error() const { return m_error; }

    // Installs as a press of the install button in a fresh window does.
    static void install();
    static QPushButton* installButton(const VexorKCryptoProInstaller& window);
    // Environment entries named ProgramW6432 in any letter case are removed.
    static void clearProgramW6432();

    // The pane's lines, red ones as red() words them.
    static QStringList pane(const VexorKCryptoProInstaller& window);
    // install.log in the program's folder, decoded from Windows-1251.
    static QStringList file();
    // Presses button (Escape for NoButton) on the message box that is modal
    // when control next reaches an event loop.
    static void answerNextBox(QMessageBox::StandardButton button);
    // "icon|title|text" of the box answered since, or empty.
    static QString answeredBox();

    // What lies below HKEY_LOCAL_MACHINE\<path>, read through the raw registry
    // API so that what the engine wrote is checked without the store that
    // wrote it. One sorted line per value, "path\name = type hex" in lower
    // case ("@" is a key's default value); withKeys adds one "path\" line per
    // key, so that empty keys left behind show too.
    static QStringList registry(const QString& path, REGSAM view = KEY_WOW64_64KEY,
                                bool withKeys = false);
    // Writes a REG_SZ value, creating the keys on the way; false on failure.
    static bool writeText(const QString& path, const QString& name, const QString& text,
                          REGSAM view = KEY_WOW64_64KEY);
    // The line registry() gives for such a value.
    static QString textLine(const QString& valuePath, const QString& text);
    static QString bytesLine(const QString& valuePath, const char* hex);

private:
    QTemporaryDir m_folder;
    bool m_ready = false;
    QString m_error;
};

inline QString red(const QString& line)
{
    return QStringLiteral("[red] ") + line;
}
// The lines as install.log holds them: without the pane's colour.
QStringList plain(QStringList lines);
