#include "Platform.h"

#include "WinApi.h"

#include <QSysInfo>
#include <QtGlobal>

void Platform::initializeProcess()
{
    // Windows itself serves the registry and the environment: nothing to open.
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
