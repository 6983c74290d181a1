#include "RegistryFaults.h"

#include <QHash>
#include <QVector>

namespace {

struct Fault
{
    QString function;
    QString subject;
    LONG code;
    std::function<void()> action;
};

QVector<Fault> armedFaults;
QHash<QString, int> callNumbers;

} // namespace

void RegistryFaults::reset()
{
    armedFaults.clear();
    callNumbers.clear();
}

void RegistryFaults::failOnce(const QString& function, const QString& subject, LONG code,
                              std::function<void()> action)
{
    armedFaults.append({function, subject, code, std::move(action)});
}

LONG RegistryFaults::intercept(const QString& function, QString subject)
{
    if (subject.isNull())
        subject = QStringLiteral("call %1").arg(++callNumbers[function]);
    for (int i = 0; i < armedFaults.size(); ++i) {
        if (armedFaults[i].function != function || armedFaults[i].subject != subject)
            continue;
        const Fault fault = armedFaults.takeAt(i);
        if (fault.action)
            fault.action();
        return fault.code;
    }
    return ERROR_SUCCESS;
}

// A Windows program calls the registry through advapi32's import table,
// which the linker's symbol wrapping does not reach.
#ifndef _WIN32
namespace {

// Never null: a null subject stands for a call number.
QString text(LPCWSTR units)
{
    const QString result = QString::fromUtf16(reinterpret_cast<const char16_t*>(units));
    return result.isNull() ? QString(QLatin1String("")) : result;
}

// Hands the call to the real function unless a fault answers it first.
template <typename... Parameters, typename... Arguments>
LONG pass(const char* function, const QString& subject, LONG (*real)(Parameters...),
          Arguments... arguments)
{
    if (const LONG code = RegistryFaults::intercept(QLatin1String(function), subject))
        return code;
    return real(arguments...);
}

} // namespace

extern "C" {

decltype(RegOpenKeyExW) __real_RegOpenKeyExW;
decltype(RegCreateKeyExW) __real_RegCreateKeyExW;
decltype(RegQueryValueExW) __real_RegQueryValueExW;
decltype(RegSetValueExW) __real_RegSetValueExW;
decltype(RegDeleteValueW) __real_RegDeleteValueW;
decltype(RegDeleteKeyW) __real_RegDeleteKeyW;
decltype(RegQueryInfoKeyW) __real_RegQueryInfoKeyW;
decltype(RegEnumValueW) __real_RegEnumValueW;
decltype(RegEnumKeyExW) __real_RegEnumKeyExW;

LONG __wrap_RegOpenKeyExW(HKEY key, LPCWSTR subkey, DWORD options, REGSAM rights, PHKEY result)
{
    return pass("RegOpenKeyExW", text(subkey), __real_RegOpenKeyExW, key, subkey, options, rights,
                result);
}

LONG __wrap_RegCreateKeyExW(HKEY key, LPCWSTR subkey, DWORD reserved, LPWSTR keyClass,
                            DWORD options, REGSAM rights, const LPSECURITY_ATTRIBUTES security,
                            PHKEY result, LPDWORD disposition)
{
    return pass("RegCreateKeyExW", text(subkey), __real_RegCreateKeyExW, key, subkey, reserved,
                keyClass, options, rights, security, result, disposition);
}

LONG __wrap_RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size)
{
    return pass("RegQueryValueExW", QString(), __real_RegQueryValueExW, key, name, reserved, type,
                data, size);
}

LONG __wrap_RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size)
{
    return pass("RegSetValueExW", text(name), __real_RegSetValueExW, key, name, reserved, type,
                data, size);
}

LONG __wrap_RegDeleteValueW(HKEY key, LPCWSTR name)
{
    return pass("RegDeleteValueW", text(name), __real_RegDeleteValueW, key, name);
}

LONG __wrap_RegDeleteKeyW(HKEY key, LPCWSTR subkey)
{
    return pass("RegDeleteKeyW", text(subkey), __real_RegDeleteKeyW, key, subkey);
}

LONG __wrap_RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                             LPDWORD subkeys, LPDWORD longestSubkey, LPDWORD longestClass,
                             LPDWORD values, LPDWORD longestValueName, LPDWORD longestValue,
                             LPDWORD securityDescriptor, PFILETIME lastWrite)
{
    return pass("RegQueryInfoKeyW", QString(), __real_RegQueryInfoKeyW, key, keyClass, classLength,
                reserved, subkeys, longestSubkey, longestClass, values, longestValueName,
                longestValue, securityDescriptor, lastWrite);
}

LONG __wrap_RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    return pass("RegEnumValueW", QString::number(index), __real_RegEnumValueW, key, index, name,
                nameLength, reserved, type, data, dataSize);
}

LONG __wrap_RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWrite)
{
    return pass("RegEnumKeyExW", QString::number(index), __real_RegEnumKeyExW, key, index, name,
                nameLength, reserved, keyClass, classLength, lastWrite);
}

} // extern "C"
#endif
