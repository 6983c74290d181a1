#pragma once

#include "HostDatabase.h"
#include "HostDrive.h"
#include "SimulatedWinApi.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>
#include <unordered_map>

// This process's connection to its simulated host: which host folder, the
// open database and the registry handles handed out so far. One per process;
// every entry point locks it, so a call is never interleaved with another.
class HostSession
{
public:
    struct OpenKey
    {
        qint64 key = 0;
        qint64 root = 0;
        REGSAM granted = 0;
        REGSAM view = 0; // KEY_WOW64_32KEY, KEY_WOW64_64KEY or 0
    };

    static HostSession& instance();

    std::recursive_mutex& mutex() { return lock; }

    // The folder named by VEXOR_HOST_DIR, or the default one under the
    // user's data folder.
    static QString defaultFolder();
    static QString databasePath(const QString& folder);

    QString folder();
    // Opens the current host's database; ERROR_SUCCESS when it answers.
    LONG database(HostDatabase** result);
    // Forgets the open database and every handle; the next call reopens.
    void switchTo(const QString& folder);
    // Drops the open database so that the next call reads it afresh.
    void reopen();

    QString problem();
    QString architecture();
    bool isWow64Host();
    // The host's drive, which knows the folder the host was made in: a host
    // folder may have been moved or copied since.
    HostDrive drive();

    bool isElevated();
    void setElevated(bool on) { elevatedOverride = on; }
    // A 32-bit program on a 64-bit host names no view and lands in the
    // 32-bit one, as the installer does; the host's own tools are 64-bit.
    // VEXOR_HOST_PROCESS_BITS unless set here; 32 by default.
    bool is32BitProcess();
    void setProcessBits(int bits) { processBitsOverride = bits; }

    HKEY addHandle(const OpenKey& key);
    OpenKey* findHandle(HKEY handle);
    bool removeHandle(HKEY handle);
    int handleCount() const { return int(handles.size()); }

    // Host environment merged into the process: the names this session put
    // there, so that a switch to another host can take them back.
    void mergeEnvironment(const QMap<QString, QString>& environment);

private:
    HostSession() = default;

    std::recursive_mutex lock;
    QString currentFolder;
    bool folderChosen = false;
    HostDatabase db;
    QString openProblem;
    QString cachedArchitecture;
    std::optional<QString> cachedOrigin;
    std::optional<bool> elevatedOverride;
    std::optional<int> processBitsOverride;
    std::unordered_map<quintptr, OpenKey> handles;
    quintptr nextHandle = 0x1000;
    QMap<QString, QString> injectedVariables;
};
