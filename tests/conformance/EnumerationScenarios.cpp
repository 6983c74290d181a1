#include "ConformanceScenarios.h"
#include "RegistryScratch.h"
#include "TimedCalls.h"

#include <algorithm>
#include <vector>

namespace {

const WString base = WString(ConformanceScenarios::scratchRoot) + WIDE("\\enumeration");

std::string infoText(TimedCalls& api, HKEY key, LONG* result)
{
    DWORD subkeys = 0xbdbd, longestSubkey = 0xbdbd, values = 0xbdbd, longestValueName = 0xbdbd,
          longestValue = 0xbdbd;
    *result = api.info(key, &subkeys, &longestSubkey, &values, &longestValueName, &longestValue);
    if (*result != ERROR_SUCCESS)
        return std::string();
    return "subkeys=" + std::to_string(subkeys) +
           " longestSubkey=" + std::to_string(longestSubkey) + " values=" + std::to_string(values) +
           " longestValueName=" + std::to_string(longestValueName) +
           " longestValue=" + std::to_string(longestValue);
}

// Every index from 0 until the end, with the name, its reported length and
// the result that ended the walk.
std::vector<std::string> walkSubkeys(TimedCalls& api, HKEY key, LONG* last)
{
    std::vector<std::string> names;
    for (DWORD index = 0; index < 100; ++index) {
        WCHAR name[300];
        DWORD length = 300;
        *last = api.enumKey(key, index, name, &length);
        if (*last != ERROR_SUCCESS)
            break;
        names.push_back(ConformanceReport::text(name, length));
    }
    return names;
}

std::vector<std::string> walkValues(TimedCalls& api, HKEY key, LONG* last, bool withData)
{
    std::vector<std::string> names;
    for (DWORD index = 0; index < 100; ++index) {
        WCHAR name[300];
        DWORD length = 300;
        DWORD type = 0;
        BYTE data[64];
        DWORD size = sizeof data;
        *last = api.enumValue(key, index, name, &length, withData ? &type : nullptr,
                              withData ? data : nullptr, withData ? &size : nullptr);
        if (*last != ERROR_SUCCESS)
            break;
        std::string entry = ConformanceReport::text(name, length);
        if (withData)
            entry += ":" + TimedCalls::typeName(type) + ":" + ConformanceReport::hex(data, size);
        names.push_back(entry);
    }
    return names;
}

} // namespace

void ConformanceScenarios::runEnumeration(ConformanceReport& report)
{
    TimedCalls api(report);
    RegistryScratch::removeTree(HKEY_CURRENT_USER, base);
    HKEY key = RegistryScratch::create(HKEY_CURRENT_USER, base);

    LONG result = 0;
    std::string returned = infoText(api, key, &result);
    report.check("enum.info-of-empty-key", "RegQueryInfoKeyW(enumeration)", result, returned);
    {
        LONG last = 0;
        std::vector<std::string> names = walkSubkeys(api, key, &last);
        report.check("enum.subkeys-of-empty-key", "RegEnumKeyExW(enumeration, 0..)", last,
                     RegistryScratch::joined(names));
        names = walkValues(api, key, &last, false);
        report.check("enum.values-of-empty-key", "RegEnumValueW(enumeration, 0..)", last,
                     RegistryScratch::joined(names));
    }

    // Created in this order on purpose: their order differs between
    // creation order, lower-cased order and upper-cased order.
    const WCHAR* const names[] = {WIDE("b"), WIDE("A"), WIDE("_x"), WIDE("c"), WIDE("Z")};
    for (const WCHAR* name : names) {
        HKEY child = RegistryScratch::create(key, name);
        RegCloseKey(child);
        RegistryScratch::setText(key, name, name);
    }
    returned = infoText(api, key, &result);
    report.check("enum.info-counts-and-longest-names", "RegQueryInfoKeyW(enumeration)", result,
                 returned);
    {
        LONG last = 0;
        const std::vector<std::string> subkeys = walkSubkeys(api, key, &last);
        report.check("enum.subkey-order", "RegEnumKeyExW(enumeration, 0..)", last,
                     RegistryScratch::joined(subkeys));
        report.check("enum.subkey-set", "RegEnumKeyExW(enumeration, 0..)", last,
                     RegistryScratch::sortedJoined(subkeys));
        // Value order differs between Windows (creation order) and Wine
        // (sorted); no caller may rely on it, so only the set is compared.
        const std::vector<std::string> values = walkValues(api, key, &last, false);
        report.check("enum.value-set", "RegEnumValueW(enumeration, 0..)", last,
                     RegistryScratch::sortedJoined(values));
        const std::vector<std::string> withData = walkValues(api, key, &last, true);
        report.check("enum.value-set-with-data", "RegEnumValueW(enumeration, 0.., data)", last,
                     RegistryScratch::sortedJoined(withData));
    }

    // Name buffers: the length is in characters and excludes the terminator.
    struct NameBufferRow
    {
        const char* label;
        bool subkeys;
        DWORD length;
    };
    const NameBufferRow rows[] = {
        {"enum.subkey-name-buffer-exact-with-terminator", true, 3},
        {"enum.subkey-name-buffer-without-room-for-terminator", true, 2},
        {"enum.subkey-name-buffer-of-one", true, 1},
        {"enum.subkey-name-buffer-of-zero", true, 0},
        {"enum.value-name-buffer-exact-with-terminator", false, 3},
        {"enum.value-name-buffer-without-room-for-terminator", false, 2},
        {"enum.value-name-buffer-of-one", false, 1},
        {"enum.value-name-buffer-of-zero", false, 0},
    };
    // Probe every index: enumeration orders differ, the name "_x" is somewhere.
    for (const NameBufferRow& row : rows) {
        std::string outcome = "not found";
        LONG found = ERROR_NO_MORE_ITEMS;
        for (DWORD index = 0; index < 5; ++index) {
            WCHAR full[16];
            DWORD fullLength = 16;
            const LONG probe = row.subkeys ? RegEnumKeyExW(key, index, full, &fullLength, nullptr,
                                                           nullptr, nullptr, nullptr)
                                           : RegEnumValueW(key, index, full, &fullLength, nullptr,
                                                           nullptr, nullptr, nullptr);
            if (probe != ERROR_SUCCESS || WString(full, fullLength) != WIDE("_x"))
                continue;
            WCHAR buffer[16];
            std::fill(buffer, buffer + 16, WCHAR(0xbdbd));
            DWORD length = row.length;
            found = row.subkeys
                        ? api.enumKey(key, index, buffer, &length)
                        : api.enumValue(key, index, buffer, &length, nullptr, nullptr, nullptr);
            size_t touched = 0;
            while (touched < 16 && buffer[touched] != WCHAR(0xbdbd))
                ++touched;
            outcome =
                "length=" + std::to_string(length) + " buffer=" +
                (touched ? ConformanceReport::text(buffer, touched) : std::string("untouched"));
            break;
        }
        report.check(row.label,
                     std::string(row.subkeys ? "RegEnumKeyExW" : "RegEnumValueW") +
                         "(enumeration, index of \"_x\", length=" + std::to_string(row.length) +
                         ")",
                     found, outcome);
    }

    // Value data buffers during enumeration.
    {
        HKEY sub = RegistryScratch::create(key, WIDE("data"));
        RegistryScratch::setText(sub, WIDE("only"), WIDE("0123456789")); // 22 bytes
        const DWORD sizes[] = {4, 22, 100};
        for (DWORD given : sizes) {
            WCHAR name[16];
            DWORD length = 16;
            DWORD type = 0;
            std::vector<BYTE> data(128, 0xbd);
            DWORD size = given;
            result = api.enumValue(sub, 0, name, &length, &type, data.data(), &size);
            std::string outcome = "length=" + std::to_string(length) +
                                  " type=" + TimedCalls::typeName(type) +
                                  " size=" + std::to_string(size);
            report.check("enum.value-data-buffer-of-" + std::to_string(given),
                         "RegEnumValueW(data, 0, data size=" + std::to_string(given) + ")", result,
                         outcome);
        }
        DWORD length = 16;
        WCHAR name[16];
        result = api.enumValue(sub, 1, name, &length, nullptr, nullptr, nullptr);
        report.check("enum.value-index-past-the-end", "RegEnumValueW(data, 1)", result);
        result = api.enumKey(sub, 0, name, &length);
        report.check("enum.subkey-index-past-the-end", "RegEnumKeyExW(data, 0)", result);
        RegCloseKey(sub);
    }

    // A default value is listed with an empty name; longest lengths follow the
    // longest names.
    {
        HKEY sub = RegistryScratch::create(key, WIDE("default"));
        RegistryScratch::setText(sub, WIDE(""), WIDE("d"));
        LONG last = 0;
        const std::vector<std::string> values = walkValues(api, sub, &last, false);
        report.check("enum.default-value-has-empty-name", "RegEnumValueW(default, 0..)", last,
                     RegistryScratch::joined(values));
        returned = infoText(api, sub, &result);
        report.check("enum.info-with-only-default-value", "RegQueryInfoKeyW(default)", result,
                     returned);
        HKEY longChild = RegistryScratch::create(sub, WString(40, WIDE('L')));
        RegCloseKey(longChild);
        RegistryScratch::setText(sub, WString(30, WIDE('N')), WString(50, WIDE('D')));
        returned = infoText(api, sub, &result);
        report.check("enum.info-after-long-names", "RegQueryInfoKeyW(default)", result, returned);
        HKEY twin = RegistryScratch::create(sub, WString(40, WIDE('l')));
        RegCloseKey(twin);
        returned = infoText(api, sub, &result);
        report.check("enum.same-name-in-other-case-is-one-subkey", "RegQueryInfoKeyW(default)",
                     result, returned);
        RegDeleteValueW(sub, WString(30, WIDE('N')).c_str());
        RegistryScratch::setText(sub, WIDE("n"), WIDE("x"));
        returned = infoText(api, sub, &result);
        report.check("enum.info-after-value-replaced", "RegQueryInfoKeyW(default)", result,
                     returned);
        RegCloseKey(sub);
    }

    // Counts follow additions and deletions.
    {
        HKEY sub = RegistryScratch::create(key, WIDE("counts"));
        for (int i = 0; i < 12; ++i) {
            const WString name = RegistryScratch::wide("v" + std::to_string(i));
            RegistryScratch::setText(sub, name, name);
            HKEY child = RegistryScratch::create(sub, name);
            RegCloseKey(child);
        }
        returned = infoText(api, sub, &result);
        report.check("enum.info-after-twelve-of-each", "RegQueryInfoKeyW(counts)", result,
                     returned);
        RegDeleteValueW(sub, WIDE("v3"));
        RegDeleteKeyW(sub, WIDE("v4"));
        returned = infoText(api, sub, &result);
        report.check("enum.info-after-one-of-each-deleted", "RegQueryInfoKeyW(counts)", result,
                     returned);
        LONG last = 0;
        report.check("enum.twelve-minus-one-subkeys", "RegEnumKeyExW(counts, 0..)", 0,
                     RegistryScratch::sortedJoined(walkSubkeys(api, sub, &last)));
        RegCloseKey(sub);
    }

    // Query info with nothing asked.
    result = report.timed("RegQueryInfoKeyW", [&] {
        return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr);
    });
    report.check("enum.info-asking-nothing", "RegQueryInfoKeyW(enumeration, all NULL)", result);
    RegCloseKey(key);
}
