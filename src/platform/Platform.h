#pragma once

#include <QString>

// Process-level facts and helpers that differ between Windows and the
// simulated Windows host. Together with WinApi.h this is the whole platform
// boundary: code above src/platform calls these and never tests the platform.
class Platform
{
    // One name for every session and user: two installers must not meet on
    // one machine, whoever started them.
    static constexpr const char* kInstanceName = "Global\\Quellon.VexorK.CryptoProInstaller";

public:
    // Called first thing in main. On the simulated host, opens the host
    // named by VEXOR_HOST_DIR (or the default host folder) and merges the
    // host's environment into the process environment, a variable already
    // set in the process winning. On Windows it does nothing.
    static void initializeProcess();

    // The host processor architecture as QSysInfo::currentCpuArchitecture
    // words it ("x86_64", "i386"); on the simulated host, the host's own.
    static QString cpuArchitecture();

    // The system's message text for a Win32 result code, without a trailing
    // line break.
    static QString errorText(long code);

    // Makes this process the machine's one running installer: false when
    // another one runs. Held until the process ends. Windows' named mutex,
    // or the lock of the same name that the simulated host shares.
    static bool claimSingleInstance();

    // Empty when the registry service is usable; otherwise a short
    // description of what is wrong (an unreadable or corrupted host database,
    // for example), fit to be shown to the user. Always empty on Windows.
    static QString hostProblem();
};
