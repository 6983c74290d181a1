#include "TimedCalls.h"

#include <cstdio>
#include <cstring>

TimedCalls::TimedCalls(ConformanceReport& report) : report(report) {}

LONG TimedCalls::open(HKEY parent, const WCHAR* path, REGSAM rights, HKEY* key)
{
    return report.timed("RegOpenKeyExW",
                        [&] { return RegOpenKeyExW(parent, path, 0, rights, key); });
}

LONG TimedCalls::create(HKEY parent, const WCHAR* path, REGSAM rights, HKEY* key,
                        DWORD* disposition)
{
    return report.timed("RegCreateKeyExW", [&] {
        return RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, rights, nullptr,
                               key, disposition);
    });
}

LONG TimedCalls::close(HKEY key)
{
    return report.timed("RegCloseKey", [&] { return RegCloseKey(key); });
}

LONG TimedCalls::query(HKEY key, const WCHAR* name, DWORD* type, BYTE* data, DWORD* size)
{
    return report.timed("RegQueryValueExW",
                        [&] { return RegQueryValueExW(key, name, nullptr, type, data, size); });
}

LONG TimedCalls::set(HKEY key, const WCHAR* name, DWORD type, const BYTE* data, DWORD size)
{
    return report.timed("RegSetValueExW",
                        [&] { return RegSetValueExW(key, name, 0, type, data, size); });
}

LONG TimedCalls::deleteValue(HKEY key, const WCHAR* name)
{
    return report.timed("RegDeleteValueW", [&] { return RegDeleteValueW(key, name); });
}

LONG TimedCalls::deleteKey(HKEY key, const WCHAR* path)
{
    return report.timed("RegDeleteKeyW", [&] { return RegDeleteKeyW(key, path); });
}

LONG TimedCalls::info(HKEY key, DWORD* subkeys, DWORD* longestSubkey, DWORD* values,
                      DWORD* longestValueName, DWORD* longestValue)
{
    return report.timed("RegQueryInfoKeyW", [&] {
        return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, subkeys, longestSubkey, nullptr,
                                values, longestValueName, longestValue, nullptr, nullptr);
    });
}

LONG TimedCalls::enumKey(HKEY key, DWORD index, WCHAR* name, DWORD* length)
{
    return report.timed("RegEnumKeyExW", [&] {
        return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

LONG TimedCalls::enumValue(HKEY key, DWORD index, WCHAR* name, DWORD* length, DWORD* type,
                           BYTE* data, DWORD* size)
{
    return report.timed("RegEnumValueW", [&] {
        return RegEnumValueW(key, index, name, length, nullptr, type, data, size);
    });
}

std::string TimedCalls::rights(REGSAM rights)
{
    struct Named
    {
        REGSAM bits;
        const char* name;
    };
    // Composite masks first, so that KEY_READ is not printed as its parts.
    static const Named names[] = {
        {0x000F003F, "KEY_ALL_ACCESS"}, {0x0002001F, "0x2001F"},
        {0x00020019, "KEY_READ"},       {0x00020006, "KEY_WRITE"},
        {0x0001, "KEY_QUERY_VALUE"},    {0x0002, "KEY_SET_VALUE"},
        {0x0004, "KEY_CREATE_SUB_KEY"}, {0x0008, "KEY_ENUMERATE_SUB_KEYS"},
        {0x0010, "KEY_NOTIFY"},         {0x00010000, "DELETE"},
        {0x0100, "KEY_WOW64_64KEY"},    {0x0200, "KEY_WOW64_32KEY"},
    };
    std::string out;
    REGSAM left = rights;
    for (const Named& named : names) {
        if ((left & named.bits) == named.bits) {
            out += (out.empty() ? "" : "|") + std::string(named.name);
            left &= ~named.bits;
        }
    }
    if (left) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "0x%X", static_cast<unsigned>(left));
        out += (out.empty() ? "" : "|") + std::string(buffer);
    }
    return out.empty() ? "0" : out;
}

std::string TimedCalls::path(const WCHAR* path)
{
    if (!path)
        return "NULL";
    size_t length = 0;
    while (path[length])
        ++length;
    return ConformanceReport::text(path, length);
}

std::string TimedCalls::outHandle(HKEY key, HKEY sentinel)
{
    if (key == sentinel)
        return "unchanged";
    return key ? "handle" : "null";
}

std::string TimedCalls::disposition(DWORD disposition)
{
    switch (disposition) {
    case REG_CREATED_NEW_KEY:
        return "REG_CREATED_NEW_KEY";
    case REG_OPENED_EXISTING_KEY:
        return "REG_OPENED_EXISTING_KEY";
    default:
        return "disposition " + std::to_string(disposition);
    }
}

std::string TimedCalls::typeName(DWORD type)
{
    static const char* const names[] = {"REG_NONE",
                                        "REG_SZ",
                                        "REG_EXPAND_SZ",
                                        "REG_BINARY",
                                        "REG_DWORD",
                                        "REG_DWORD_BIG_ENDIAN",
                                        "REG_LINK",
                                        "REG_MULTI_SZ",
                                        "REG_RESOURCE_LIST",
                                        "REG_FULL_RESOURCE_DESCRIPTOR",
                                        "REG_RESOURCE_REQUIREMENTS_LIST",
                                        "REG_QWORD"};
    if (type < sizeof names / sizeof names[0])
        return names[type];
    return "type " + std::to_string(type);
}

HKEY TimedCalls::sentinel()
{
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xbdbdbdbd));
}
