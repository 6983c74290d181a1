#include <QDir>
#include <QFile>

#include "Cp1251.h"
#include "VexorKCryptoProInstaller.h"
#include "WinApi.h"
#include "WinRegistrySettings.h"

namespace {
constexpr auto kKeyRemoved = cp1251("Ключ %1 успешно удален!");
constexpr auto kKeyNotRemoved = cp1251("Ключ %1 не получилось удалить!");
constexpr auto kFileRemoved = cp1251("Файл %1 успешно удален!");
constexpr auto kFileAlreadyRemoved = cp1251("Файл %1 уже удален!");
constexpr auto kFileScheduled = cp1251("Файл %1 успешно поставлен на удаление после перезагрузки!");
constexpr auto kFileNotRemoved = cp1251("Файл %1 не получилось удалить! %2");

struct RootName
{
    const char* name;
    HKEY root;
};

// The root names a parent path of the removal table may begin with.
HKEY rootOf(const QString& path, QString* subkey)
{
    static const RootName roots[] = {
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKLM", HKEY_LOCAL_MACHINE},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKCU", HKEY_CURRENT_USER},
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKCR", HKEY_CLASSES_ROOT},
        {"HKEY_USERS", HKEY_USERS},
        {"HKU", HKEY_USERS},
    };
    const int separator = path.indexOf(QLatin1Char('\\'));
    const QString rootName = separator < 0 ? path : path.left(separator);
    *subkey = separator < 0 ? QString() : path.mid(separator + 1);
    for (const RootName& candidate : roots) {
        if (rootName.compare(QLatin1String(candidate.name), Qt::CaseInsensitive) == 0)
            return candidate.root;
    }
    return nullptr;
}

// The store cannot tell whether a tree under a key it could write was really
// deleted, so look: a key that still opens for reading is still there.
bool keyStillExists(const QString& parentPath, const QString& keyName)
{
    QString subkey;
    const HKEY root = rootOf(parentPath, &subkey);
    if (!root)
        return false;
    const QString path = subkey.isEmpty() ? keyName : subkey + QLatin1Char('\\') + keyName;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, reinterpret_cast<LPCWSTR>(path.utf16()), 0, KEY_READ | KEY_WOW64_64KEY,
                      &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}
} // namespace

void VexorKCryptoProInstaller::removeRegistryKey(const QString& parentPath, const QString& keyName,
                                                 bool onlyIfEmpty)
{
    if (onlyIfEmpty) {
        WinRegistrySettings probe(parentPath + QLatin1Char('\\') + keyName,
                                  WinRegistrySettings::Registry64Format);
        // A key that still holds another product's values stays, silently.
        if (!probe.allKeys().isEmpty())
            return;
    }

    WinRegistrySettings parent(parentPath, WinRegistrySettings::Registry64Format);
    parent.remove(keyName);
    if (parent.status() != WinRegistrySettings::NoError || keyStillExists(parentPath, keyName))
        logEngineLine(fromCp1251(kKeyNotRemoved.c_str()).arg(keyName), true);
    else
        logEngineLine(fromCp1251(kKeyRemoved.c_str()).arg(keyName), false);
}

void VexorKCryptoProInstaller::removeModuleFiles(const QString& payloadFolder,
                                                 const QString& targetFolder)
{
    QDir payload(payloadFolder);
    payload.setFilter(QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);

    for (const QString& name : payload.entryList()) {
        const QString path = QDir::toNativeSeparators(targetFolder + QLatin1Char('/') + name);
        QFile file(path);
        // Handing a missing file to delete-at-restart would delete the module
        // that the next installation puts there.
        if (!file.exists()) {
            logEngineLine(fromCp1251(kFileAlreadyRemoved.c_str()).arg(path), false);
            continue;
        }
        // The deployed module is read-only; make it writable so it can go.
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (file.remove()) {
            logEngineLine(fromCp1251(kFileRemoved.c_str()).arg(path), false);
            continue;
        }
        if (MoveFileExW(reinterpret_cast<LPCWSTR>(path.utf16()), nullptr,
                        MOVEFILE_DELAY_UNTIL_REBOOT)) {
            logEngineLine(fromCp1251(kFileScheduled.c_str()).arg(path), false);
        } else {
            logEngineLine(fromCp1251(kFileNotRemoved.c_str()).arg(path).arg(file.errorString()),
                          true);
        }
    }
}
