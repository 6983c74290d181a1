// MoveFileExW and the thread's last error on the simulated host. Only what
// Windows does at the next restart is served: the deletion or rename is
// queued in the registry where Windows queues it, under the Windows path
// ("C:\...") that the given path names on the host's drive.

#include "HostSession.h"
#include "PendingFileOperations.h"
#include "RegistryStore.h"
#include "SimulatedWinApi.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

BOOL failWith(DWORD code)
{
    lastError = code;
    return FALSE;
}

DWORD queueAtRestart(const PendingFileOperations::Operation& operation)
{
    HostSession& session = HostSession::instance();
    std::lock_guard<std::recursive_mutex> guard(session.mutex());
    if (!session.isElevated())
        return ERROR_ACCESS_DENIED;
    HostDatabase* db = nullptr;
    if (LONG code = session.database(&db); code != ERROR_SUCCESS)
        return DWORD(code);
    // A path that leaves the host's drive names nothing on this Windows.
    const HostDrive drive = session.drive();
    PendingFileOperations::Operation queued = operation;
    queued.source = drive.windowsPath(operation.source);
    queued.target = operation.target.isEmpty() ? QString() : drive.windowsPath(operation.target);
    if (queued.source.isEmpty() || (queued.target.isEmpty() != operation.target.isEmpty()))
        return ERROR_PATH_NOT_FOUND;
    // Read, append and write back in one write transaction, so that two
    // processes queueing at once both keep their entry.
    HostDatabase::Transaction transaction(*db, true);
    if (transaction.beginError() != ERROR_SUCCESS)
        return DWORD(transaction.beginError());
    RegistryStore store(*db);
    PendingFileOperations pending;
    if (LONG code = PendingFileOperations::read(store, &pending); code != ERROR_SUCCESS)
        return DWORD(code);
    pending.append(queued);
    if (LONG code = pending.write(store); code != ERROR_SUCCESS)
        return DWORD(code);
    return DWORD(transaction.commit());
}

} // namespace

extern "C" {

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags)
{
    if (!lpExistingFileName || !*lpExistingFileName)
        return failWith(ERROR_INVALID_PARAMETER);
    // Moving files at once is not a service of this host: programs move their
    // own files, and the host acts on files only at its restart.
    if (!(dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT))
        return failWith(ERROR_NOT_SUPPORTED);
    if (dwFlags & MOVEFILE_COPY_ALLOWED)
        return failWith(ERROR_INVALID_PARAMETER);
    PendingFileOperations::Operation operation;
    operation.source = QString::fromUtf16(lpExistingFileName);
    operation.target = lpNewFileName ? QString::fromUtf16(lpNewFileName) : QString();
    operation.replaces = !operation.target.isEmpty() && (dwFlags & MOVEFILE_REPLACE_EXISTING);
    if (const DWORD code = queueAtRestart(operation); code != ERROR_SUCCESS)
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
