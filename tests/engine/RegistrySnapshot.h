#pragma once

#include <QStringList>

#include "WinApi.h"

// What lies below HKEY_LOCAL_MACHINE\<path>, read through the raw registry
// API so that what the engine wrote is checked without the store that wrote
// it. One sorted line per value, "path\name = type hex" in lower case ("@" is
// a key's default value); with keys, one "path\" line per key as well, so
// that empty keys left behind show too.
class RegistrySnapshot
{
public:
    static QStringList take(const QString& path, REGSAM view = KEY_WOW64_64KEY,
                            bool withKeys = false);
    // The lines of after that before does not have.
    static QStringList added(const QStringList& before, const QStringList& after);
    static bool keyExists(const QString& path, REGSAM view = KEY_WOW64_64KEY);
    // Writes a REG_SZ value, creating the keys on the way; false on failure.
    static bool writeText(const QString& path, const QString& name, const QString& text,
                          REGSAM view = KEY_WOW64_64KEY);

    // The line take() gives for such a value.
    static QString textLine(const QString& valuePath, const QString& text);
    static QString bytesLine(const QString& valuePath, const char* hex);
};
