#include "ConformanceScenarios.h"
#include "RegistryScratch.h"
#include "TimedCalls.h"

namespace {

const WCHAR* const native = WIDE("Software\\VexorConformance");
const WCHAR* const wow = WIDE("Software\\Wow6432Node\\VexorConformance");

// Opens path below parent in the given rights and prints which view's copy
// it reached, by the value "view" that each copy holds.
void checkView(TimedCalls& api, ConformanceReport& report, const std::string& label, HKEY parent,
               const char* parentName, const WCHAR* path, REGSAM rights)
{
    HKEY key = TimedCalls::sentinel();
    const LONG result = api.open(parent, path, rights, &key);
    std::string returned = TimedCalls::outHandle(key, TimedCalls::sentinel());
    if (result == ERROR_SUCCESS) {
        returned += " view=" + RegistryScratch::readText(key, WIDE(""), WIDE("view"));
        api.close(key);
    }
    report.check(label,
                 std::string("RegOpenKeyExW(") + parentName + ", " + TimedCalls::path(path) + ", " +
                     TimedCalls::rights(rights) + ")",
                 result, returned);
}

void removeScratch()
{
    RegistryScratch::removeTree(HKEY_LOCAL_MACHINE, wow);
    RegistryScratch::removeTree(HKEY_LOCAL_MACHINE, native);
    RegistryScratch::removeTree(HKEY_CURRENT_USER,
                                WString(ConformanceScenarios::scratchRoot) + WIDE("\\views"));
}

} // namespace

void ConformanceScenarios::runViews(ConformanceReport& report)
{
    TimedCalls api(report);
    removeScratch();

    struct CreateRow
    {
        const char* label;
        REGSAM view;
        const WCHAR* mark;
    };
    const CreateRow creates[] = {
        {"views.create-in-64-bit-view", KEY_WOW64_64KEY, WIDE("64")},
        {"views.create-in-32-bit-view-is-a-separate-key", KEY_WOW64_32KEY, WIDE("32")},
    };
    for (const CreateRow& row : creates) {
        HKEY key = nullptr;
        DWORD disposition = 0;
        const REGSAM rights = KEY_ALL_ACCESS | row.view;
        const LONG result = api.create(HKEY_LOCAL_MACHINE, native, rights, &key, &disposition);
        report.check(row.label,
                     "RegCreateKeyExW(HKLM, " + TimedCalls::path(native) + ", " +
                         TimedCalls::rights(rights) + ")",
                     result, TimedCalls::disposition(disposition));
        if (result == ERROR_SUCCESS) {
            RegistryScratch::setText(key, WIDE("view"), row.mark);
            RegCloseKey(key);
        }
    }

    struct OpenRow
    {
        const char* label;
        const WCHAR* path;
        REGSAM rights;
    };
    const OpenRow opens[] = {
        {"views.no-flag-opens-the-native-view", native, KEY_READ},
        {"views.64-bit-flag-opens-the-native-view", native, KEY_READ | KEY_WOW64_64KEY},
        {"views.32-bit-flag-lands-in-wow6432node", native, KEY_READ | KEY_WOW64_32KEY},
        {"views.wow6432node-named-without-flag", wow, KEY_READ},
        {"views.wow6432node-named-with-32-bit-flag-not-redirected-twice", wow,
         KEY_READ | KEY_WOW64_32KEY},
        {"views.wow6432node-named-with-64-bit-flag", wow, KEY_READ | KEY_WOW64_64KEY},
        {"views.redirection-ignores-letter-case", WIDE("SOFTWARE\\vexorconformance"),
         KEY_READ | KEY_WOW64_32KEY},
        {"views.wow6432node-in-other-letter-case", WIDE("software\\WOW6432NODE\\VexorConformance"),
         KEY_READ},
        {"views.trailing-backslash-in-32-bit-view", WIDE("Software\\VexorConformance\\"),
         KEY_READ | KEY_WOW64_32KEY},
        {"views.both-view-flags-at-once", native, KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY},
    };
    for (const OpenRow& row : opens)
        checkView(api, report, row.label, HKEY_LOCAL_MACHINE, "HKLM", row.path, row.rights);

    {
        HKEY key = TimedCalls::sentinel();
        const REGSAM rights = KEY_ALL_ACCESS | KEY_WOW64_32KEY | KEY_WOW64_64KEY;
        const LONG result = api.create(HKEY_LOCAL_MACHINE, native, rights, &key, nullptr);
        report.check("views.both-view-flags-at-once-on-create",
                     "RegCreateKeyExW(HKLM, " + TimedCalls::path(native) + ", " +
                         TimedCalls::rights(rights) + ")",
                     result, TimedCalls::outHandle(key, TimedCalls::sentinel()));
        if (result == ERROR_SUCCESS)
            RegCloseKey(key);
    }

    // Redirection below a handle to SOFTWARE opened in either view.
    const OpenRow bases[] = {
        {"views.below-native-software", WIDE("Software"), KEY_READ | KEY_WOW64_64KEY},
        {"views.below-software-opened-in-32-bit-view", WIDE("Software"),
         KEY_READ | KEY_WOW64_32KEY},
        {"views.below-wow6432node-opened-by-name", WIDE("Software\\Wow6432Node"), KEY_READ},
    };
    for (const OpenRow& row : bases) {
        HKEY software = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, row.path, 0, row.rights, &software) !=
            ERROR_SUCCESS) {
            report.check(row.label, "RegOpenKeyExW(HKLM, " + TimedCalls::path(row.path) + ")", 2,
                         "cannot open the parent");
            continue;
        }
        const REGSAM views[] = {0, KEY_WOW64_64KEY, KEY_WOW64_32KEY};
        for (REGSAM view : views) {
            checkView(api, report,
                      std::string(row.label) + "-then-" +
                          (view == 0                 ? "no-flag"
                           : view == KEY_WOW64_64KEY ? "64-bit-flag"
                                                     : "32-bit-flag"),
                      software, "software", WIDE("VexorConformance"), KEY_READ | view);
        }
        RegCloseKey(software);
    }

    // Keys created below a 32-bit view handle stay in that view.
    {
        HKEY view32 = RegistryScratch::create(HKEY_LOCAL_MACHINE, native, KEY_WOW64_32KEY);
        HKEY child = nullptr;
        DWORD disposition = 0;
        LONG result = api.create(view32, WIDE("Child"), KEY_ALL_ACCESS | KEY_WOW64_32KEY, &child,
                                 &disposition);
        report.check("views.create-child-below-32-bit-handle",
                     "RegCreateKeyExW(base32, \"Child\", KEY_ALL_ACCESS|KEY_WOW64_32KEY)", result,
                     TimedCalls::disposition(disposition));
        if (result == ERROR_SUCCESS)
            RegCloseKey(child);
        checkView(api, report, "views.child-absent-from-native-view", HKEY_LOCAL_MACHINE, "HKLM",
                  WIDE("Software\\VexorConformance\\Child"), KEY_READ | KEY_WOW64_64KEY);
        checkView(api, report, "views.child-present-by-wow6432node-path", HKEY_LOCAL_MACHINE,
                  "HKLM", WIDE("Software\\Wow6432Node\\VexorConformance\\Child"), KEY_READ);
        HKEY view64 = RegistryScratch::create(HKEY_LOCAL_MACHINE, native, KEY_WOW64_64KEY);
        report.check("views.subkeys-of-32-bit-copy", "RegEnumKeyExW(base32, 0..)", 0,
                     RegistryScratch::joined(RegistryScratch::subkeyNames(view32)));
        report.check("views.subkeys-of-64-bit-copy", "RegEnumKeyExW(base64, 0..)", 0,
                     RegistryScratch::joined(RegistryScratch::subkeyNames(view64)));
        result = api.deleteKey(view32, WIDE("Child"));
        report.check("views.delete-child-through-32-bit-handle", "RegDeleteKeyW(base32, \"Child\")",
                     result);
        checkView(api, report, "views.child-gone-after-delete", HKEY_LOCAL_MACHINE, "HKLM",
                  WIDE("Software\\Wow6432Node\\VexorConformance\\Child"), KEY_READ);
        RegCloseKey(view64);
        RegCloseKey(view32);
    }

    // RegDeleteKeyW works in the view of the handle's path only.
    {
        HKEY a = RegistryScratch::create(HKEY_LOCAL_MACHINE,
                                         WIDE("Software\\VexorConformance\\Both"), KEY_WOW64_64KEY);
        HKEY b = RegistryScratch::create(HKEY_LOCAL_MACHINE,
                                         WIDE("Software\\VexorConformance\\Both"), KEY_WOW64_32KEY);
        RegistryScratch::setText(a, WIDE("view"), WIDE("64"));
        RegistryScratch::setText(b, WIDE("view"), WIDE("32"));
        RegCloseKey(a);
        RegCloseKey(b);
        const LONG result =
            api.deleteKey(HKEY_LOCAL_MACHINE, WIDE("Software\\VexorConformance\\Both"));
        report.check("views.delete-from-root-removes-the-native-copy",
                     "RegDeleteKeyW(HKLM, \"Software\\\\VexorConformance\\\\Both\")", result);
        checkView(api, report, "views.native-copy-is-gone", HKEY_LOCAL_MACHINE, "HKLM",
                  WIDE("Software\\VexorConformance\\Both"), KEY_READ | KEY_WOW64_64KEY);
        checkView(api, report, "views.32-bit-copy-stays", HKEY_LOCAL_MACHINE, "HKLM",
                  WIDE("Software\\VexorConformance\\Both"), KEY_READ | KEY_WOW64_32KEY);
    }

    // The keys the installer writes in both views: the smart-card types.
    {
        const WCHAR* cards =
            WIDE("SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VexorConformance");
        RegistryScratch::removeTree(HKEY_LOCAL_MACHINE, cards, KEY_WOW64_64KEY);
        RegistryScratch::removeTree(HKEY_LOCAL_MACHINE, cards, KEY_WOW64_32KEY);
        HKEY a = RegistryScratch::create(HKEY_LOCAL_MACHINE, cards, KEY_WOW64_64KEY);
        RegistryScratch::setText(a, WIDE("view"), WIDE("64"));
        RegCloseKey(a);
        checkView(api, report, "views.smart-card-key-written-in-64-bit-view", HKEY_LOCAL_MACHINE,
                  "HKLM", cards, KEY_READ | KEY_WOW64_64KEY);
        checkView(api, report, "views.smart-card-key-not-visible-in-32-bit-view",
                  HKEY_LOCAL_MACHINE, "HKLM", cards, KEY_READ | KEY_WOW64_32KEY);
        RegistryScratch::removeTree(HKEY_LOCAL_MACHINE, cards, KEY_WOW64_64KEY);
    }

    // HKEY_CURRENT_USER\Software has one view.
    {
        const WString shared = WString(scratchRoot) + WIDE("\\views");
        HKEY key = RegistryScratch::create(HKEY_CURRENT_USER, shared, KEY_WOW64_32KEY);
        RegistryScratch::setText(key, WIDE("view"), WIDE("user"));
        RegCloseKey(key);
        checkView(api, report, "views.user-software-is-shared-64", HKEY_CURRENT_USER, "HKCU",
                  shared.c_str(), KEY_READ | KEY_WOW64_64KEY);
        checkView(api, report, "views.user-software-is-shared-32", HKEY_CURRENT_USER, "HKCU",
                  shared.c_str(), KEY_READ | KEY_WOW64_32KEY);
    }
    removeScratch();
}
