#include "RegKey.h"

#include <QVector>

RegKey::~RegKey()
{
    close();
}

bool RegKey::isPredefinedRoot(HKEY key)
{
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
           key == HKEY_USERS;
}

LPCWSTR RegKey::wide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

bool RegKey::wrapRoot(HKEY parent, const QString& subKey)
{
    if (!subKey.isEmpty() || !isPredefinedRoot(parent))
        return false;
    m_handle = parent;
    return true;
}

LONG RegKey::adopt(LONG result, HKEY handle)
{
    if (result == ERROR_SUCCESS) {
        m_handle = handle;
        m_owned = true;
    }
    return result;
}

LONG RegKey::open(HKEY parent, const QString& subKey, REGSAM access)
{
    close();
    if (wrapRoot(parent, subKey))
        return ERROR_SUCCESS;
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExW(parent, wide(subKey), 0, access, &opened);
    return adopt(result, opened);
}

LONG RegKey::create(HKEY parent, const QString& subKey, REGSAM access)
{
    close();
    if (wrapRoot(parent, subKey))
        return ERROR_SUCCESS;
    HKEY created = nullptr;
    DWORD disposition = 0;
    const LONG result = RegCreateKeyExW(parent, wide(subKey), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        access, nullptr, &created, &disposition);
    return adopt(result, created);
}

void RegKey::close()
{
    if (m_owned && m_handle)
        RegCloseKey(m_handle);
    m_handle = nullptr;
    m_owned = false;
}

LONG RegKey::readContents(const RegKeyPath& path, REGSAM view, Contents* contents)
{
    RegKey key;
    LONG result = key.open(path, KEY_READ | view);
    if (result == ERROR_SUCCESS)
        result = key.values(&contents->values);
    if (result == ERROR_SUCCESS)
        result = key.subKeyNames(&contents->subKeyNames);
    return result;
}

LONG RegKey::subKeyNames(QStringList* names) const
{
    DWORD longest = 0;
    LONG result = RegQueryInfoKeyW(m_handle, nullptr, nullptr, nullptr, nullptr, &longest, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    QVector<WCHAR> buffer(int(longest) + 1);
    QStringList found;
    for (DWORD index = 0;; ++index) {
        DWORD length = DWORD(buffer.size());
        result = RegEnumKeyExW(m_handle, index, buffer.data(), &length, nullptr, nullptr, nullptr,
                               nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_MORE_DATA) {
            // Another process added a longer name meanwhile; grow and retry.
            buffer.resize(buffer.size() * 2 + 256);
            --index;
            continue;
        }
        if (result != ERROR_SUCCESS)
            return result;
        found << QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer.constData()),
                                    int(length));
    }
    *names = found;
    return ERROR_SUCCESS;
}

LONG RegKey::values(QList<Value>* values) const
{
    DWORD longestName = 0;
    DWORD longestData = 0;
    LONG result = RegQueryInfoKeyW(m_handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, &longestName, &longestData, nullptr, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    QVector<WCHAR> name(int(longestName) + 1);
    QByteArray data(int(longestData), '\0');
    QList<Value> found;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = DWORD(name.size());
        DWORD dataSize = DWORD(data.size());
        DWORD type = REG_NONE;
        result = RegEnumValueW(m_handle, index, name.data(), &nameLength, nullptr, &type,
                               reinterpret_cast<LPBYTE>(data.data()), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_MORE_DATA) {
            name.resize(name.size() * 2 + 256);
            data.resize(qMax(data.size() * 2, int(dataSize)) + 256);
            --index;
            continue;
        }
        if (result != ERROR_SUCCESS)
            return result;
        Value value;
        value.name = QString::fromUtf16(reinterpret_cast<const char16_t*>(name.constData()),
                                        int(nameLength));
        value.type = type;
        value.data = data.left(int(dataSize));
        found << value;
    }
    *values = found;
    return ERROR_SUCCESS;
}

LONG RegKey::value(const QString& name, Value* value) const
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG result = RegQueryValueExW(m_handle, wide(name), nullptr, &type, nullptr, &size);
    QByteArray data;
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        data.resize(int(size));
        result = RegQueryValueExW(m_handle, wide(name), nullptr, &type,
                                  reinterpret_cast<LPBYTE>(data.data()), &size);
        if (result == ERROR_SUCCESS) {
            value->name = name;
            value->type = type;
            value->data = data.left(int(size));
            return ERROR_SUCCESS;
        }
    }
    return result;
}

LONG RegKey::setValue(const QString& name, DWORD type, const QByteArray& data)
{
    return RegSetValueExW(m_handle, wide(name), 0, type,
                          reinterpret_cast<const BYTE*>(data.constData()), DWORD(data.size()));
}

LONG RegKey::deleteValue(const QString& name)
{
    return RegDeleteValueW(m_handle, wide(name));
}
