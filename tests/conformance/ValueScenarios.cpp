#include "ConformanceScenarios.h"
#include "RegistryScratch.h"
#include "TimedCalls.h"

#include <vector>

namespace {

const WString base = WString(ConformanceScenarios::scratchRoot) + WIDE("\\values");

std::vector<BYTE> bytesOf(std::initializer_list<int> values)
{
    std::vector<BYTE> bytes;
    for (int value : values)
        bytes.push_back(BYTE(value));
    return bytes;
}

std::vector<BYTE> concat(std::vector<BYTE> a, const std::vector<BYTE>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Reads name back in full, with a sentinel-filled buffer larger than the data,
// and prints the type, the size and the bytes; bytes past the size must stay.
std::string readBack(TimedCalls& api, HKEY key, const WCHAR* name, LONG* result)
{
    DWORD type = 0xbdbd;
    DWORD size = 0;
    *result = api.query(key, name, &type, nullptr, &size);
    if (*result != ERROR_SUCCESS)
        return std::string();
    std::vector<BYTE> buffer(size + 8, 0xbd);
    DWORD room = DWORD(buffer.size());
    *result = api.query(key, name, &type, buffer.data(), &room);
    if (*result != ERROR_SUCCESS)
        return std::string();
    bool tailUntouched = true;
    for (size_t i = room; i < buffer.size(); ++i)
        tailUntouched = tailUntouched && buffer[i] == 0xbd;
    return TimedCalls::typeName(type) + " size=" + std::to_string(room) + " " +
           ConformanceReport::hex(buffer.data(), room) +
           (tailUntouched ? "" : " (wrote past the data)");
}

} // namespace

void ConformanceScenarios::runValues(ConformanceReport& report)
{
    TimedCalls api(report);
    RegistryScratch::removeTree(HKEY_CURRENT_USER, base);
    HKEY key = RegistryScratch::create(HKEY_CURRENT_USER, base);

    const auto text = [](const WCHAR* units, bool terminate) {
        return RegistryScratch::utf16Bytes(units, terminate);
    };
    struct ValueRow
    {
        const char* label;
        const WCHAR* name;
        DWORD type;
        std::vector<BYTE> bytes;
    };
    const std::vector<ValueRow> rows = {
        {"values.none-empty", WIDE("none0"), REG_NONE, {}},
        {"values.none-with-bytes", WIDE("none3"), REG_NONE, bytesOf({1, 2, 3})},
        {"values.text-with-terminator", WIDE("sz"), REG_SZ, text(WIDE("hello"), true)},
        {"values.text-empty-with-terminator", WIDE("szEmpty"), REG_SZ, text(WIDE(""), true)},
        {"values.text-zero-bytes", WIDE("szZero"), REG_SZ, {}},
        {"values.text-with-zero-inside", WIDE("szInner"), REG_SZ,
         concat(text(WIDE("ab"), true), text(WIDE("cd"), true))},
        {"values.text-cyrillic", WIDE("szCyr"), REG_SZ,
         text(WIDE("\u041A\u043B\u044E\u0447"), true)},
        {"values.expand-text-kept-unexpanded", WIDE("expand"), REG_EXPAND_SZ,
         text(WIDE("%ProgramFiles%\\Crypto Pro"), true)},
        {"values.binary", WIDE("bin"), REG_BINARY, bytesOf({0x3b, 0xfc, 0x18, 0x00, 0xff, 0x81})},
        {"values.binary-empty", WIDE("binEmpty"), REG_BINARY, {}},
        {"values.dword", WIDE("dword"), REG_DWORD, bytesOf({1, 0, 0, 0})},
        {"values.dword-all-ones", WIDE("dwordMax"), REG_DWORD, bytesOf({0xff, 0xff, 0xff, 0xff})},
        {"values.dword-short", WIDE("dwordShort"), REG_DWORD, bytesOf({7, 0})},
        {"values.dword-big-endian", WIDE("dwordBig"), REG_DWORD_BIG_ENDIAN, bytesOf({0, 0, 0, 1})},
        {"values.qword", WIDE("qword"), REG_QWORD, bytesOf({1, 2, 3, 4, 5, 6, 7, 8})},
        {"values.multi-text", WIDE("multi"), REG_MULTI_SZ,
         concat(concat(text(WIDE("a"), true), text(WIDE("b"), true)), bytesOf({0, 0}))},
        {"values.multi-text-with-empty-string", WIDE("multiEmpty"), REG_MULTI_SZ,
         concat(concat(concat(text(WIDE("a"), true), text(WIDE(""), true)), text(WIDE("b"), true)),
                bytesOf({0, 0}))},
        {"values.multi-text-empty-list", WIDE("multiNone"), REG_MULTI_SZ, bytesOf({0, 0})},
        {"values.link-type", WIDE("link"), REG_LINK, text(WIDE("\\Registry\\Machine"), false)},
        {"values.resource-list-type", WIDE("resources"), REG_RESOURCE_LIST, bytesOf({9, 8, 7})},
        {"values.type-above-qword", WIDE("type12"), 12, bytesOf({0x12})},
        {"values.unknown-type-number", WIDE("typeBig"), 0x12345678, bytesOf({0xab, 0xcd})},
        {"values.default-value-by-empty-name", WIDE(""), REG_SZ, text(WIDE("default"), true)},
        {"values.name-with-backslash", WIDE("a\\b"), REG_SZ, text(WIDE("slash"), true)},
    };
    for (const ValueRow& row : rows) {
        LONG result = api.set(key, row.name, row.type, row.bytes.data(), DWORD(row.bytes.size()));
        report.check(std::string(row.label) + ".set",
                     "RegSetValueExW(values, " + TimedCalls::path(row.name) + ", " +
                         TimedCalls::typeName(row.type) + ", " + std::to_string(row.bytes.size()) +
                         " bytes)",
                     result);
        const std::string returned = readBack(api, key, row.name, &result);
        report.check(std::string(row.label) + ".read",
                     "RegQueryValueExW(values, " + TimedCalls::path(row.name) + ")", result,
                     returned);
    }

    // A REG_SZ given without its terminator, with a non-zero unit right after
    // the counted data, and with a zero unit there.
    {
        const WCHAR followedByX[] = WIDE("hiX");
        LONG result = api.set(key, WIDE("szNoTerminator"), REG_SZ,
                              reinterpret_cast<const BYTE*>(followedByX), 4);
        std::string returned = readBack(api, key, WIDE("szNoTerminator"), &result);
        report.check("values.text-without-terminator-stored-as-given",
                     "RegSetValueExW(values, \"szNoTerminator\", REG_SZ, \"hi\" 4 bytes)", result,
                     returned);
        // An odd byte count: the last unit is cut in half.
        const WCHAR odd[] = WIDE("abX");
        result = api.set(key, WIDE("szOdd"), REG_SZ, reinterpret_cast<const BYTE*>(odd), 3);
        returned = readBack(api, key, WIDE("szOdd"), &result);
        report.check("values.text-odd-byte-count",
                     "RegSetValueExW(values, \"szOdd\", REG_SZ, \"ab\" 3 bytes)", result, returned);
        const WCHAR followedByZero[] = WIDE("hi");
        result = api.set(key, WIDE("szNoTerminator0"), REG_SZ,
                         reinterpret_cast<const BYTE*>(followedByZero), 4);
        returned = readBack(api, key, WIDE("szNoTerminator0"), &result);
        report.check("values.text-without-terminator-before-a-zero-unit",
                     "RegSetValueExW(values, \"szNoTerminator0\", REG_SZ, \"hi\" 4 bytes)", result,
                     returned);
    }

    // Names are case-insensitive and keep the case they were created with.
    {
        RegistryScratch::setText(key, WIDE("MixedCase"), WIDE("first"));
        LONG result = 0;
        std::string returned = readBack(api, key, WIDE("mixedcase"), &result);
        report.check("values.query-ignores-letter-case", "RegQueryValueExW(values, \"mixedcase\")",
                     result, returned);
        result = RegistryScratch::setText(key, WIDE("MIXEDCASE"), WIDE("second"));
        returned = readBack(api, key, WIDE("MixedCase"), &result);
        report.check("values.set-in-other-case-replaces", "RegSetValueExW(values, \"MIXEDCASE\")",
                     result, returned);
        HKEY probe = RegistryScratch::create(HKEY_CURRENT_USER, base);
        std::vector<std::string> names = RegistryScratch::valueNames(probe);
        RegCloseKey(probe);
        bool kept = false;
        for (const std::string& name : names)
            kept = kept || name == "\"MixedCase\"";
        report.check("values.enumeration-keeps-first-spelling", "RegEnumValueW(values, 0..)", 0,
                     kept ? "MixedCase listed" : "MixedCase not listed");
    }

    // Overwriting changes the type; the null name addresses the default value.
    {
        const BYTE four[] = {4, 0, 0, 0};
        LONG result = api.set(key, WIDE("sz"), REG_DWORD, four, sizeof four);
        std::string returned = readBack(api, key, WIDE("sz"), &result);
        report.check("values.overwrite-with-another-type",
                     "RegSetValueExW(values, \"sz\", REG_DWORD)", result, returned);
        returned = readBack(api, key, nullptr, &result);
        report.check("values.null-name-reads-the-default-value", "RegQueryValueExW(values, NULL)",
                     result, returned);
        const std::vector<BYTE> other = text(WIDE("other"), true);
        result = api.set(key, nullptr, REG_SZ, other.data(), DWORD(other.size()));
        returned = readBack(api, key, WIDE(""), &result);
        report.check("values.null-name-writes-the-default-value", "RegSetValueExW(values, NULL)",
                     result, returned);
    }

    // Default value of a fresh key; a missing value.
    {
        HKEY fresh = RegistryScratch::create(key, WIDE("fresh"));
        LONG result = 0;
        std::string returned = readBack(api, fresh, WIDE(""), &result);
        report.check("values.fresh-key-has-no-default-value", "RegQueryValueExW(fresh, \"\")",
                     result, returned);
        returned = readBack(api, key, WIDE("absent"), &result);
        report.check("values.missing-value", "RegQueryValueExW(values, \"absent\")", result,
                     returned);
        result = api.set(fresh, WIDE("n"), REG_BINARY, nullptr, 0);
        returned = readBack(api, fresh, WIDE("n"), &result);
        report.check("values.set-null-data-with-zero-size", "RegSetValueExW(fresh, \"n\", NULL, 0)",
                     result, returned);
        RegCloseKey(fresh);
    }
    RegCloseKey(key);
}
