#include "Platform.h"

#include "WinApi.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QtGlobal>

namespace {

// The program runs with administrator rights, often from a Downloads folder
// that holds files someone else put there. Windows looks for a DLL that is
// not one of its KnownDLLs in the program's folder first, so before anything
// can load one, the search is restricted to the system folder. The program
// imports only KnownDLLs; every other DLL is delay-loaded, after this.
// It runs before every other static initialiser of the program and the
// framework (priority 101 is the first a program may take).
__attribute__((constructor(101))) void restrictDllSearch()
{
    // Looked up rather than imported: Windows 7 has it only with KB2533623.
    using SetDefault = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefault>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryW(L""); // at least not the working folder
}

} // namespace

void Platform::initializeProcess()
{
    // Windows itself serves the registry and the environment. The framework
    // is linked in whole: no plugin is looked for beside the program, where
    // a planted one would run with the program's rights.
    QCoreApplication::setLibraryPaths(QStringList());
}

QString Platform::cpuArchitecture()
{
    // The machine's architecture, not the build's: a 32-bit build on 64-bit
    // Windows answers "x86_64".
    return QSysInfo::currentCpuArchitecture();
}

QString Platform::errorText(long code)
{
    LPWSTR buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr)
        return qt_error_string(static_cast<int>(code));
    QString text = QString::fromWCharArray(buffer, static_cast<int>(length));
    LocalFree(buffer);
    // System messages end with "\r\n"; the callers put the text inside a line.
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')) ||
           text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

QString Platform::hostProblem()
{
    return QString();
}

bool Platform::claimSingleInstance()
{
    const QString name = QLatin1String(kInstanceName);
    // The handle stays open for the life of the process; Windows closes it.
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(name.utf16()));
    const DWORD error = GetLastError();
    if (mutex != nullptr && error != ERROR_ALREADY_EXISTS)
        return true;
    if (mutex != nullptr)
        CloseHandle(mutex);
    // Access is denied when another user's installer made it; any other
    // failure leaves nothing to guard against.
    return mutex == nullptr && error != ERROR_ACCESS_DENIED;
}
