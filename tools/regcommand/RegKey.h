#pragma once

#include "WinApi.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One open registry key, closed by the destructor. Every call answers a
// Win32 result code (ERROR_SUCCESS on success) and leaves its output
// parameters untouched on failure. A predefined root is wrapped without
// being owned, so it is never closed.
class RegKey
{
public:
    struct Value
    {
        QString name;
        DWORD type = REG_NONE;
        QByteArray data;
    };

    RegKey() = default;
    ~RegKey();
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    LONG open(HKEY parent, const QString& subKey, REGSAM access);
    LONG create(HKEY parent, const QString& subKey, REGSAM access);
    void close();
    HKEY handle() const { return m_handle; }

    // Names in the order the registry enumerates them.
    LONG subKeyNames(QStringList* names) const;
    LONG values(QList<Value>* values) const;
    // ERROR_FILE_NOT_FOUND when the value is missing.
    LONG value(const QString& name, Value* value) const;
    LONG setValue(const QString& name, DWORD type, const QByteArray& data);
    LONG deleteValue(const QString& name);

    static bool isPredefinedRoot(HKEY key);
    static LPCWSTR wide(const QString& text);

private:
    HKEY m_handle = nullptr;
    bool m_owned = false;
};
