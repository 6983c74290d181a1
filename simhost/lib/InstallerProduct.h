#pragma once

#include <QString>

// Where Windows Installer files a per-machine product's data in the registry,
// and the one product this host can have installed: the Crypto Pro CSP.
class InstallerProduct
{
public:
    static QString cryptoProCode();
    // {AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE} in the packed form under which
    // Windows Installer files it; empty for a malformed code.
    static QString packed(const QString& productCode);
    // The product's key below HKEY_LOCAL_MACHINE, in the native view.
    static QString keyPath(const QString& packedCode);
    static QString propertiesPath(const QString& packedCode);
};
