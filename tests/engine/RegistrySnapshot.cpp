#include "RegistrySnapshot.h"

#include <algorithm>
#include <vector>

namespace {
LPCWSTR wide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

QString line(const QString& valuePath, DWORD type, const QByteArray& data)
{
    return QStringLiteral("%1 = %2 %3")
        .arg(valuePath.toLower())
        .arg(type)
        .arg(QString::fromLatin1(data.toHex()));
}

void collect(HKEY key, const QString& prefix, REGSAM view, bool withKeys, QStringList* lines)
{
    DWORD subkeys = 0, longestSubkey = 0, values = 0, longestName = 0, longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values,
                         &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<WCHAR> name(std::max(longestName, longestSubkey) + 2);
    std::vector<BYTE> data(longestData + 2);
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = DWORD(name.size()), size = DWORD(data.size()), type = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            continue;
        const QString valueName =
            QString::fromUtf16(reinterpret_cast<const char16_t*>(name.data()), int(nameLength));
        *lines << line(prefix + (valueName.isEmpty() ? QStringLiteral("@") : valueName), type,
                       QByteArray(reinterpret_cast<const char*>(data.data()), int(size)));
    }
    QStringList children;
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD nameLength = DWORD(name.size());
        if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS)
            children << QString::fromUtf16(reinterpret_cast<const char16_t*>(name.data()),
                                           int(nameLength));
    }
    for (const QString& child : children) {
        if (withKeys)
            *lines << (prefix + child).toLower() + QLatin1Char('\\');
        HKEY childKey = nullptr;
        if (RegOpenKeyExW(key, wide(child), 0, KEY_READ | view, &childKey) != ERROR_SUCCESS)
            continue;
        collect(childKey, prefix + child + QLatin1Char('\\'), view, withKeys, lines);
        RegCloseKey(childKey);
    }
}
} // namespace

QStringList RegistrySnapshot::take(const QString& path, REGSAM view, bool withKeys)
{
    QStringList lines;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return lines;
    collect(key, QString(), view, withKeys, &lines);
    RegCloseKey(key);
    lines.sort();
    return lines;
}

QStringList RegistrySnapshot::added(const QStringList& before, const QStringList& after)
{
    QStringList lines;
    std::set_difference(after.cbegin(), after.cend(), before.cbegin(), before.cend(),
                        std::back_inserter(lines));
    return lines;
}

bool RegistrySnapshot::keyExists(const QString& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool RegistrySnapshot::writeText(const QString& path, const QString& name, const QString& text,
                                 REGSAM view)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | view, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result =
        RegSetValueExW(key, wide(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.utf16()),
                       DWORD(text.size() + 1) * 2);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

QString RegistrySnapshot::textLine(const QString& valuePath, const QString& text)
{
    // UTF-16 code units and the terminating NUL, as REG_SZ keeps them.
    return line(valuePath, REG_SZ,
                QByteArray(reinterpret_cast<const char*>(text.utf16()), (text.size() + 1) * 2));
}

QString RegistrySnapshot::bytesLine(const QString& valuePath, const char* hex)
{
    return line(valuePath, REG_BINARY, QByteArray::fromHex(hex));
}
