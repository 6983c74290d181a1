#include "RawRegistry.h"

#include <vector>

#include "ScopedRegistryKey.h"

namespace {

LPCWSTR wide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

HKEY openKey(HKEY root, const QString& path, REGSAM rights, bool create = false)
{
    HKEY key = nullptr;
    const LONG result = create
                            ? RegCreateKeyExW(root, wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                              rights, nullptr, &key, nullptr)
                            : RegOpenKeyExW(root, wide(path), 0, rights, &key);
    return result == ERROR_SUCCESS ? key : nullptr;
}

} // namespace

bool RawRegistry::keyExists(HKEY root, const QString& path, REGSAM view)
{
    return ScopedRegistryKey(openKey(root, path, KEY_READ | view)).isOpen();
}

bool RawRegistry::setValue(HKEY root, const QString& path, const QString& name, DWORD type,
                           const QByteArray& data, REGSAM view)
{
    const ScopedRegistryKey key(openKey(root, path, KEY_ALL_ACCESS | view, true));
    return key.isOpen() && RegSetValueExW(key.get(), wide(name), 0, type,
                                          reinterpret_cast<const BYTE*>(data.constData()),
                                          DWORD(data.size())) == ERROR_SUCCESS;
}

bool RawRegistry::plant(HKEY root, const QString& base, const QStringList& entries, REGSAM view)
{
    for (const QString& entry : entries) {
        const int bar = entry.indexOf(QLatin1Char('|'));
        const QString path = entry.left(bar < 0 ? entry.size() - 1 : bar);
        const QString keyPath = path.isEmpty() ? base : base + QLatin1Char('\\') + path;
        const int equals = entry.indexOf(QLatin1Char('='), bar);
        const QString text = entry.mid(equals + 1);
        const bool planted =
            bar < 0
                ? ScopedRegistryKey(openKey(root, keyPath, KEY_ALL_ACCESS | view, true)).isOpen()
                : setValue(root, keyPath, entry.mid(bar + 1, equals - bar - 1), REG_SZ,
                           QByteArray(reinterpret_cast<const char*>(text.utf16()),
                                      (text.size() + 1) * 2),
                           view);
        if (!planted)
            return false;
    }
    return true;
}

QStringList RawRegistry::tree(HKEY root, const QString& path, REGSAM view, bool withData)
{
    QStringList entries;
    const ScopedRegistryKey key(openKey(root, path, KEY_READ | view));
    if (!key.isOpen())
        return entries;
    std::vector<WCHAR> buffer(16384, WCHAR(0));
    DWORD length = DWORD(buffer.size());
    const auto name = [&] {
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer.data()), int(length));
    };
    QByteArray data(1 << 16, '\0');
    for (DWORD index = 0;; ++index) {
        length = DWORD(buffer.size());
        DWORD type = REG_NONE;
        DWORD size = DWORD(data.size());
        LONG result = RegEnumValueW(key.get(), index, buffer.data(), &length, nullptr, &type,
                                    reinterpret_cast<LPBYTE>(data.data()), &size);
        if (result == ERROR_MORE_DATA) {
            data.resize(int(size));
            length = DWORD(buffer.size());
            result = RegEnumValueW(key.get(), index, buffer.data(), &length, nullptr, &type,
                                   reinterpret_cast<LPBYTE>(data.data()), &size);
        }
        if (result != ERROR_SUCCESS)
            break;
        entries << QLatin1Char('|') + name();
        if (withData)
            entries.last() += QStringLiteral(" = %1 %2")
                                  .arg(type)
                                  .arg(QLatin1String(data.left(int(size)).toHex()));
    }
    for (DWORD index = 0;; ++index) {
        length = DWORD(buffer.size());
        if (RegEnumKeyExW(key.get(), index, buffer.data(), &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            break;
        const QString subkey = name();
        entries << subkey + QLatin1Char('\\');
        for (const QString& below : tree(root, path + QLatin1Char('\\') + subkey, view, withData))
            entries << subkey + QLatin1Char('\\') + below;
    }
    entries.sort();
    return entries;
}
