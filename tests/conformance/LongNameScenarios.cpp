#include "ConformanceScenarios.h"
#include "RegistryScratch.h"
#include "TimedCalls.h"

#include <algorithm>

namespace {

const WString base = WString(ConformanceScenarios::scratchRoot) + WIDE("\\long");

WString repeated(WCHAR unit, size_t count)
{
    return WString(count, unit);
}

} // namespace

void ConformanceScenarios::runLongNames(ConformanceReport& report)
{
    TimedCalls api(report);
    RegistryScratch::removeTree(HKEY_CURRENT_USER, base);
    HKEY root = RegistryScratch::create(HKEY_CURRENT_USER, base);

    const size_t keyLengths[] = {254, 255, 256, 257, 300};
    for (size_t length : keyLengths) {
        const WString name = repeated(WIDE('k'), length);
        HKEY key = TimedCalls::sentinel();
        DWORD disposition = 0;
        LONG result = api.create(root, name.c_str(), KEY_ALL_ACCESS, &key, &disposition);
        report.check("long.create-key-name-of-" + std::to_string(length) + "-characters",
                     "RegCreateKeyExW(base, k*" + std::to_string(length) + ")", result,
                     TimedCalls::outHandle(key, TimedCalls::sentinel()));
        if (result == ERROR_SUCCESS)
            api.close(key);
        key = TimedCalls::sentinel();
        result = api.open(root, name.c_str(), KEY_READ, &key);
        report.check("long.open-key-name-of-" + std::to_string(length) + "-characters",
                     "RegOpenKeyExW(base, k*" + std::to_string(length) + ")", result,
                     TimedCalls::outHandle(key, TimedCalls::sentinel()));
        if (result == ERROR_SUCCESS)
            api.close(key);
    }

    // Limits hold per path element, not for the whole path.
    {
        WString path;
        for (int level = 0; level < 8; ++level)
            path += (level ? WIDE("\\") : WIDE("")) + repeated(WCHAR(WIDE('a') + level), 200);
        HKEY key = nullptr;
        LONG result = api.create(root, path.c_str(), KEY_ALL_ACCESS, &key, nullptr);
        report.check("long.create-eight-levels-of-200-characters", "RegCreateKeyExW(base, 8x200)",
                     result);
        if (result == ERROR_SUCCESS)
            api.close(key);
        result = api.open(root, path.c_str(), KEY_READ, &key);
        report.check("long.open-eight-levels-of-200-characters", "RegOpenKeyExW(base, 8x200)",
                     result);
        if (result == ERROR_SUCCESS)
            api.close(key);
    }

    const size_t valueLengths[] = {255, 256, 16383, 16384};
    for (size_t length : valueLengths) {
        const WString name = repeated(WIDE('v'), length);
        const BYTE data[] = {1, 2, 3, 4};
        LONG result = api.set(root, name.c_str(), REG_BINARY, data, sizeof data);
        report.check("long.set-value-name-of-" + std::to_string(length) + "-characters",
                     "RegSetValueExW(base, v*" + std::to_string(length) + ", REG_BINARY, 4 bytes)",
                     result);
        DWORD size = 0;
        DWORD type = 0;
        result = api.query(root, name.c_str(), &type, nullptr, &size);
        report.check("long.query-value-name-of-" + std::to_string(length) + "-characters",
                     "RegQueryValueExW(base, v*" + std::to_string(length) + ", NULL)", result,
                     result == ERROR_SUCCESS
                         ? TimedCalls::typeName(type) + " size=" + std::to_string(size)
                         : std::string());
    }

    {
        DWORD subkeys = 0, longestSubkey = 0, values = 0, longestValueName = 0, longestValue = 0;
        const LONG result =
            api.info(root, &subkeys, &longestSubkey, &values, &longestValueName, &longestValue);
        report.check("long.info-reports-longest-names", "RegQueryInfoKeyW(base)", result,
                     "subkeys=" + std::to_string(subkeys) + " longestSubkey=" +
                         std::to_string(longestSubkey) + " values=" + std::to_string(values) +
                         " longestValueName=" + std::to_string(longestValueName) +
                         " longestValue=" + std::to_string(longestValue));
    }

    // Large data round-trips whole.
    {
        std::vector<BYTE> data(200000);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = BYTE((i * 7 + 3) & 0xff);
        LONG result = api.set(root, WIDE("big"), REG_BINARY, data.data(), DWORD(data.size()));
        report.check("long.set-200000-bytes", "RegSetValueExW(base, \"big\", REG_BINARY, 200000)",
                     result);
        std::vector<BYTE> back(data.size() + 16, 0xbd);
        DWORD size = DWORD(back.size());
        DWORD type = 0;
        result = api.query(root, WIDE("big"), &type, back.data(), &size);
        const bool same = size == data.size() && std::equal(data.begin(), data.end(), back.begin());
        report.check("long.query-200000-bytes", "RegQueryValueExW(base, \"big\")", result,
                     TimedCalls::typeName(type) + " size=" + std::to_string(size) +
                         (same ? " same bytes" : " different bytes"));
    }
    RegCloseKey(root);
}
