#pragma once

#include <QString>

#include "WinApi.h"

// The predefined registry roots by the names a key path may begin with: the
// full name ("HKEY_LOCAL_MACHINE") or its short form ("HKLM").
class RegistryRoot
{
public:
    // The root called name, or null. *fullName receives the root's full name.
    static HKEY find(const QString& name, Qt::CaseSensitivity sensitivity,
                     QString* fullName = nullptr);

    // The root that the first element of a backslash-separated path names,
    // or null; *subkey receives what follows the first backslash.
    static HKEY split(const QString& path, Qt::CaseSensitivity sensitivity, QString* subkey);
};
