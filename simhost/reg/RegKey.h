#pragma once

#include "RegKeyPath.h"
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
    struct Contents
    {
        QList<Value> values;
        QStringList subKeyNames;
    };

    RegKey() = default;
    ~RegKey();
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    LONG open(HKEY parent, const QString& subKey, REGSAM access);
    LONG open(const RegKeyPath& path, REGSAM access)
    {
        return open(path.root(), path.subKey(), access);
    }
    LONG create(HKEY parent, const QString& subKey, REGSAM access);
    LONG create(const RegKeyPath& path, REGSAM access)
    {
        return create(path.root(), path.subKey(), access);
    }
    void close();
    HKEY handle() const { return m_handle; }

    // Names in the order the registry enumerates them.
    LONG subKeyNames(QStringList* names) const;
    LONG values(QList<Value>* values) const;
    // ERROR_FILE_NOT_FOUND when the value is missing.
    LONG value(const QString& name, Value* value) const;
    LONG setValue(const QString& name, DWORD type, const QByteArray& data);
    LONG deleteValue(const QString& name);

    // Opens the key for reading in view and lists its values and subkeys.
    static LONG readContents(const RegKeyPath& path, REGSAM view, Contents* contents);

    static bool isPredefinedRoot(HKEY key);
    static LPCWSTR wide(const QString& text);

private:
    // A root asked for by itself is wrapped, not opened.
    bool wrapRoot(HKEY parent, const QString& subKey);
    LONG adopt(LONG result, HKEY handle);

    HKEY m_handle = nullptr;
    bool m_owned = false;
};
