#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <set>

#include "WinApi.h"

// Typed values under slash-separated keys below one or more base registry
// keys, in a chosen registry view. The first base key is the one written to;
// the others are searched when reading. Failures never throw: they are
// reported as warnings through the message logger and, for lack of write
// access, through the sticky status().
class WinRegistrySettings : public QObject
{
    Q_OBJECT

public:
    enum Status
    {
        NoError = 0,
        AccessError = 1
    };
    Q_ENUM(Status)

    // Fixed underlying types keep a value outside the enumerators well
    // defined; such a format opens keys without a view bit.
    enum Format : int
    {
        Registry32Format = 0,
        Registry64Format = 1
    };
    Q_ENUM(Format)

    enum Scope : int
    {
        UserScope = 0,
        SystemScope = 1
    };
    Q_ENUM(Scope)

    // path: a root name ("HKEY_LOCAL_MACHINE", "HKLM", ...) optionally
    // followed by a backslash and a subkey path.
    WinRegistrySettings(QString path, Format format);
    WinRegistrySettings(Format format, Scope scope, const QString& organization,
                        const QString& application, QObject* parent = nullptr);
    ~WinRegistrySettings() override;

    QVariant value(const QString& key, const QVariant& defaultValue = QVariant()) const;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    QStringList allKeys() const;
    Status status() const;

private:
    struct KeyLocation
    {
        HKEY root = nullptr;
        HKEY handle = nullptr;
        QString subkey;
        bool readOnly = false;
        REGSAM access = 0;
    };

    enum class NameKind
    {
        Values,
        Subkeys
    };

    // Value paths collected while listing: ascending code-unit order, no
    // duplicates.
    using PathSet = std::set<QString>;

    void addLocation(HKEY root, const QString& subkey);

    // Key paths.
    static QString normalizeKey(const QString& key);
    static QString toRegistryKey(const QString& key);
    static QString keyPathOf(const QString& registryKey);
    static QString valueNameOf(const QString& registryKey);

    // Handles.
    HKEY locationHandle(KeyLocation& location) const;
    static HKEY openOrCreateKey(HKEY parent, const QString& subpath, REGSAM rights, REGSAM viewBit);
    static HKEY openOrCreateWritable(HKEY parent, const QString& subpath, bool* readOnly,
                                     REGSAM viewBit);
    static HKEY openKey(HKEY parent, const QString& subpath, REGSAM rights);
    HKEY writeKeyHandle() const;
    void noteAccessError() const;

    // Reading.
    bool findValue(const QString& normalizedKey, QVariant* result) const;
    bool readValue(HKEY handle, const QString& registryKey, QVariant* result) const;
    static QVariant decodeData(DWORD type, const QByteArray& buffer, DWORD storedSize);

    // Writing.
    void writeValue(const QString& normalizedKey, const QVariant& value);
    static QByteArray encodeData(const QVariant& value, DWORD* type);

    // Enumeration and removal.
    static QStringList listNames(HKEY key, NameKind kind);
    static void collectValuePaths(HKEY start, const QString& relativePath, PathSet* paths,
                                  REGSAM viewBit);
    static void deleteSubkeysRecursively(HKEY key, REGSAM viewBit);
    void clearAll();

    // The lazy open fills handles and read-only flags from const readers.
    mutable Status m_status = NoError;
    mutable QVector<KeyLocation> m_locations;
    bool m_removeWriteKeyOnDestroy = false;
    REGSAM m_viewAccess = 0;
};
