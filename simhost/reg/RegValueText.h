#pragma once

#include "WinApi.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Registry data as reg.exe shows it and reads it from its command line.
class RegValueText
{
public:
    static QString typeName(DWORD type);
    // Only the types reg.exe accepts after /t.
    static bool typeFromName(const QString& name, DWORD* type);

    // The data column of "reg query"; multi-strings joined with separator.
    static QString displayData(DWORD type, const QByteArray& data, const QString& separator);

    // The bytes that "reg add /t type /d text" stores. hasText is false when
    // /d was not given. false and *error when the text does not fit the type.
    static bool dataFromText(DWORD type, bool hasText, const QString& text,
                             const QString& separator, QByteArray* data, QString* error);

    // UTF-16LE units with their terminating zero, as REG_SZ keeps them.
    static QByteArray stringData(const QString& text);
    // The text up to the first zero unit.
    static QString stringFromData(const QByteArray& data);
    // The strings of a REG_MULTI_SZ, without the empty one that ends it.
    static QStringList multiStringFromData(const QByteArray& data);
};
