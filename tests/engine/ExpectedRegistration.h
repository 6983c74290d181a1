#pragma once

#include <QString>

#include "RegistrySnapshot.h"

// The values a complete registration leaves below HKEY_LOCAL_MACHINE\SOFTWARE
// (64-bit view, paths as RegistrySnapshot words them), written out value by
// value so that a wrong path, type or byte in the engine's table shows.
class ExpectedRegistration
{
public:
    // The 32-bit route: 15 values.
    static RegistrySnapshot::Values route32(const QString& cspFolder);
    // The 64-bit route: 22 values; without modulePath64 the native module
    // path (A2) is left out.
    static RegistrySnapshot::Values route64(const QString& cspFolder, const QString& cspFolder64);

    static QString modulePath(const QString& folder);
};
