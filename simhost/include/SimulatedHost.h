#pragma once

#include <QList>
#include <QMap>
#include <QString>

// The simulated Windows host, as the platform seam, the host's tools and the
// tests see it: making a host, choosing the one this process works on, and
// what can be asked of it beside the Win32 calls of SimulatedWinApi.h.
//
// A host is a folder holding its registry database and its drive C:
// (drive_c). A process works on one host at a time: the folder named by
// VEXOR_HOST_DIR, or the one chosen with use(). Nothing the host does for
// its programs reaches outside its drive.
class SimulatedHost
{
public:
    struct CreateOptions
    {
        QString architecture = QStringLiteral("x86_64");
        bool withCsp = false;
    };

    // A file operation queued for the next restart, with Windows paths
    // ("C:\..."); an empty target deletes the source.
    struct FileOperation
    {
        QString source;
        QString target;
        bool replaces = false;
    };

    // "x86_64" and "arm64" (64-bit Windows) or "i386".
    static bool isKnownArchitecture(const QString& architecture);

    // Makes a host in folder, or keeps the one there with what it holds.
    // false + *error on failure.
    static bool create(const QString& folder, const CreateOptions& options, QString* error);
    // Switches this process to the host in folder (empty: VEXOR_HOST_DIR or
    // the default folder) and merges the host's environment into the
    // process's, a variable the process has set itself winning. Every handle
    // open on the host before becomes invalid. A folder without a host is
    // refused, and nothing is made there.
    static bool use(const QString& folder = QString(), QString* error = nullptr);
    static QString folder();
    static QString databasePath();
    // Empty while the host answers; otherwise what is wrong with it, in
    // words fit for the user (no host there, a damaged database, ...).
    static QString problem();
    // The host's architecture; a host that cannot be read answers "x86_64".
    static QString architecture();
    // Windows' own text for a result code of this host's calls.
    static QString errorText(long code);

    // The host-wide named lock of Windows' named mutex: true when this
    // process now holds the one called name, until it ends; false while
    // another process of this host holds it. A host folder that cannot hold
    // a lock answers true: the problem shows on the first registry call.
    static bool claimNamedLock(const QString& name);

    // Administrator rights, VEXOR_HOST_ELEVATED unless set here.
    static void setElevated(bool on);
    static bool isElevated();
    // The bitness of this process on a 64-bit host: a 32-bit process that
    // names no view lands in the 32-bit one. VEXOR_HOST_PROCESS_BITS unless
    // set here; 32 by default, as the installer is a 32-bit program.
    static void setProcessBits(int bits);
    static int openHandleCount();

    // The Crypto Pro CSP's folders; empty without Crypto Pro, and the
    // 64-bit one on a 32-bit host.
    static QString cspFolder();
    static QString cspFolder64();
    // What the host's programs find in their environment.
    static QMap<QString, QString> environment();

    // The file on this machine that a Windows path names on the host's
    // drive, and the Windows path for a file of the drive; empty when the
    // path names no place on the drive.
    static QString hostPath(const QString& path);
    static QString windowsPath(const QString& path);

    // As queued, in order.
    static QList<FileOperation> pendingFileOperations();
    // Carries the queued operations out and clears the queue, and forgets
    // the volatile keys, as a restart of Windows does. An operation whose
    // path leads out of the host's drive, by its name or through a symbolic
    // link, is not carried out: it comes back in *refused.
    static bool restart(QList<FileOperation>* refused, QString* error);
};
