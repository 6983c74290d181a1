#pragma once

#include "SimulatedWinApi.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Registry names as Windows compares them: case-insensitive by upper-casing
// each UTF-16 unit on its own, case-preserving in storage.
class RegistryName
{
public:
    static constexpr int maxKeyNameLength = 255;
    static constexpr int maxValueNameLength = 16383;

    // The stored form: the UTF-16 units exactly as given.
    static QByteArray stored(const WCHAR* name, int length);
    static QByteArray stored(const QString& name);
    // The comparison form: upper-cased units, big-endian, so that byte order
    // is the order in which Windows enumerates subkeys.
    static QByteArray folded(const WCHAR* name, int length);
    static QByteArray folded(const QString& name);
    static QString text(const QByteArray& stored);

    static int length(const WCHAR* name);

    // Splits a subkey path into its elements. Runs of backslashes and a
    // trailing backslash are skipped; a leading one is ERROR_BAD_PATHNAME,
    // an element longer than a key name may be ERROR_INVALID_PARAMETER.
    static LONG splitPath(const WCHAR* path, std::vector<QByteArray>* elements);
};
