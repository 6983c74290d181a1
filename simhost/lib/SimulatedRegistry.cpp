// The registry calls of the Win32 API, served from the simulated host's
// database. Each call is one transaction: a change is committed before the
// call returns, and a call that fails changes nothing.

#include "HostSession.h"
#include "RegistryName.h"
#include "RegistryStore.h"
#include "SimulatedWinApi.h"

#include <QThread>

#include <cstring>
#include <optional>

namespace {

constexpr REGSAM viewBits = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
constexpr REGSAM writeDac = 0x00040000;
constexpr REGSAM writeOwner = 0x00080000;
constexpr REGSAM maximumAllowed = 0x02000000;
constexpr REGSAM genericAll = 0x10000000;
constexpr REGSAM genericExecute = 0x20000000;
constexpr REGSAM genericWrite = 0x40000000;
constexpr REGSAM genericRead = 0x80000000;
constexpr REGSAM writeRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | writeDac | writeOwner;

qint64 predefinedRoot(HKEY handle)
{
    const auto value = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(handle));
    if ((reinterpret_cast<ULONG_PTR>(handle) >> 32) != 0 &&
        (reinterpret_cast<ULONG_PTR>(handle) >> 32) != 0xffffffffu)
        return 0;
    switch (value) {
    case 0x80000000u:
        return HostDatabase::classesRootId;
    case 0x80000001u:
        return HostDatabase::currentUserId;
    case 0x80000002u:
        return HostDatabase::localMachineId;
    case 0x80000003u:
        return HostDatabase::usersId;
    default:
        return 0;
    }
}

// The rights a request amounts to, generic rights spelled out.
REGSAM specificRights(REGSAM requested, bool restricted)
{
    REGSAM rights = requested & ~(viewBits | genericAll | genericExecute | genericWrite |
                                  genericRead | maximumAllowed);
    if (requested & genericRead)
        rights |= KEY_READ;
    if (requested & genericExecute)
        rights |= KEY_EXECUTE;
    if (requested & genericWrite)
        rights |= KEY_WRITE;
    if (requested & genericAll)
        rights |= KEY_ALL_ACCESS;
    if (requested & maximumAllowed)
        rights |= restricted ? KEY_READ : KEY_ALL_ACCESS;
    return rights;
}

// Without administrator rights HKEY_LOCAL_MACHINE is readable only.
bool isRestricted(HostSession& session, qint64 root)
{
    return root == HostDatabase::localMachineId && !session.isElevated();
}

LONG findTarget(HostSession& session, HKEY handle, HostSession::OpenKey* target)
{
    if (!handle)
        return ERROR_INVALID_HANDLE;
    if (const qint64 root = predefinedRoot(handle)) {
        target->key = root;
        target->root = root;
        target->granted = isRestricted(session, root) ? KEY_READ : KEY_ALL_ACCESS;
        target->view = 0;
        return ERROR_SUCCESS;
    }
    HostSession::OpenKey* open = session.findHandle(handle);
    if (!open)
        return ERROR_INVALID_HANDLE;
    *target = *open;
    return ERROR_SUCCESS;
}

// What every call on a key does first: lock the session, find the handle,
// check that it carries the rights the call needs and open the database;
// then, in begin(), start the call's transaction and make sure the key has
// not been deleted through another handle in the meantime.
class KeyCall
{
public:
    KeyCall(HKEY handle, REGSAM needed)
        : guard(HostSession::instance().mutex()), session(HostSession::instance())
    {
        // VEXOR_HOST_CALL_DELAY_MS slows every call down, so that a drill can
        // stop a program in the middle of its work.
        static const int delay = qEnvironmentVariableIntValue("VEXOR_HOST_CALL_DELAY_MS");
        if (delay > 0)
            QThread::msleep(unsigned(delay));
        code = findTarget(session, handle, &target);
        if (code == ERROR_SUCCESS && (target.granted & needed) != needed)
            code = ERROR_ACCESS_DENIED;
        if (code == ERROR_SUCCESS)
            code = session.database(&database);
    }

    LONG status() const { return code; }

    LONG begin(bool write)
    {
        if (code != ERROR_SUCCESS)
            return code;
        transaction.emplace(*database, write);
        if (LONG error = transaction->beginError(); error != ERROR_SUCCESS)
            return error;
        store.emplace(*database);
        return store->key(target.key, &key);
    }

    LONG commit() { return transaction->commit(); }

    HostDatabase& host() { return *database; }

private:
    // First, so that the session stays locked until everything else is gone.
    std::lock_guard<std::recursive_mutex> guard;

public:
    HostSession& session;
    HostSession::OpenKey target;
    std::optional<RegistryStore> store;
    RegistryStore::KeyRow key; // the handle's key, once begin() succeeded

private:
    HostDatabase* database = nullptr;
    std::optional<HostDatabase::Transaction> transaction;
    LONG code = ERROR_SUCCESS;
};

// Whether a call's walk takes the 32-bit view: asked for, or, in a 32-bit
// process, not asked otherwise. Windows maps a call to the view it names,
// whatever handle its path starts from: a handle opened in the 64-bit view
// passes nothing on (Wine's differs; see the conformance differences).
LONG viewOf(HostSession& session, REGSAM requested, bool* redirect32)
{
    *redirect32 = false;
    if (!session.isWow64Host())
        return ERROR_SUCCESS; // a 32-bit host has one view only
    if ((requested & viewBits) == viewBits)
        return ERROR_INVALID_PARAMETER;
    *redirect32 = (requested & KEY_WOW64_32KEY) != 0 ||
                  (session.is32BitProcess() && !(requested & KEY_WOW64_64KEY));
    return ERROR_SUCCESS;
}

QByteArray valueName(LPCWSTR name)
{
    return RegistryName::stored(name, RegistryName::length(name));
}

void copyName(const QByteArray& stored, LPWSTR buffer)
{
    std::memcpy(buffer, stored.constData(), size_t(stored.size()));
    buffer[stored.size() / int(sizeof(WCHAR))] = 0;
}

// The size protocol of value data: the size always comes back, and a buffer
// too small for the data is left untouched with ERROR_MORE_DATA.
LONG copyData(const QByteArray& data, LPBYTE buffer, LPDWORD size)
{
    const DWORD needed = DWORD(data.size());
    if (buffer && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (buffer)
        std::memcpy(buffer, data.constData(), needed);
    if (size)
        *size = needed;
    return ERROR_SUCCESS;
}

FILETIME toFileTime(qint64 ticks)
{
    FILETIME time;
    time.dwLowDateTime = DWORD(quint64(ticks) & 0xffffffffu);
    time.dwHighDateTime = DWORD(quint64(ticks) >> 32);
    return time;
}

// Starts the call's transaction and follows path from the call's key.
LONG walkPath(KeyCall& call, const std::vector<QByteArray>& path, bool write,
              RegistryStore::Walk* walk, RegistryStore::KeyRow* found)
{
    if (LONG code = call.begin(write); code != ERROR_SUCCESS)
        return code;
    return call.store->resolve(call.key, path, walk, found);
}

LONG openOrCreate(HKEY parent, LPCWSTR subKey, REGSAM requested, bool create, DWORD options,
                  LPCWSTR keyClass, PHKEY result, LPDWORD disposition)
{
    KeyCall call(parent, 0);
    if (call.status() != ERROR_SUCCESS)
        return call.status();
    bool redirect32 = false;
    if (LONG code = viewOf(call.session, requested, &redirect32); code != ERROR_SUCCESS)
        return code;
    const bool restricted = isRestricted(call.session, call.target.root);
    const REGSAM granted = specificRights(requested, restricted);
    const bool namesNoSubkey = !subKey || !subKey[0];
    if (!create && namesNoSubkey && predefinedRoot(parent)) {
        // Windows hands a predefined root back as itself rather than as a
        // new handle; its rights stay those of the root.
        if (restricted && (granted & writeRights))
            return ERROR_ACCESS_DENIED;
        *result = parent;
        return ERROR_SUCCESS;
    }
    std::vector<QByteArray> path;
    if (LONG code = RegistryName::splitPath(subKey, &path); code != ERROR_SUCCESS)
        return code;
    RegistryStore::Walk walk;
    walk.redirect32 = redirect32;
    walk.create = create;
    walk.createVolatile = (options & REG_OPTION_VOLATILE) != 0;
    walk.keyClass = valueName(keyClass);
    RegistryStore::KeyRow found;
    // Most creates find their key already there, so the walk starts in a
    // read transaction; it becomes a write transaction only when a level
    // has to be made.
    call.host().beginAttempt();
    LONG code = walkPath(call, path, false, &walk, &found);
    if (code != ERROR_SUCCESS && create && call.host().lostWriteRace()) {
        call.host().forgetAttempt();
        walk.created = false;
        code = walkPath(call, path, true, &walk, &found);
    }
    if (code != ERROR_SUCCESS)
        return code;

    if (walk.created && (!(call.target.granted & KEY_CREATE_SUB_KEY) || restricted))
        return ERROR_ACCESS_DENIED;
    if (restricted && (granted & writeRights))
        return ERROR_ACCESS_DENIED;
    if (LONG commitCode = call.commit(); commitCode != ERROR_SUCCESS)
        return commitCode;

    HostSession::OpenKey opened;
    opened.key = found.id;
    opened.root = call.target.root;
    opened.granted = granted;
    opened.view = requested & viewBits;
    *result = call.session.addHandle(opened);
    if (disposition)
        *disposition = walk.created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

} // namespace

extern "C" {

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    Q_UNUSED(ulOptions);
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    // A failed open leaves no stale value behind for a caller that closes
    // whatever it got.
    *phkResult = nullptr;
    return openOrCreate(hKey, lpSubKey, samDesired, false, 0, nullptr, phkResult, nullptr);
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                     PHKEY phkResult, LPDWORD lpdwDisposition)
{
    Q_UNUSED(Reserved);
    Q_UNUSED(lpSecurityAttributes);
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    return openOrCreate(hKey, lpSubKey, samDesired, true, dwOptions, lpClass, phkResult,
                        lpdwDisposition);
}

LONG RegCloseKey(HKEY hKey)
{
    std::lock_guard<std::recursive_mutex> guard(HostSession::instance().mutex());
    if (!hKey)
        return ERROR_INVALID_HANDLE;
    if (predefinedRoot(hKey))
        return ERROR_SUCCESS;
    return HostSession::instance().removeHandle(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    KeyCall call(hKey, KEY_QUERY_VALUE);
    if (LONG code = call.begin(false); code != ERROR_SUCCESS)
        return code;
    RegistryStore::Value value;
    if (LONG code = call.store->queryValue(call.key.id, valueName(lpValueName), &value);
        code != ERROR_SUCCESS)
        return code;
    if (lpType)
        *lpType = value.type;
    return copyData(value.data, lpData, lpcbData);
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData)
{
    Q_UNUSED(Reserved);
    KeyCall call(hKey, KEY_SET_VALUE);
    if (call.status() != ERROR_SUCCESS)
        return call.status();
    if (RegistryName::length(lpValueName) > RegistryName::maxValueNameLength)
        return ERROR_INVALID_PARAMETER;
    if (!lpData && cbData > 0)
        return ERROR_NOACCESS;
    if (LONG code = call.begin(true); code != ERROR_SUCCESS)
        return code;
    // The caller's buffer, not a copy: it stays put for the whole call.
    const QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(lpData), int(cbData));
    if (LONG code = call.store->setValue(call.key.id, valueName(lpValueName), dwType, data);
        code != ERROR_SUCCESS)
        return code;
    return call.commit();
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    KeyCall call(hKey, KEY_SET_VALUE);
    if (LONG code = call.begin(true); code != ERROR_SUCCESS)
        return code;
    if (LONG code = call.store->deleteValue(call.key.id, valueName(lpValueName));
        code != ERROR_SUCCESS)
        return code;
    return call.commit();
}

LONG RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, DWORD Reserved)
{
    Q_UNUSED(Reserved);
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    KeyCall call(hKey, 0);
    if (call.status() != ERROR_SUCCESS)
        return call.status();
    bool redirect32 = false;
    if (LONG code = viewOf(call.session, samDesired, &redirect32);
        code != ERROR_SUCCESS)
        return code;
    std::vector<QByteArray> path;
    if (LONG code = RegistryName::splitPath(lpSubKey, &path); code != ERROR_SUCCESS)
        return code;
    RegistryStore::Walk walk;
    walk.redirect32 = redirect32;
    RegistryStore::KeyRow found;
    if (LONG code = walkPath(call, path, true, &walk, &found); code != ERROR_SUCCESS)
        return code;
    if (isRestricted(call.session, call.target.root))
        return ERROR_ACCESS_DENIED;
    if (LONG code = call.store->deleteKey(found); code != ERROR_SUCCESS)
        return code;
    return call.commit();
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    // It cannot reach the other view: the subkey is looked for in the
    // process's own view.
    return RegDeleteKeyExW(hKey, lpSubKey, 0, 0);
}

LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                      LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                      LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime)
{
    if (lpReserved || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    KeyCall call(hKey, KEY_QUERY_VALUE);
    if (LONG code = call.begin(false); code != ERROR_SUCCESS)
        return code;
    RegistryStore::KeyInfo info;
    if (LONG code = call.store->info(call.key.id, &info); code != ERROR_SUCCESS)
        return code;
    LONG result = ERROR_SUCCESS;
    const DWORD classLength = DWORD(info.keyClass.size() / int(sizeof(WCHAR)));
    if (lpcchClass) {
        if (lpClass && *lpcchClass <= classLength)
            result = ERROR_MORE_DATA;
        else if (lpClass)
            copyName(info.keyClass, lpClass);
        *lpcchClass = classLength;
    }
    if (lpcSubKeys)
        *lpcSubKeys = info.subKeys;
    if (lpcbMaxSubKeyLen)
        *lpcbMaxSubKeyLen = info.maxSubKeyLength;
    if (lpcbMaxClassLen)
        *lpcbMaxClassLen = info.maxClassLength;
    if (lpcValues)
        *lpcValues = info.values;
    if (lpcbMaxValueNameLen)
        *lpcbMaxValueNameLen = info.maxValueNameLength;
    if (lpcbMaxValueLen)
        *lpcbMaxValueLen = info.maxValueLength;
    if (lpcbSecurityDescriptor)
        *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime)
        *lpftLastWriteTime = toFileTime(info.written);
    return result;
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                   LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    KeyCall call(hKey, KEY_QUERY_VALUE);
    if (LONG code = call.begin(false); code != ERROR_SUCCESS)
        return code;
    RegistryStore::Value value;
    if (LONG code = call.store->valueAt(call.key.id, dwIndex, &value); code != ERROR_SUCCESS)
        return code;
    const DWORD nameLength = DWORD(value.name.size() / int(sizeof(WCHAR)));
    // A name that does not fit leaves the caller's length as it was (the
    // needed length comes from RegQueryInfoKeyW); type and size still come
    // back. A name that fits is returned even when the data does not.
    if (lpType)
        *lpType = value.type;
    if (*lpcchValueName <= nameLength) {
        if (lpcbData)
            *lpcbData = DWORD(value.data.size());
        return ERROR_MORE_DATA;
    }
    copyName(value.name, lpValueName);
    *lpcchValueName = nameLength;
    return copyData(value.data, lpData, lpcbData);
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    KeyCall call(hKey, KEY_ENUMERATE_SUB_KEYS);
    if (LONG code = call.begin(false); code != ERROR_SUCCESS)
        return code;
    RegistryStore::SubKey subKey;
    if (LONG code = call.store->subKeyAt(call.key.id, dwIndex, &subKey); code != ERROR_SUCCESS)
        return code;
    const DWORD nameLength = DWORD(subKey.name.size() / int(sizeof(WCHAR)));
    const DWORD classLength = DWORD(subKey.keyClass.size() / int(sizeof(WCHAR)));
    // Short buffers leave both lengths as they were: the needed lengths
    // come from RegQueryInfoKeyW.
    if (*lpcchName <= nameLength || (lpClass && *lpcchClass <= classLength))
        return ERROR_MORE_DATA;
    copyName(subKey.name, lpName);
    *lpcchName = nameLength;
    if (lpClass) {
        copyName(subKey.keyClass, lpClass);
        *lpcchClass = classLength;
    }
    if (lpftLastWriteTime)
        *lpftLastWriteTime = toFileTime(subKey.written);
    return ERROR_SUCCESS;
}

} // extern "C"
