// MoveFileExW and the thread's last error on the simulated host. Paths are
// ordinary paths of this machine; a deletion or move at restart is queued in
// the registry where Windows queues it.

#include "HostSession.h"
#include "PendingFileOperations.h"
#include "RegistryName.h"
#include "RegistryStore.h"
#include "SimulatedWinApi.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

BOOL failWith(DWORD code)
{
    lastError = code;
    return FALSE;
}

DWORD queueAtRestart(const QString& source, const QString& target)
{
    HostSession& session = HostSession::instance();
    std::lock_guard<std::recursive_mutex> guard(session.mutex());
    if (!session.isElevated())
        return ERROR_ACCESS_DENIED;
    HostDatabase* db = nullptr;
    if (LONG code = session.database(&db); code != ERROR_SUCCESS)
        return DWORD(code);
    // Read, append and write back in one write transaction, so that two
    // processes queueing at once both keep their entry.
    HostDatabase::Transaction transaction(*db, true);
    if (transaction.beginError() != ERROR_SUCCESS)
        return DWORD(transaction.beginError());
    RegistryStore store(*db);
    RegistryStore::KeyRow root;
    if (LONG code = store.key(HostDatabase::localMachineId, &root); code != ERROR_SUCCESS)
        return DWORD(code);
    const QString keyPath = QLatin1String(PendingFileOperations::keyPath);
    std::vector<QByteArray> path;
    RegistryName::splitPath(reinterpret_cast<const WCHAR*>(keyPath.utf16()), &path);
    RegistryStore::Walk walk;
    walk.create = true;
    RegistryStore::KeyRow key;
    if (LONG code = store.resolve(root, path, &walk, &key); code != ERROR_SUCCESS)
        return DWORD(code);
    const QByteArray name = RegistryName::stored(QLatin1String(PendingFileOperations::valueName));
    RegistryStore::Value value;
    LONG code = store.queryValue(key.id, name, &value);
    if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND)
        return DWORD(code);
    PendingFileOperations pending = PendingFileOperations::fromData(value.data);
    pending.append(source, target);
    if (code = store.setValue(key.id, name, REG_MULTI_SZ, pending.toData()); code != ERROR_SUCCESS)
        return DWORD(code);
    return DWORD(transaction.commit());
}

DWORD moveNow(const QString& source, const QString& target, DWORD flags)
{
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists() && !sourceInfo.isSymLink())
        return ERROR_FILE_NOT_FOUND;
    const QFileInfo targetInfo(target);
    if (targetInfo.exists() || targetInfo.isSymLink()) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING))
            return ERROR_ALREADY_EXISTS;
        if (targetInfo.isDir())
            return ERROR_ACCESS_DENIED;
    }
    if (std::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) ==
        0)
        return ERROR_SUCCESS;
    if (errno == EXDEV && (flags & MOVEFILE_COPY_ALLOWED) && !sourceInfo.isDir()) {
        QFile::remove(target);
        if (QFile::copy(source, target) && QFile::remove(source))
            return ERROR_SUCCESS;
        return ERROR_ACCESS_DENIED;
    }
    switch (errno) {
    case ENOENT:
        return ERROR_PATH_NOT_FOUND;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

} // namespace

extern "C" {

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags)
{
    if (!lpExistingFileName || !*lpExistingFileName)
        return failWith(ERROR_INVALID_PARAMETER);
    const QString source = QString::fromUtf16(lpExistingFileName);
    const QString target = lpNewFileName ? QString::fromUtf16(lpNewFileName) : QString();
    DWORD code = ERROR_SUCCESS;
    if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        if (dwFlags & MOVEFILE_COPY_ALLOWED)
            return failWith(ERROR_INVALID_PARAMETER);
        const bool replaces = !target.isEmpty() && (dwFlags & MOVEFILE_REPLACE_EXISTING);
        code = queueAtRestart(source, replaces ? QLatin1Char('!') + target : target);
    } else if (target.isEmpty()) {
        code = ERROR_INVALID_PARAMETER;
    } else {
        code = moveNow(source, target, dwFlags);
    }
    if (code != ERROR_SUCCESS)
        return failWith(code);
    lastError = ERROR_SUCCESS;
    return TRUE;
}

DWORD GetLastError()
{
    return lastError;
}

void SetLastError(DWORD dwErrCode)
{
    lastError = dwErrCode;
}

} // extern "C"
