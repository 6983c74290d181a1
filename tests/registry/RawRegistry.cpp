#include "RawRegistry.h"

#include <vector>

namespace {

LPCWSTR wide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

QString fromWide(const WCHAR* units, DWORD length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(units), int(length));
}

} // namespace

HKEY RawRegistry::root(const QString& name)
{
    if (name == QLatin1String("HKCU"))
        return HKEY_CURRENT_USER;
    if (name == QLatin1String("HKCR"))
        return HKEY_CLASSES_ROOT;
    if (name == QLatin1String("HKU"))
        return HKEY_USERS;
    return HKEY_LOCAL_MACHINE;
}

bool RawRegistry::keyExists(HKEY root, const QString& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, wide(path), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool RawRegistry::setValue(HKEY root, const QString& path, const QString& name, DWORD type,
                           const QByteArray& data, REGSAM view)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS | view, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result =
        RegSetValueExW(key, wide(name), 0, type, reinterpret_cast<const BYTE*>(data.constData()),
                       DWORD(data.size()));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool RawRegistry::setText(HKEY root, const QString& path, const QString& name, const QString& text,
                          REGSAM view)
{
    return setValue(root, path, name, REG_SZ, utf16z(text), view);
}

bool RawRegistry::query(HKEY root, const QString& path, const QString& name, DWORD* type,
                        QByteArray* data, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, wide(path), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG result = RegQueryValueExW(key, wide(name), nullptr, type, nullptr, &size);
    if (result == ERROR_SUCCESS) {
        data->resize(int(size));
        result = RegQueryValueExW(key, wide(name), nullptr, type,
                                  reinterpret_cast<LPBYTE>(data->data()), &size);
        data->resize(int(size));
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

QString RawRegistry::text(HKEY root, const QString& path, const QString& name, REGSAM view)
{
    DWORD type = REG_NONE;
    QByteArray data;
    if (!query(root, path, name, &type, &data, view) || type != REG_SZ)
        return QString();
    QString result =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(data.constData()), data.size() / 2);
    const int zero = result.indexOf(QChar(0));
    return zero < 0 ? result : result.left(zero);
}

bool RawRegistry::deleteValue(HKEY root, const QString& path, const QString& name, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, wide(path), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS)
        return false;
    const LONG result = RegDeleteValueW(key, wide(name));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool RawRegistry::plant(const QString& base, const QStringList& entries)
{
    for (const QString& entry : entries) {
        const int bar = entry.indexOf(QLatin1Char('|'));
        const QString path = entry.left(bar < 0 ? entry.size() - 1 : bar);
        const QString keyPath = path.isEmpty() ? base : base + QLatin1Char('\\') + path;
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(keyPath), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        const int equals = entry.indexOf(QLatin1Char('='), bar);
        if (bar >= 0 && !setText(HKEY_LOCAL_MACHINE, keyPath, entry.mid(bar + 1, equals - bar - 1),
                                 entry.mid(equals + 1)))
            return false;
    }
    return true;
}

QStringList RawRegistry::tree(HKEY root, const QString& path, REGSAM view)
{
    QStringList entries;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, wide(path), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return entries;
    collect(key, QString(), &entries);
    RegCloseKey(key);
    entries.sort();
    return entries;
}

void RawRegistry::collect(HKEY key, const QString& prefix, QStringList* entries)
{
    std::vector<WCHAR> name(16384, WCHAR(0));
    for (DWORD index = 0;; ++index) {
        DWORD length = DWORD(name.size());
        if (RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        entries->append(prefix + QLatin1Char('|') + fromWide(name.data(), length));
    }
    QStringList subkeys;
    for (DWORD index = 0;; ++index) {
        DWORD length = DWORD(name.size());
        if (RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        subkeys.append(fromWide(name.data(), length));
    }
    for (const QString& subkeyName : subkeys) {
        const QString subkeyPrefix = prefix + subkeyName + QLatin1Char('\\');
        entries->append(subkeyPrefix);
        HKEY subkey = nullptr;
        if (RegOpenKeyExW(key, wide(subkeyName), 0, KEY_READ, &subkey) != ERROR_SUCCESS)
            continue;
        collect(subkey, subkeyPrefix, entries);
        RegCloseKey(subkey);
    }
}

QByteArray RawRegistry::utf16z(const QString& text)
{
    QByteArray bytes(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    bytes.append(2, '\0');
    return bytes;
}
