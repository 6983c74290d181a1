#include "RegistryRoot.h"

namespace {
struct RootName
{
    const char* fullName;
    const char* shortName;
    HKEY root;
};
} // namespace

HKEY RegistryRoot::find(const QString& name, Qt::CaseSensitivity sensitivity, QString* fullName)
{
    // HKEY values are not constant expressions on the simulated host, so the
    // table is built on first use.
    static const RootName roots[] = {
        {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
        {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
        {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
        {"HKEY_USERS", "HKU", HKEY_USERS},
    };
    for (const RootName& candidate : roots) {
        if (name.compare(QLatin1String(candidate.fullName), sensitivity) == 0 ||
            name.compare(QLatin1String(candidate.shortName), sensitivity) == 0) {
            if (fullName)
                *fullName = QLatin1String(candidate.fullName);
            return candidate.root;
        }
    }
    return nullptr;
}

HKEY RegistryRoot::split(const QString& path, Qt::CaseSensitivity sensitivity, QString* subkey)
{
    const int separator = path.indexOf(QLatin1Char('\\'));
    *subkey = separator < 0 ? QString() : path.mid(separator + 1);
    return find(separator < 0 ? path : path.left(separator), sensitivity);
}
