#pragma once

#include "RegKeyPath.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Reads a registry file ("Windows Registry Editor Version 5.00" in UTF-16LE
// or UTF-8, or "REGEDIT4") into the changes it asks for. The whole file is
// checked before anything is applied, so a bad line changes nothing.
class RegFileReader
{
public:
    struct Change
    {
        enum Kind
        {
            CreateKey,
            DeleteKey,
            SetValue,
            DeleteValue
        };
        Kind kind = CreateKey;
        RegKeyPath key;
        QString valueName;
        DWORD type = REG_NONE;
        QByteArray data;
    };

    // false and *error ("line N: what is wrong") for a file that is not a
    // registry file or has a line that cannot be read.
    static bool parse(const QByteArray& file, QList<Change>* changes, QString* error);

private:
    static QString decode(const QByteArray& file);
    static bool parseValueLine(const QString& line, bool unicodeFile, Change* change,
                               QString* error);
    static bool parseQuoted(const QString& line, int* position, QString* text);
    static bool parseHexData(const QString& text, QByteArray* data);
};
