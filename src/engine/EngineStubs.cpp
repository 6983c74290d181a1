// Placeholders so that the program links until the simulated host lands.
#include "Platform.h"

// Stand-ins for the process-level platform facts until the simulated host
// is in; they vanish as soon as its header is.
#if !__has_include("SimulatedHost.h")
__attribute__((weak)) void Platform::initializeProcess() {}
__attribute__((weak)) QString Platform::cpuArchitecture()
{
    return QStringLiteral("x86_64");
}
__attribute__((weak)) QString Platform::errorText(long code)
{
    return QString::number(code);
}
__attribute__((weak)) QString Platform::hostProblem()
{
    return QString();
}
#endif
