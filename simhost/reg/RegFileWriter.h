#pragma once

#include "RegKey.h"
#include "RegKeyPath.h"

#include <QByteArray>
#include <QString>

// Writes keys in the "Windows Registry Editor Version 5.00" format, the
// way regedit exports them: CRLF lines, hex data wrapped at 80 columns.
class RegFileWriter
{
public:
    static QString header();
    // One value's line (with continuation lines when its hex data is long),
    // without the final line break.
    static QString valueLine(const QString& name, DWORD type, const QByteArray& data);
    // Appends the key's section and those of every key below it.
    static LONG appendTree(const RegKeyPath& path, REGSAM view, QString* text);
    // UTF-16LE with a byte-order mark, as regedit saves it.
    static QByteArray encode(const QString& text);
};
