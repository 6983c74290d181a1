#pragma once

#include "ConformanceApi.h"

#include <string>
#include <vector>

// Set-up and clean-up for the scenarios: calls whose results are not checks.
// Every scenario starts from a tree it removes first, so a run repeats the
// same answers on a registry that an earlier run already used.
class RegistryScratch
{
public:
    static WString wide(const std::string& ascii);

    // Removes path below parent with everything under it; quiet when missing.
    static void removeTree(HKEY parent, const WString& path, REGSAM view = 0);

    // Creates (or opens) path below parent with every right; null on failure.
    static HKEY create(HKEY parent, const WString& path, REGSAM view = 0);

    static LONG setText(HKEY key, const WString& name, const WString& text);
    static LONG setBytes(HKEY key, const WString& name, DWORD type, const std::vector<BYTE>& bytes);

    // The REG_SZ value name in path below parent, as printed text, or the
    // result code when it cannot be read.
    static std::string readText(HKEY parent, const WString& path, const WString& name,
                                REGSAM view = 0);

    // The UTF-16 bytes of text, with a terminating zero unit when asked.
    static std::vector<BYTE> utf16Bytes(const WString& text, bool terminate);

    // The subkey names of key in enumeration order, or "error N".
    static std::vector<std::string> subkeyNames(HKEY key);
    static std::vector<std::string> valueNames(HKEY key);

    static std::string joined(const std::vector<std::string>& names);
    static std::string sortedJoined(std::vector<std::string> names);
};
