// Wrappers that the linker puts in place of the registry functions for the
// fault-injection test (--wrap=<name>): each records the call, may fail it on
// request, and otherwise hands it to the real function.

#include <QString>

#include "RegistryFaults.h"
#include "WinApi.h"

namespace {

QString text(LPCWSTR units)
{
    return units ? QString::fromUtf16(reinterpret_cast<const char16_t*>(units)) : QString();
}

} // namespace

extern "C" {

LONG __real_RegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
LONG __real_RegCreateKeyExW(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM,
                            const LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);
LONG __real_RegCloseKey(HKEY);
LONG __real_RegQueryValueExW(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
LONG __real_RegSetValueExW(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
LONG __real_RegDeleteValueW(HKEY, LPCWSTR);
LONG __real_RegDeleteKeyW(HKEY, LPCWSTR);
LONG __real_RegQueryInfoKeyW(HKEY, LPWSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD,
                             LPDWORD, LPDWORD, LPDWORD, PFILETIME);
LONG __real_RegEnumValueW(HKEY, DWORD, LPWSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
LONG __real_RegEnumKeyExW(HKEY, DWORD, LPWSTR, LPDWORD, LPDWORD, LPWSTR, LPDWORD, PFILETIME);

LONG __wrap_RegOpenKeyExW(HKEY key, LPCWSTR subkey, DWORD options, REGSAM rights, PHKEY result)
{
    const QString subject = text(subkey);
    RegistryFaults::record(QStringLiteral("RegOpenKeyExW"), subject, rights);
    LONG code = 0;
    if (RegistryFaults::shouldFail(QStringLiteral("RegOpenKeyExW"), subject, &code))
        return code;
    const LONG answer = __real_RegOpenKeyExW(key, subkey, options, rights, result);
    if (answer == ERROR_SUCCESS)
        RegistryFaults::opened(*result);
    return answer;
}

LONG __wrap_RegCreateKeyExW(HKEY key, LPCWSTR subkey, DWORD reserved, LPWSTR keyClass,
                            DWORD options, REGSAM rights, const LPSECURITY_ATTRIBUTES security,
                            PHKEY result, LPDWORD disposition)
{
    const QString subject = text(subkey);
    RegistryFaults::record(QStringLiteral("RegCreateKeyExW"), subject, rights);
    LONG code = 0;
    if (RegistryFaults::shouldFail(QStringLiteral("RegCreateKeyExW"), subject, &code))
        return code;
    const LONG answer = __real_RegCreateKeyExW(key, subkey, reserved, keyClass, options, rights,
                                               security, result, disposition);
    if (answer == ERROR_SUCCESS)
        RegistryFaults::opened(*result);
    return answer;
}

LONG __wrap_RegCloseKey(HKEY key)
{
    RegistryFaults::record(QStringLiteral("RegCloseKey"), QString(), 0);
    RegistryFaults::closing(key);
    return __real_RegCloseKey(key);
}

LONG __wrap_RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size)
{
    const QString subject = RegistryFaults::nextCallNumber(QStringLiteral("RegQueryValueExW"));
    RegistryFaults::record(QStringLiteral("RegQueryValueExW"), subject, 0);
    LONG code = 0;
    if (RegistryFaults::shouldFail(QStringLiteral("RegQueryValueExW"), subject, &code))
        return code;
    return __real_RegQueryValueExW(key, name, reserved, type, data, size);
}

LONG __wrap_RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size)
{
    const QString subject = text(name);
    RegistryFaults::record(QStringLiteral("RegSetValueExW"), subject, 0);
    LONG code = 0;
    if (RegistryFaults::shouldFail(QStringLiteral("RegSetValueExW"), subject, &code))
        return code;
    return __real_RegSetValueExW(key, name, reserved, type, data, size);
}

LONG __wrap_RegDeleteValueW(HKEY key, LPCWSTR name)
{
    const QString subject = text(name);
    RegistryFaults::record(QStringLiteral("RegDeleteValueW"), subject, 0);
    LONG code = 0;
    if (RegistryFaults::shouldFail(QStringLiteral("RegDeleteValueW"), subject, &code))
        return code;
    return __real_RegDeleteValueW(key, name);
}

LONG __wrap_RegDeleteKeyW(HKEY key, LPCWSTR subkey)
{
    const QString subject = text(subkey);
    RegistryFaults::record(QStringLiteral("RegDeleteKeyW"), subject, 0);
    LONG code = 0;
    if (RegistryFaults::shouldFail(QStringLiteral("RegDeleteKeyW"), subject, &code))
        return code;
    return __real_RegDeleteKeyW(key, subkey);
}

LONG __wrap_RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                             LPDWORD subkeys, LPDWORD longestSubkey, LPDWORD longestClass,
                             LPDWORD values, LPDWORD longestValueName, LPDWORD longestValue,
                             LPDWORD securityDescriptor, PFILETIME lastWrite)
{
    const QString subject = RegistryFaults::nextCallNumber(QStringLiteral("RegQueryInfoKeyW"));
    RegistryFaults::record(QStringLiteral("RegQueryInfoKeyW"), subject, 0);
    LONG code = 0;
    if (RegistryFaults::shouldFail(QStringLiteral("RegQueryInfoKeyW"), subject, &code))
        return code;
    return __real_RegQueryInfoKeyW(key, keyClass, classLength, reserved, subkeys, longestSubkey,
                                   longestClass, values, longestValueName, longestValue,
                                   securityDescriptor, lastWrite);
}

LONG __wrap_RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    const QString subject = QString::number(index);
    RegistryFaults::record(QStringLiteral("RegEnumValueW"), subject, 0);
    LONG code = 0;
    if (RegistryFaults::shouldFail(QStringLiteral("RegEnumValueW"), subject, &code))
        return code;
    return __real_RegEnumValueW(key, index, name, nameLength, reserved, type, data, dataSize);
}

LONG __wrap_RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWrite)
{
    const QString subject = QString::number(index);
    RegistryFaults::record(QStringLiteral("RegEnumKeyExW"), subject, 0);
    LONG code = 0;
    if (RegistryFaults::shouldFail(QStringLiteral("RegEnumKeyExW"), subject, &code))
        return code;
    return __real_RegEnumKeyExW(key, index, name, nameLength, reserved, keyClass, classLength,
                                lastWrite);
}

} // extern "C"
