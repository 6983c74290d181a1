#include "RegistrySnapshot.h"

#include <algorithm>
#include <vector>

#include <QStringList>
#include <QtTest>

namespace {
LPCWSTR wide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

QString fromWide(const WCHAR* text, DWORD length)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), int(length));
}

void collect(HKEY key, const QString& relative, RegistrySnapshot::Values* values, REGSAM view)
{
    DWORD subkeys = 0, longestSubkey = 0, valueCount = 0, longestValueName = 0, longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr,
                         &valueCount, &longestValueName, &longestData, nullptr,
                         nullptr) != ERROR_SUCCESS)
        return;

    std::vector<WCHAR> name(std::max(longestValueName, longestSubkey) + 2);
    std::vector<BYTE> data(longestData + 2);
    for (DWORD i = 0; i < valueCount; ++i) {
        DWORD nameLength = DWORD(name.size());
        DWORD dataSize = DWORD(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(),
                          &dataSize) != ERROR_SUCCESS)
            continue;
        QString valueName = fromWide(name.data(), nameLength);
        if (valueName.isEmpty())
            valueName = QStringLiteral("@");
        const QString path =
            relative.isEmpty() ? valueName : relative + QLatin1Char('\\') + valueName;
        values->insert(path.toLower(), {type, QByteArray(reinterpret_cast<const char*>(data.data()),
                                                         int(dataSize))});
    }

    QStringList children;
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD nameLength = DWORD(name.size());
        if (RegEnumKeyExW(key, i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS)
            children << fromWide(name.data(), nameLength);
    }
    for (const QString& child : children) {
        HKEY childKey = nullptr;
        if (RegOpenKeyExW(key, wide(child), 0, KEY_READ | view, &childKey) != ERROR_SUCCESS)
            continue;
        collect(childKey, relative.isEmpty() ? child : relative + QLatin1Char('\\') + child, values,
                view);
        RegCloseKey(childKey);
    }
}
} // namespace

RegistrySnapshot::Values RegistrySnapshot::take(const QString& path, REGSAM view)
{
    Values values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return values;
    collect(key, QString(), &values, view);
    RegCloseKey(key);
    return values;
}

RegistrySnapshot::Values RegistrySnapshot::changes(const Values& before, const Values& after)
{
    Values changed;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (!before.contains(it.key()) || before.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    return changed;
}

QStringList RegistrySnapshot::removals(const Values& before, const Values& after)
{
    QStringList removed;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (!after.contains(it.key()))
            removed << it.key();
    }
    return removed;
}

bool RegistrySnapshot::keyExists(const QString& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool RegistrySnapshot::write(const QString& path, const QString& name, const Value& value,
                             REGSAM view)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | view, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result = RegSetValueExW(key, wide(name), 0, value.type,
                                       reinterpret_cast<const BYTE*>(value.data.constData()),
                                       DWORD(value.data.size()));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

RegistrySnapshot::Value RegistrySnapshot::text(const QString& text)
{
    // UTF-16 code units and the terminating NUL, as REG_SZ keeps them.
    QByteArray data(reinterpret_cast<const char*>(text.utf16()), (text.size() + 1) * 2);
    return {REG_SZ, data};
}

RegistrySnapshot::Value RegistrySnapshot::bytes(const char* hex)
{
    return {REG_BINARY, QByteArray::fromHex(hex)};
}

QString RegistrySnapshot::describe(const Values& values)
{
    QStringList lines;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        lines << QStringLiteral("%1 = type %2 [%3]")
                     .arg(it.key())
                     .arg(it.value().type)
                     .arg(QString::fromLatin1(it.value().data.toHex(' ')));
    return lines.join(QLatin1Char('\n'));
}

char* toString(const RegistrySnapshot::Value& value)
{
    return QTest::toString(QStringLiteral("type %1 [%2]")
                               .arg(value.type)
                               .arg(QString::fromLatin1(value.data.toHex(' '))));
}
