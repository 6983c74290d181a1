#include "ConformanceScenarios.h"
#include "RegistryScratch.h"
#include "TimedCalls.h"

namespace {

const WString base = WString(ConformanceScenarios::scratchRoot) + WIDE("\\paths");

struct PathCase
{
    const char* label;
    const WCHAR* path;
};

// Opens path below parent and prints the result, the handle and the value
// "where" of the key it reached, which names the key that was meant.
void checkOpen(TimedCalls& api, ConformanceReport& report, const std::string& label, HKEY parent,
               const char* parentName, const WCHAR* path)
{
    HKEY key = TimedCalls::sentinel();
    const LONG result = api.open(parent, path, KEY_READ, &key);
    std::string returned = TimedCalls::outHandle(key, TimedCalls::sentinel());
    if (result == ERROR_SUCCESS) {
        returned += " where=" + RegistryScratch::readText(key, WIDE(""), WIDE("where"));
        api.close(key);
    }
    report.check(label,
                 std::string("RegOpenKeyExW(") + parentName + ", " + TimedCalls::path(path) +
                     ", KEY_READ)",
                 result, returned);
}

void checkCreate(TimedCalls& api, ConformanceReport& report, const std::string& label, HKEY parent,
                 const char* parentName, const WCHAR* path)
{
    HKEY key = TimedCalls::sentinel();
    DWORD disposition = 0xbdbd;
    const LONG result = api.create(parent, path, KEY_ALL_ACCESS, &key, &disposition);
    std::string returned = TimedCalls::outHandle(key, TimedCalls::sentinel());
    if (result == ERROR_SUCCESS) {
        returned += " " + TimedCalls::disposition(disposition);
        returned += " where=" + RegistryScratch::readText(key, WIDE(""), WIDE("where"));
        api.close(key);
    }
    report.check(label,
                 std::string("RegCreateKeyExW(") + parentName + ", " + TimedCalls::path(path) +
                     ", KEY_ALL_ACCESS)",
                 result, returned);
}

void markKey(HKEY parent, const WCHAR* path, const WCHAR* where)
{
    HKEY key = RegistryScratch::create(parent, path);
    if (key) {
        RegistryScratch::setText(key, WIDE("where"), where);
        RegCloseKey(key);
    }
}

} // namespace

void ConformanceScenarios::runKeyPaths(ConformanceReport& report)
{
    TimedCalls api(report);
    RegistryScratch::removeTree(HKEY_CURRENT_USER, base);

    checkCreate(api, report, "paths.create-base", HKEY_CURRENT_USER, "HKCU", base.c_str());
    HKEY root = RegistryScratch::create(HKEY_CURRENT_USER, base);
    RegistryScratch::setText(root, WIDE("where"), WIDE("base"));

    const PathCase creates[] = {
        {"paths.create-makes-every-missing-level", WIDE("a\\b\\c")},
        {"paths.create-of-an-existing-path-opens-it", WIDE("a\\b\\c")},
        {"paths.create-with-trailing-backslash", WIDE("d\\")},
        {"paths.create-existing-with-trailing-backslash", WIDE("d\\")},
        {"paths.create-ignores-letter-case", WIDE("A\\B")},
        {"paths.create-with-leading-backslash", WIDE("\\lead")},
        {"paths.create-with-doubled-backslash", WIDE("u\\\\v")},
        {"paths.create-with-slash-in-name", WIDE("x/y")},
        {"paths.create-with-space-and-dot", WIDE("Crypto Pro\\v1.0")},
        {"paths.create-with-empty-subkey", WIDE("")},
    };
    for (const PathCase& row : creates)
        checkCreate(api, report, row.label, root, "base", row.path);

    markKey(root, WIDE("a"), WIDE("a"));
    markKey(root, WIDE("a\\b"), WIDE("a\\b"));
    markKey(root, WIDE("a\\b\\c"), WIDE("a\\b\\c"));
    markKey(root, WIDE("d"), WIDE("d"));
    markKey(root, WIDE("x/y"), WIDE("x/y"));

    const PathCase opens[] = {
        {"paths.open-one-level", WIDE("a")},
        {"paths.open-two-levels", WIDE("a\\b")},
        {"paths.open-three-levels", WIDE("a\\b\\c")},
        {"paths.open-trailing-backslash", WIDE("a\\b\\")},
        {"paths.open-two-trailing-backslashes", WIDE("a\\b\\\\")},
        {"paths.open-doubled-backslash-inside", WIDE("a\\\\b")},
        {"paths.open-leading-backslash", WIDE("\\a")},
        {"paths.open-only-a-backslash", WIDE("\\")},
        {"paths.open-other-letter-case", WIDE("A\\B\\C")},
        {"paths.open-key-created-with-trailing-backslash", WIDE("d")},
        {"paths.open-missing-key", WIDE("nope")},
        {"paths.open-missing-middle-level", WIDE("a\\nope\\c")},
        {"paths.open-below-missing-leaf", WIDE("a\\b\\c\\nope")},
        {"paths.open-slash-is-part-of-the-name", WIDE("x/y")},
        {"paths.open-slash-is-no-separator", WIDE("a/b")},
        {"paths.open-key-named-only-x-is-missing", WIDE("x")},
        {"paths.open-dot-is-an-ordinary-name", WIDE(".")},
        {"paths.open-empty-subkey-gives-the-same-key", WIDE("")},
        {"paths.open-null-subkey-gives-the-same-key", nullptr},
    };
    for (const PathCase& row : opens)
        checkOpen(api, report, row.label, root, "base", row.path);

    // A new handle to the same key, usable after the first one is closed.
    {
        HKEY again = TimedCalls::sentinel();
        LONG result = api.open(root, WIDE(""), KEY_READ, &again);
        std::string returned = again == root ? "same handle" : "new handle";
        report.check("paths.open-empty-subkey-handle-is-new", "RegOpenKeyExW(base, \"\", KEY_READ)",
                     result, returned);
        if (result == ERROR_SUCCESS) {
            HKEY other = RegistryScratch::create(HKEY_CURRENT_USER, base);
            result = api.close(other);
            report.check("paths.close-one-of-two-handles", "RegCloseKey(second handle)", result);
            report.check("paths.other-handle-still-works",
                         "RegQueryValueExW(first handle, \"where\")", 0,
                         RegistryScratch::readText(again, WIDE(""), WIDE("where")));
            api.close(again);
        }
    }

    // Predefined roots.
    {
        HKEY key = TimedCalls::sentinel();
        LONG result = api.open(HKEY_CURRENT_USER, WIDE("Software"), KEY_READ, &key);
        report.check("paths.open-software-below-root",
                     "RegOpenKeyExW(HKCU, \"Software\", KEY_READ)", result,
                     TimedCalls::outHandle(key, TimedCalls::sentinel()));
        if (result == ERROR_SUCCESS)
            api.close(key);
        key = TimedCalls::sentinel();
        result = api.open(HKEY_CURRENT_USER, WIDE(""), KEY_READ, &key);
        report.check("paths.open-empty-subkey-on-a-root-gives-the-root",
                     "RegOpenKeyExW(HKCU, \"\", KEY_READ)", result,
                     key == HKEY_CURRENT_USER ? "the root itself"
                                              : TimedCalls::outHandle(key, TimedCalls::sentinel()));
        result = api.close(HKEY_CURRENT_USER);
        report.check("paths.close-predefined-root", "RegCloseKey(HKCU)", result);
        checkOpen(api, report, "paths.root-usable-after-close", HKEY_CURRENT_USER, "HKCU",
                  base.c_str());
    }

    // Handle misuse.
    {
        LONG result = api.open(root, WIDE("a"), KEY_READ, nullptr);
        report.check("paths.open-without-result-pointer",
                     "RegOpenKeyExW(base, \"a\", KEY_READ, NULL)", result);
        HKEY key = RegistryScratch::create(root, WIDE("a"));
        result = api.close(key);
        report.check("paths.close-once", "RegCloseKey(key)", result);
        result = api.close(key);
        report.check("paths.close-twice", "RegCloseKey(closed key)", result);
        HKEY sub = TimedCalls::sentinel();
        result = api.open(key, WIDE("b"), KEY_READ, &sub);
        report.check("paths.open-below-closed-handle", "RegOpenKeyExW(closed key, \"b\", KEY_READ)",
                     result, TimedCalls::outHandle(sub, TimedCalls::sentinel()));
        result = api.close(nullptr);
        report.check("paths.close-null", "RegCloseKey(NULL)", result);
        sub = TimedCalls::sentinel();
        result = api.open(nullptr, WIDE("Software"), KEY_READ, &sub);
        report.check("paths.open-below-null-handle", "RegOpenKeyExW(NULL, \"Software\", KEY_READ)",
                     result, TimedCalls::outHandle(sub, TimedCalls::sentinel()));
    }

    {
        HKEY key = RegistryScratch::create(root, WIDE(""));
        report.check("paths.subkeys-after-creates", "RegEnumKeyExW(base, 0..)", 0,
                     RegistryScratch::sortedJoined(RegistryScratch::subkeyNames(key)));
        RegCloseKey(key);
    }
    RegCloseKey(root);
}
