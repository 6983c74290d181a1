#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "WinApi.h"

// A second reader and writer for the tests: the registry API called directly,
// so that what the store wrote is seen as any other program would see it, and
// values the store would never write can be planted.
class RawRegistry
{
public:
    static bool keyExists(HKEY root, const QString& path, REGSAM view = KEY_WOW64_64KEY);
    static bool setValue(HKEY root, const QString& path, const QString& name, DWORD type,
                         const QByteArray& data, REGSAM view = KEY_WOW64_64KEY);

    // Below root\base: "path|name=text" plants a REG_SZ value with its terminator
    // (an empty path is base itself, an empty name the default value), "path\" a key.
    static bool plant(HKEY root, const QString& base, const QStringList& entries,
                      REGSAM view = KEY_WOW64_64KEY);
    // Everything below path, sorted: every subkey as "sub\key\" and every
    // value as "sub\key\|name" ("|name" for values of path itself); withData
    // adds " = type hex" to each value, the data as stored.
    static QStringList tree(HKEY root, const QString& path, REGSAM view = KEY_WOW64_64KEY,
                            bool withData = false);
};
