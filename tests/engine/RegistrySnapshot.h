#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include "WinApi.h"

// Every value below one registry key, read through the raw registry API, so
// that what the engine wrote is checked without the store that wrote it.
class RegistrySnapshot
{
public:
    struct Value
    {
        DWORD type = REG_NONE;
        QByteArray data;
        bool operator==(const Value& other) const
        {
            return type == other.type && data == other.data;
        }
        bool operator!=(const Value& other) const { return !(*this == other); }
    };
    // Key: lower-cased backslash path from the start key, then "\" and the
    // value name ("@" for a key's default value).
    using Values = QMap<QString, Value>;

    // HKEY_LOCAL_MACHINE\<path> in the given view (KEY_WOW64_64KEY or _32KEY).
    static Values take(const QString& path, REGSAM view = KEY_WOW64_64KEY);

    // Values that are new or changed in after, compared with before.
    static Values changes(const Values& before, const Values& after);
    // Values of before that are gone from after.
    static QStringList removals(const Values& before, const Values& after);

    static bool keyExists(const QString& path, REGSAM view = KEY_WOW64_64KEY);

    // Writes one value, creating the keys on the way; false on failure.
    static bool write(const QString& path, const QString& name, const Value& value,
                      REGSAM view = KEY_WOW64_64KEY);

    static Value text(const QString& text);
    static Value bytes(const char* hex);

    static QString describe(const Values& values);
};

char* toString(const RegistrySnapshot::Value& value);
