#include "ConformanceScenarios.h"
#include "RegistryScratch.h"
#include "TimedCalls.h"

namespace {

const WString base = WString(ConformanceScenarios::scratchRoot) + WIDE("\\access");

} // namespace

// What a handle opened with fewer rights may still do. The settings store
// reads through 0x20019 handles and writes through 0x2001F ones.
void ConformanceScenarios::runAccessRights(ConformanceReport& report)
{
    TimedCalls api(report);
    RegistryScratch::removeTree(HKEY_CURRENT_USER, base);
    HKEY setup = RegistryScratch::create(HKEY_CURRENT_USER, base);
    RegistryScratch::setText(setup, WIDE("v"), WIDE("x"));
    RegCloseKey(RegistryScratch::create(setup, WIDE("sub")));
    RegCloseKey(setup);

    const REGSAM masks[] = {
        KEY_READ, 0x2001F, KEY_QUERY_VALUE, KEY_SET_VALUE, KEY_ENUMERATE_SUB_KEYS, 0};
    for (REGSAM mask : masks) {
        const std::string prefix = "rights." + TimedCalls::rights(mask);
        HKEY key = TimedCalls::sentinel();
        LONG result = api.open(HKEY_CURRENT_USER, base.c_str(), mask, &key);
        report.check(prefix + ".open",
                     "RegOpenKeyExW(HKCU, access, " + TimedCalls::rights(mask) + ")", result,
                     TimedCalls::outHandle(key, TimedCalls::sentinel()));
        if (result != ERROR_SUCCESS)
            continue;

        DWORD size = 0;
        result = api.query(key, WIDE("v"), nullptr, nullptr, &size);
        report.check(prefix + ".query-value", "RegQueryValueExW(handle, \"v\")", result);

        const BYTE data[] = {'y', 0, 0, 0};
        result = api.set(key, WIDE("w"), REG_SZ, data, sizeof data);
        report.check(prefix + ".set-value", "RegSetValueExW(handle, \"w\")", result);

        WCHAR name[32];
        DWORD length = 32;
        result = api.enumKey(key, 0, name, &length);
        report.check(prefix + ".enumerate-subkeys", "RegEnumKeyExW(handle, 0)", result);

        length = 32;
        result = api.enumValue(key, 0, name, &length, nullptr, nullptr, nullptr);
        report.check(prefix + ".enumerate-values", "RegEnumValueW(handle, 0)", result);

        DWORD subkeys = 0;
        result = api.info(key, &subkeys, nullptr, nullptr, nullptr, nullptr);
        report.check(prefix + ".query-info", "RegQueryInfoKeyW(handle)", result);

        HKEY child = TimedCalls::sentinel();
        result = api.create(key, WIDE("made"), KEY_READ, &child, nullptr);
        report.check(prefix + ".create-subkey", "RegCreateKeyExW(handle, \"made\", KEY_READ)",
                     result, TimedCalls::outHandle(child, TimedCalls::sentinel()));
        if (result == ERROR_SUCCESS)
            RegCloseKey(child);

        child = TimedCalls::sentinel();
        result = api.create(key, WIDE("sub"), KEY_READ, &child, nullptr);
        report.check(prefix + ".create-existing-subkey",
                     "RegCreateKeyExW(handle, \"sub\", KEY_READ)", result,
                     TimedCalls::outHandle(child, TimedCalls::sentinel()));
        if (result == ERROR_SUCCESS)
            RegCloseKey(child);

        child = TimedCalls::sentinel();
        result = api.open(key, WIDE("sub"), KEY_ALL_ACCESS, &child);
        report.check(prefix + ".open-subkey-for-everything",
                     "RegOpenKeyExW(handle, \"sub\", KEY_ALL_ACCESS)", result,
                     TimedCalls::outHandle(child, TimedCalls::sentinel()));
        if (result == ERROR_SUCCESS)
            RegCloseKey(child);

        result = api.deleteValue(key, WIDE("w"));
        report.check(prefix + ".delete-value", "RegDeleteValueW(handle, \"w\")", result);

        HKEY clean = RegistryScratch::create(HKEY_CURRENT_USER, base);
        RegDeleteKeyW(clean, WIDE("made"));
        RegDeleteValueW(clean, WIDE("w"));
        RegCloseKey(clean);
        api.close(key);
    }

    // Deleting a subkey needs rights on the subkey, not on the handle used.
    {
        HKEY reader = nullptr;
        RegOpenKeyExW(HKEY_CURRENT_USER, base.c_str(), 0, KEY_READ, &reader);
        const LONG result = api.deleteKey(reader, WIDE("sub"));
        report.check("rights.delete-subkey-through-read-only-handle",
                     "RegDeleteKeyW(KEY_READ handle, \"sub\")", result);
        RegCloseKey(reader);
    }
}
