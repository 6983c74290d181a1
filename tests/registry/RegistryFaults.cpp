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
QStringList askedRights;
QHash<QString, int> callNumbers;

QString text(LPCWSTR units)
{
    return units ? QString::fromUtf16(reinterpret_cast<const char16_t*>(units)) : QString();
}

} // namespace

void RegistryFaults::reset()
{
    armedFaults.clear();
    askedRights.clear();
    callNumbers.clear();
}

void RegistryFaults::failOnce(const QString& function, const QString& subject, LONG code)
{
    armedFaults.append({function, subject, code, {}});
}

void RegistryFaults::beforeOnce(const QString& function, const QString& subject,
                                std::function<void()> action)
{
    armedFaults.append({function, subject, ERROR_SUCCESS, std::move(action)});
}

QStringList RegistryFaults::rightsAsked()
{
    QStringList rights = askedRights;
    rights.sort();
    rights.removeDuplicates();
    return rights;
}

LONG RegistryFaults::intercept(const QString& function, const QString& subject, REGSAM rights)
{
    if (rights)
        askedRights.append(QString::number(rights, 16));
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

QString RegistryFaults::nextCallNumber(const QString& function)
{
    return QStringLiteral("call %1").arg(++callNumbers[function]);
}

extern "C" {

LONG __real_RegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
LONG __real_RegCreateKeyExW(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM,
                            const LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);
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
    if (const LONG code = RegistryFaults::intercept("RegOpenKeyExW", text(subkey), rights))
        return code;
    return __real_RegOpenKeyExW(key, subkey, options, rights, result);
}

LONG __wrap_RegCreateKeyExW(HKEY key, LPCWSTR subkey, DWORD reserved, LPWSTR keyClass,
                            DWORD options, REGSAM rights, const LPSECURITY_ATTRIBUTES security,
                            PHKEY result, LPDWORD disposition)
{
    if (const LONG code = RegistryFaults::intercept("RegCreateKeyExW", text(subkey), rights))
        return code;
    return __real_RegCreateKeyExW(key, subkey, reserved, keyClass, options, rights, security,
                                  result, disposition);
}

LONG __wrap_RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size)
{
    const QString call = RegistryFaults::nextCallNumber("RegQueryValueExW");
    if (const LONG code = RegistryFaults::intercept("RegQueryValueExW", call))
        return code;
    return __real_RegQueryValueExW(key, name, reserved, type, data, size);
}

LONG __wrap_RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                           DWORD size)
{
    if (const LONG code = RegistryFaults::intercept("RegSetValueExW", text(name)))
        return code;
    return __real_RegSetValueExW(key, name, reserved, type, data, size);
}

LONG __wrap_RegDeleteValueW(HKEY key, LPCWSTR name)
{
    if (const LONG code = RegistryFaults::intercept("RegDeleteValueW", text(name)))
        return code;
    return __real_RegDeleteValueW(key, name);
}

LONG __wrap_RegDeleteKeyW(HKEY key, LPCWSTR subkey)
{
    if (const LONG code = RegistryFaults::intercept("RegDeleteKeyW", text(subkey)))
        return code;
    return __real_RegDeleteKeyW(key, subkey);
}

LONG __wrap_RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                             LPDWORD subkeys, LPDWORD longestSubkey, LPDWORD longestClass,
                             LPDWORD values, LPDWORD longestValueName, LPDWORD longestValue,
                             LPDWORD securityDescriptor, PFILETIME lastWrite)
{
    const QString call = RegistryFaults::nextCallNumber("RegQueryInfoKeyW");
    if (const LONG code = RegistryFaults::intercept("RegQueryInfoKeyW", call))
        return code;
    return __real_RegQueryInfoKeyW(key, keyClass, classLength, reserved, subkeys, longestSubkey,
                                   longestClass, values, longestValueName, longestValue,
                                   securityDescriptor, lastWrite);
}

LONG __wrap_RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    if (const LONG code = RegistryFaults::intercept("RegEnumValueW", QString::number(index)))
        return code;
    return __real_RegEnumValueW(key, index, name, nameLength, reserved, type, data, dataSize);
}

LONG __wrap_RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWrite)
{
    if (const LONG code = RegistryFaults::intercept("RegEnumKeyExW", QString::number(index)))
        return code;
    return __real_RegEnumKeyExW(key, index, name, nameLength, reserved, keyClass, classLength,
                                lastWrite);
}

} // extern "C"
