#pragma once

#include "ConformanceApi.h"
#include "ConformanceReport.h"

#include <string>

// The platform calls the scenarios check, each timed through the report, and
// the texts that name a call's arguments in a check line.
class TimedCalls
{
public:
    explicit TimedCalls(ConformanceReport& report);

    LONG open(HKEY parent, const WCHAR* path, REGSAM rights, HKEY* key);
    LONG create(HKEY parent, const WCHAR* path, REGSAM rights, HKEY* key, DWORD* disposition);
    LONG close(HKEY key);
    LONG query(HKEY key, const WCHAR* name, DWORD* type, BYTE* data, DWORD* size);
    LONG set(HKEY key, const WCHAR* name, DWORD type, const BYTE* data, DWORD size);
    LONG deleteValue(HKEY key, const WCHAR* name);
    LONG deleteKey(HKEY key, const WCHAR* path);
    LONG info(HKEY key, DWORD* subkeys, DWORD* longestSubkey, DWORD* values,
              DWORD* longestValueName, DWORD* longestValue);
    LONG enumKey(HKEY key, DWORD index, WCHAR* name, DWORD* length);
    LONG enumValue(HKEY key, DWORD index, WCHAR* name, DWORD* length, DWORD* type, BYTE* data,
                   DWORD* size);

    // "KEY_READ|KEY_WOW64_32KEY" and the like; unknown bits in hexadecimal.
    static std::string rights(REGSAM rights);
    static std::string path(const WCHAR* path);
    // "handle", "null", or "unchanged" when the sentinel is still there.
    static std::string outHandle(HKEY key, HKEY sentinel);
    static std::string disposition(DWORD disposition);
    static std::string typeName(DWORD type);
    static HKEY sentinel();

private:
    ConformanceReport& report;
};
