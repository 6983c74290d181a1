#include "RegistryFault.h"

QList<RegistryFault> RegistryFault::armed;

// A Windows program calls the registry through advapi32's import table,
// which the linker's symbol wrapping does not reach.
namespace {

QString text(LPCWSTR units)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(units));
}

// Makes the real call unless an armed fault answers it first.
template <typename Call> LONG pass(const char* function, const QString& subject, Call real)
{
    QList<RegistryFault>& faults = RegistryFault::armed;
    for (int i = 0; i < faults.size(); ++i) {
        RegistryFault& fault = faults[i];
        if (fault.function != QLatin1String(function))
            continue;
        const QString seen = subject == "#" ? subject + QString::number(++fault.calls) : subject;
        if (fault.subject.startsWith('*') ? !seen.endsWith(fault.subject.mid(1))
                                          : seen != fault.subject)
            continue;
        const RegistryFault hit = fault.lasting ? fault : faults.takeAt(i);
        return hit.code != ERROR_SUCCESS ? hit.code : real();
    }
    return real();
}

} // namespace

// The wrapper the linker calls instead of `function`, and the real function
// it hands the call to.
#define WRAP(function, subject, parameters, ...)                                                   \
    decltype(function) __real_##function;                                                          \
    LONG __wrap_##function parameters                                                              \
    {                                                                                              \
        return pass(#function, subject, [&] { return __real_##function(__VA_ARGS__); });           \
    }

extern "C" {
WRAP(RegOpenKeyExW, text(subkey),
     (HKEY key, LPCWSTR subkey, DWORD options, REGSAM rights, PHKEY result), key, subkey, options,
     rights, result)
WRAP(RegSetValueExW, text(name),
     (HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size), key, name,
     reserved, type, data, size)
WRAP(RegDeleteValueW, text(name), (HKEY key, LPCWSTR name), key, name)
WRAP(RegDeleteKeyExW, text(subkey), (HKEY key, LPCWSTR subkey, REGSAM view, DWORD reserved), key,
     subkey, view, reserved)
WRAP(RegQueryInfoKeyW, "#",
     (HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved, LPDWORD subkeys,
      LPDWORD longestSubkey, LPDWORD longestClass, LPDWORD values, LPDWORD longestValueName,
      LPDWORD longestValue, LPDWORD securityDescriptor, PFILETIME lastWrite),
     key, keyClass, classLength, reserved, subkeys, longestSubkey, longestClass, values,
     longestValueName, longestValue, securityDescriptor, lastWrite)
WRAP(RegEnumValueW, QString::number(index),
     (HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPDWORD type,
      LPBYTE data, LPDWORD dataSize),
     key, index, name, nameLength, reserved, type, data, dataSize)
}
