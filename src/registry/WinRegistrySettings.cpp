#include "WinRegistrySettings.h"

#include <QByteArray>
#include <QtEndian>
#include <QtGlobal>

#include <cstring>
#include <limits>
#include <vector>

#include "Platform.h"
#include "RegistryRoot.h"
#include "ScopedRegistryKey.h"

namespace {

constexpr REGSAM readRights = 0x20019;       // KEY_READ
constexpr REGSAM readWriteRights = 0x2001F;  // KEY_READ | KEY_WRITE
constexpr REGSAM noViewFullAccess = 0xF003F; // KEY_ALL_ACCESS, for a format we do not know

// Extra zero bytes after REG_SZ / REG_MULTI_SZ data, for values stored
// without their terminators.
constexpr int stringTerminatorRoom = 2;
constexpr int multiStringTerminatorRoom = 4;

LPCWSTR wide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

// Empty but not null, so that a found empty text is never mistaken for a
// missing one by QVariant::isNull.
QString emptyText()
{
    return QString(QLatin1String(""));
}

QByteArray local8(const QString& text)
{
    return text.toLocal8Bit();
}

QByteArray errorText(LONG code)
{
    return Platform::errorText(code).toLocal8Bit();
}

REGSAM viewAccessFor(WinRegistrySettings::Format format)
{
    switch (format) {
    case WinRegistrySettings::Registry32Format:
        return KEY_WOW64_32KEY;
    case WinRegistrySettings::Registry64Format:
        return KEY_WOW64_64KEY;
    }
    return noViewFullAccess;
}

// One UTF-16 code unit at unit index `unit` of a byte buffer, in the
// machine's order as the registry stores it; the buffer may be odd-sized.
char16_t codeUnitAt(const QByteArray& buffer, int unit)
{
    char16_t value = 0;
    std::memcpy(&value, buffer.constData() + unit * 2, sizeof value);
    return value;
}

// The text from `firstUnit` up to the next zero unit or the end of the
// buffer; *nextUnit is the unit after that zero.
QString textUpToZero(const QByteArray& buffer, int firstUnit, int* nextUnit)
{
    const int unitCount = buffer.size() / 2;
    std::vector<char16_t> units;
    int unit = firstUnit;
    for (; unit < unitCount; ++unit) {
        const char16_t codeUnit = codeUnitAt(buffer, unit);
        if (codeUnit == 0)
            break;
        units.push_back(codeUnit);
    }
    if (nextUnit)
        *nextUnit = unit + 1;
    if (units.empty())
        return emptyText();
    return QString::fromUtf16(units.data(), int(units.size()));
}

template <typename Integer> Integer littleEndianPrefix(const QByteArray& buffer)
{
    // A value shorter than its type reads its missing bytes as zero.
    unsigned char bytes[sizeof(Integer)] = {};
    std::memcpy(bytes, buffer.constData(), qMin<size_t>(sizeof(Integer), size_t(buffer.size())));
    return qFromLittleEndian<Integer>(bytes);
}

void appendUtf16WithTerminator(QByteArray* bytes, const QString& text)
{
    bytes->append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    bytes->append(2, '\0');
}

} // namespace

WinRegistrySettings::WinRegistrySettings(QString path, Format format)
    : QObject(nullptr), m_viewAccess(viewAccessFor(format))
{
    if (path.startsWith(QLatin1Char('\\')))
        path.remove(0, 1);

    // Root names are matched exactly: "hklm" or "HKLM/..." name no root.
    QString subkey;
    if (HKEY root = RegistryRoot::split(path, Qt::CaseSensitive, &subkey))
        addLocation(root, subkey);
}

WinRegistrySettings::WinRegistrySettings(Format format, Scope scope, const QString& organization,
                                         const QString& application, QObject* parent)
    : QObject(parent), m_viewAccess(viewAccessFor(format))
{
    if (!organization.isEmpty()) {
        const QString prefix = QStringLiteral("Software\\") + organization;
        const QString organizationPath = prefix + QStringLiteral("\\OrganizationDefaults");
        const QString applicationPath = prefix + QLatin1Char('\\') + application;

        if (scope == UserScope && !application.isEmpty())
            addLocation(HKEY_CURRENT_USER, applicationPath);
        if (scope == UserScope)
            addLocation(HKEY_CURRENT_USER, organizationPath);
        if (!application.isEmpty())
            addLocation(HKEY_LOCAL_MACHINE, applicationPath);
        addLocation(HKEY_LOCAL_MACHINE, organizationPath);
    }
    if (m_locations.isEmpty())
        noteAccessError();
}

WinRegistrySettings::~WinRegistrySettings()
{
    if (m_removeWriteKeyOnDestroy) {
        if (HKEY writeHandle = writeKeyHandle()) {
            const QString self;
            const LONG result = RegDeleteKeyExW(writeHandle, wide(self), m_viewAccess, 0);
            if (result != ERROR_SUCCESS)
                qWarning("QSettings: Failed to delete key \"%s\": %s",
                         local8(m_locations.first().subkey).constData(),
                         errorText(result).constData());
        }
    }
    for (KeyLocation& location : m_locations) {
        if (location.handle) {
            RegCloseKey(location.handle);
            location.handle = nullptr;
        }
    }
}

WinRegistrySettings::Status WinRegistrySettings::status() const
{
    return m_status;
}

void WinRegistrySettings::addLocation(HKEY root, const QString& subkey)
{
    KeyLocation location;
    location.root = root;
    location.subkey = subkey;
    // Only the first base key is ever written to.
    location.readOnly = !m_locations.isEmpty();
    location.access = m_viewAccess;
    m_locations.append(location);
}

void WinRegistrySettings::noteAccessError() const
{
    if (m_status == NoError)
        m_status = AccessError;
}

// ---------------------------------------------------------------------------
// Key paths

QString WinRegistrySettings::normalizeKey(const QString& key)
{
    QString result;
    result.reserve(key.size());
    for (const QChar character : key) {
        if (character == QLatin1Char('/')) {
            // Leading slashes and repeated slashes vanish here; one trailing
            // slash may remain and is dropped below.
            if (!result.isEmpty() && !result.endsWith(QLatin1Char('/')))
                result.append(character);
        } else {
            result.append(character);
        }
    }
    if (result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

QString WinRegistrySettings::toRegistryKey(const QString& key)
{
    QString result = key;
    for (QChar& character : result) {
        if (character == QLatin1Char('/'))
            character = QLatin1Char('\\');
        else if (character == QLatin1Char('\\'))
            character = QLatin1Char('/');
    }
    return result;
}

QString WinRegistrySettings::keyPathOf(const QString& registryKey)
{
    const int lastBackslash = registryKey.lastIndexOf(QLatin1Char('\\'));
    if (lastBackslash < 0)
        return QString();
    return registryKey.left(lastBackslash + 1);
}

QString WinRegistrySettings::valueNameOf(const QString& registryKey)
{
    const int lastBackslash = registryKey.lastIndexOf(QLatin1Char('\\'));
    const QString name = registryKey.mid(lastBackslash + 1);
    if (name == QLatin1String("Default") || name == QLatin1String("."))
        return QString();
    return name;
}

// ---------------------------------------------------------------------------
// Handles

HKEY WinRegistrySettings::openKey(HKEY parent, const QString& subpath, REGSAM rights)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(parent, wide(subpath), 0, rights, &handle) != ERROR_SUCCESS)
        return nullptr;
    return handle;
}

HKEY WinRegistrySettings::openOrCreateKey(HKEY parent, const QString& subpath, REGSAM rights,
                                          REGSAM viewBit)
{
    if (HKEY handle = openKey(parent, subpath, rights | viewBit))
        return handle;
    HKEY handle = nullptr;
    if (RegCreateKeyExW(parent, wide(subpath), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        rights | viewBit, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return handle;
}

HKEY WinRegistrySettings::openOrCreateWritable(HKEY parent, const QString& subpath, bool* readOnly,
                                               REGSAM viewBit)
{
    if (HKEY handle = openOrCreateKey(parent, subpath, readWriteRights, viewBit)) {
        *readOnly = false;
        return handle;
    }
    if (HKEY handle = openOrCreateKey(parent, subpath, readRights, viewBit)) {
        *readOnly = true;
        return handle;
    }
    return nullptr;
}

HKEY WinRegistrySettings::locationHandle(KeyLocation& location) const
{
    if (location.handle)
        return location.handle;
    if (location.readOnly)
        location.handle = openKey(location.root, location.subkey, readRights | location.access);
    else
        location.handle = openOrCreateWritable(location.root, location.subkey, &location.readOnly,
                                               location.access);
    return location.handle;
}

HKEY WinRegistrySettings::writeKeyHandle() const
{
    if (m_locations.isEmpty())
        return nullptr;
    KeyLocation& first = m_locations.first();
    if (!locationHandle(first) || first.readOnly)
        return nullptr;
    return first.handle;
}

// ---------------------------------------------------------------------------
// Reading

QVariant WinRegistrySettings::value(const QString& key, const QVariant& defaultValue) const
{
    if (key.isEmpty())
        return QVariant();
    QVariant result = defaultValue;
    QString slashKey = key;
    slashKey.replace(QLatin1Char('\\'), QLatin1Char('/'));
    findValue(normalizeKey(slashKey), &result);
    return result;
}

bool WinRegistrySettings::findValue(const QString& normalizedKey, QVariant* result) const
{
    const QString registryKey = toRegistryKey(normalizedKey);
    for (KeyLocation& location : m_locations) {
        const HKEY handle = locationHandle(location);
        if (handle && readValue(handle, registryKey, result))
            return true;
    }
    return false;
}

bool WinRegistrySettings::readValue(HKEY handle, const QString& registryKey, QVariant* result) const
{
    const QString valueName = valueNameOf(registryKey);
    const ScopedRegistryKey key(openKey(handle, keyPathOf(registryKey), readRights | m_viewAccess));
    if (!key.isOpen())
        return false;

    DWORD type = REG_NONE;
    DWORD reportedSize = 0;
    if (RegQueryValueExW(key.get(), wide(valueName), nullptr, &type, nullptr, &reportedSize) !=
        ERROR_SUCCESS)
        return false;

    qint64 bufferSize = reportedSize;
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        bufferSize += stringTerminatorRoom;
    else if (type == REG_MULTI_SZ)
        bufferSize += multiStringTerminatorRoom;
    if (bufferSize > std::numeric_limits<int>::max() - 16)
        return false; // no QByteArray holds it; treated like an unreadable value
    QByteArray buffer(int(bufferSize), '\0');

    DWORD storedSize = DWORD(buffer.size());
    if (RegQueryValueExW(key.get(), wide(valueName), nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(buffer.data()), &storedSize) != ERROR_SUCCESS)
        return false;

    *result = decodeData(type, buffer, storedSize);
    return true;
}

QVariant WinRegistrySettings::decodeData(DWORD type, const QByteArray& buffer, DWORD storedSize)
{
    switch (type) {
    case REG_NONE:
    case REG_BINARY:
        return buffer;
    case REG_SZ:
    case REG_EXPAND_SZ:
        if (storedSize == 0)
            return emptyText();
        return textUpToZero(buffer, 0, nullptr);
    case REG_MULTI_SZ: {
        QStringList strings;
        if (storedSize == 0)
            return strings;
        const int unitCount = buffer.size() / 2;
        int unit = 0;
        while (unit < unitCount) {
            const QString text = textUpToZero(buffer, unit, &unit);
            if (text.isEmpty())
                break;
            strings.append(text);
        }
        return strings;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        // Big-endian data is taken in little-endian order too, unswapped.
        return littleEndianPrefix<qint32>(buffer);
    case REG_QWORD:
        return qlonglong(littleEndianPrefix<qint64>(buffer));
    default:
        qWarning("QSettings: Unknown data %u type in Windows registry", unsigned(type));
        return QVariant();
    }
}

// ---------------------------------------------------------------------------
// Writing

void WinRegistrySettings::setValue(const QString& key, const QVariant& value)
{
    if (key.isEmpty())
        return;
    QString slashKey = key;
    slashKey.replace(QLatin1Char('\\'), QLatin1Char('/'));
    writeValue(normalizeKey(slashKey), value);
}

QByteArray WinRegistrySettings::encodeData(const QVariant& value, DWORD* type)
{
    QByteArray bytes;
    switch (value.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt: {
        *type = REG_DWORD;
        // toInt keeps all 32 bits of an unsigned value.
        const qint32 number = qToLittleEndian<qint32>(value.toInt());
        bytes.append(reinterpret_cast<const char*>(&number), sizeof number);
        break;
    }
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        *type = REG_QWORD;
        const qint64 number = qToLittleEndian<qint64>(value.toLongLong());
        bytes.append(reinterpret_cast<const char*>(&number), sizeof number);
        break;
    }
    case QMetaType::QStringList:
        *type = REG_MULTI_SZ;
        for (const QString& text : value.toStringList())
            appendUtf16WithTerminator(&bytes, text);
        bytes.append(2, '\0');
        break;
    case QMetaType::QByteArray:
        *type = REG_BINARY;
        bytes = value.toByteArray();
        break;
    default:
        *type = REG_SZ;
        appendUtf16WithTerminator(&bytes, value.toString());
        break;
    }
    return bytes;
}

void WinRegistrySettings::writeValue(const QString& normalizedKey, const QVariant& value)
{
    const HKEY writeHandle = writeKeyHandle();
    if (!writeHandle) {
        noteAccessError();
        return;
    }
    const QString registryKey = toRegistryKey(normalizedKey);
    const ScopedRegistryKey key(
        openOrCreateKey(writeHandle, keyPathOf(registryKey), readWriteRights, m_viewAccess));
    if (!key.isOpen()) {
        noteAccessError();
        return;
    }

    DWORD type = REG_SZ;
    const QByteArray bytes = encodeData(value, &type);
    const LONG result =
        RegSetValueExW(key.get(), wide(valueNameOf(registryKey)), 0, type,
                       reinterpret_cast<const BYTE*>(bytes.constData()), DWORD(bytes.size()));
    if (result == ERROR_SUCCESS) {
        m_removeWriteKeyOnDestroy = false;
    } else {
        qWarning("QSettings: failed to set subkey \"%s\": %s", local8(registryKey).constData(),
                 errorText(result).constData());
        noteAccessError();
    }
}

// ---------------------------------------------------------------------------
// Enumeration and removal

QStringList WinRegistrySettings::listNames(HKEY key, NameKind kind)
{
    QStringList names;
    DWORD subkeyCount = 0;
    DWORD longestSubkeyName = 0;
    DWORD valueCount = 0;
    DWORD longestValueName = 0;
    const LONG infoResult =
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeyCount, &longestSubkeyName, nullptr,
                         &valueCount, &longestValueName, nullptr, nullptr, nullptr);
    if (infoResult != ERROR_SUCCESS) {
        qWarning("RegQueryInfoKey() failed: %s", errorText(infoResult).constData());
        return names;
    }

    const bool values = kind == NameKind::Values;
    const DWORD count = values ? valueCount : subkeyCount;
    const DWORD longest = values ? longestValueName : longestSubkeyName;
    std::vector<WCHAR> buffer(size_t(longest) + 2, WCHAR(0));
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = DWORD(buffer.size());
        const LONG result = values ? RegEnumValueW(key, index, buffer.data(), &length, nullptr,
                                                   nullptr, nullptr, nullptr)
                                   : RegEnumKeyExW(key, index, buffer.data(), &length, nullptr,
                                                   nullptr, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            qWarning("RegEnumValue failed: %s", errorText(result).constData());
            continue;
        }
        length = qMin<DWORD>(length, DWORD(buffer.size()));
        QString name =
            QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer.data()), int(length));
        if (name.isEmpty())
            name = QStringLiteral(".");
        names.append(name);
    }
    return names;
}

void WinRegistrySettings::collectValuePaths(HKEY start, const QString& relativePath, PathSet* paths,
                                            REGSAM viewBit)
{
    ScopedRegistryKey key(openKey(start, relativePath, readRights | viewBit));
    if (!key.isOpen())
        return;
    const QStringList valueNames = listNames(key.get(), NameKind::Values);
    const QStringList subkeyNames = listNames(key.get(), NameKind::Subkeys);
    key.close();

    const QString prefix = relativePath.isEmpty() ? QString() : relativePath + QLatin1Char('\\');
    for (const QString& name : valueNames)
        paths->insert(prefix + name);
    for (const QString& name : subkeyNames)
        collectValuePaths(start, prefix + name, paths, viewBit);
}

QStringList WinRegistrySettings::allKeys() const
{
    PathSet result;
    for (KeyLocation& location : m_locations) {
        const HKEY handle = locationHandle(location);
        if (!handle)
            continue;
        const ScopedRegistryKey baseKey(openKey(handle, QString(), readRights | m_viewAccess));
        if (!baseKey.isOpen())
            continue;
        PathSet collected;
        collectValuePaths(baseKey.get(), QString(), &collected, m_viewAccess);
        for (const QString& path : collected)
            result.insert(toRegistryKey(path));
    }
    QStringList keys;
    keys.reserve(int(result.size()));
    for (const QString& path : result)
        keys.append(path);
    return keys;
}

void WinRegistrySettings::deleteSubkeysRecursively(HKEY key, REGSAM viewBit)
{
    const QStringList names = listNames(key, NameKind::Subkeys);
    for (const QString& name : names) {
        {
            const ScopedRegistryKey subkey(openKey(key, name, readWriteRights | viewBit));
            if (!subkey.isOpen())
                continue;
            deleteSubkeysRecursively(subkey.get(), viewBit);
        }
        // Named with its view: a 32-bit program's RegDeleteKeyW stays in the
        // 32-bit view whatever view the handle was opened in.
        const LONG result = RegDeleteKeyExW(key, wide(name), viewBit, 0);
        if (result != ERROR_SUCCESS) {
            qWarning("RegDeleteKey failed on subkey \"%s\": %s", local8(name).constData(),
                     errorText(result).constData());
            return;
        }
    }
}

void WinRegistrySettings::remove(const QString& key)
{
    // Unlike value and setValue, a backslash here stays part of a name.
    const QString normalizedKey = normalizeKey(key);
    if (normalizedKey.isEmpty()) {
        clearAll();
        return;
    }
    const HKEY writeHandle = writeKeyHandle();
    if (!writeHandle) {
        noteAccessError();
        return;
    }
    const QString registryKey = toRegistryKey(normalizedKey);

    {
        const ScopedRegistryKey parent(
            openKey(writeHandle, keyPathOf(registryKey), readWriteRights | m_viewAccess));
        if (parent.isOpen())
            RegDeleteValueW(parent.get(), wide(valueNameOf(registryKey)));
    }

    const ScopedRegistryKey tree(openKey(writeHandle, registryKey, readWriteRights | m_viewAccess));
    if (!tree.isOpen())
        return;
    deleteSubkeysRecursively(tree.get(), m_viewAccess);
    const LONG result = RegDeleteKeyExW(writeHandle, wide(registryKey), m_viewAccess, 0);
    if (result != ERROR_SUCCESS)
        qWarning("QSettings: RegDeleteKey failed on key \"%s\": %s",
                 local8(registryKey).constData(), errorText(result).constData());
}

void WinRegistrySettings::clearAll()
{
    // Whatever happens now, the write key itself goes when this object does,
    // unless something is written to it in between.
    m_removeWriteKeyOnDestroy = true;

    const HKEY writeHandle = writeKeyHandle();
    if (!writeHandle) {
        noteAccessError();
        return;
    }
    const QString self;
    const QString defaultValueName;
    {
        const ScopedRegistryKey writeKey(
            openKey(writeHandle, self, readWriteRights | m_viewAccess));
        if (writeKey.isOpen())
            RegDeleteValueW(writeKey.get(), wide(defaultValueName));
    }

    const ScopedRegistryKey writeKey(openKey(writeHandle, self, readWriteRights | m_viewAccess));
    if (!writeKey.isOpen())
        return;
    deleteSubkeysRecursively(writeKey.get(), m_viewAccess);
    for (const QString& name : listNames(writeKey.get(), NameKind::Values)) {
        const LONG result = RegDeleteValueW(writeKey.get(), wide(name));
        if (result != ERROR_SUCCESS)
            qWarning("QSettings: RegDeleteValue failed on subkey \"%s\": %s",
                     local8(name).constData(), errorText(result).constData());
    }
}
