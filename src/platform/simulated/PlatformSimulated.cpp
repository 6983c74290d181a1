// The seam on the simulated Windows host, through the host's public face.

#include "Platform.h"

#include "SimulatedHost.h"

void Platform::initializeProcess()
{
    // A folder without a host is left alone: the first registry call, and
    // hostProblem(), report it.
    SimulatedHost::use();
}

QString Platform::cpuArchitecture()
{
    return SimulatedHost::architecture();
}

QString Platform::errorText(long code)
{
    return SimulatedHost::errorText(code);
}

QString Platform::hostProblem()
{
    return SimulatedHost::problem();
}

bool Platform::claimSingleInstance()
{
    return SimulatedHost::claimNamedLock(QLatin1String(kInstanceName));
}
