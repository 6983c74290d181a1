#pragma once

#include "WinApi.h"

#include <QString>

// A key named on the command line or in a registry file: a root ("HKLM" or
// "HKEY_LOCAL_MACHINE", any case) and the path below it.
class RegKeyPath
{
public:
    // false for an unknown root, a remote machine name or an empty text.
    bool parse(const QString& text);

    HKEY root() const { return m_root; }
    // Without leading or trailing backslashes; empty for the root itself.
    QString subKey() const { return m_subKey; }
    // The root's full name and the path as given, the way reg.exe prints it.
    QString fullName() const;
    RegKeyPath child(const QString& name) const;

private:
    HKEY m_root = nullptr;
    QString m_rootName;
    QString m_subKey;
};
