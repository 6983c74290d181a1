#include "HostArchitecture.h"

bool HostArchitecture::isKnown(const QString& architecture)
{
    return hasWow64(architecture) || architecture == QLatin1String("i386");
}

bool HostArchitecture::hasWow64(const QString& architecture)
{
    return architecture == QLatin1String("x86_64") || architecture == QLatin1String("arm64");
}
