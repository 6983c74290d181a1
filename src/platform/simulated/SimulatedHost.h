#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// Control of the simulated Windows host, for tests and the vexor-host tool.
// A host is a folder holding the registry database and the host's drive; a
// process works on one host at a time (VEXOR_HOST_DIR, or the one chosen
// with use()).
class SimulatedHost
{
public:
    struct CreateOptions
    {
        QString architecture = QStringLiteral("x86_64");
        bool withCsp = false;
    };

    // The architectures a host can have: "x86_64", "arm64" (both 64-bit
    // Windows, with a 32-bit registry view under Wow6432Node) and "i386".
    static bool isKnownArchitecture(const QString& architecture);
    static bool hasWow64(const QString& architecture);

    // Makes a host in folder (or reuses an existing one, leaving its data
    // alone). false + *error on failure.
    static bool create(const QString& folder, const CreateOptions& options, QString* error);
    // Switches this process to the host in folder, creating an empty x86_64
    // host there if it has none. Every handle open on the previous host
    // becomes invalid.
    static bool use(const QString& folder, QString* error = nullptr);
    static QString folder();
    static QString architecture();
    static QString databasePath();
    // Process-wide override of the VEXOR_HOST_ELEVATED switch.
    static void setElevated(bool on);
    static bool isElevated();
    static int openHandleCount();
    static QString cspFolder();
    static QString cspFolder64();
    static QMap<QString, QString> environment();
    // Paths queued by MoveFileExW(..., nullptr, MOVEFILE_DELAY_UNTIL_REBOOT),
    // in the order they were queued.
    static QStringList pendingFileOperations();
    // Renames queued with a new name, as (source, target) pairs; a target
    // that begins with "!" replaces an existing file.
    static QList<QPair<QString, QString>> pendingRenames();
    // Carries the pending operations out, clears them and forgets the
    // volatile keys, as a restart of Windows does.
    static bool restart(QString* error);

    // The Crypto Pro CSP's Windows Installer product code and its packed
    // form, the name under which Windows Installer files its data.
    static QString cryptoProProductCode();
    static QString packedProductCode(const QString& productCode);
};
