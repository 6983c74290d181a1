#include "ConformanceScenarios.h"
#include "RegistryScratch.h"
#include "TimedCalls.h"

namespace {

const WString base = WString(ConformanceScenarios::scratchRoot) + WIDE("\\deletion");

std::string presence(HKEY parent, const WCHAR* path)
{
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(parent, path, 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
        RegCloseKey(key);
        return "present";
    }
    return "open " + ConformanceReport::code(result);
}

} // namespace

void ConformanceScenarios::runDeletion(ConformanceReport& report)
{
    TimedCalls api(report);
    RegistryScratch::removeTree(HKEY_CURRENT_USER, base);
    HKEY key = RegistryScratch::create(HKEY_CURRENT_USER, base);

    const WCHAR* const made[] = {WIDE("leaf"),    WIDE("tree\\branch\\twig"),
                                 WIDE("x\\y\\z"), WIDE("trail"),
                                 WIDE("Cased"),   WIDE("self"),
                                 WIDE("gone")};
    for (const WCHAR* path : made) {
        HKEY child = RegistryScratch::create(key, path);
        RegistryScratch::setText(child, WIDE("v"), WIDE("1"));
        RegCloseKey(child);
    }

    struct DeleteRow
    {
        const char* label;
        const WCHAR* path;
        const WCHAR* probe;
    };
    const DeleteRow rows[] = {
        {"delete.missing-key", WIDE("nope"), WIDE("nope")},
        {"delete.below-missing-key", WIDE("nope\\deeper"), WIDE("nope")},
        {"delete.key-with-subkeys-is-refused", WIDE("tree"), WIDE("tree\\branch\\twig")},
        {"delete.leaf-key-with-values", WIDE("leaf"), WIDE("leaf")},
        {"delete.multi-level-path-deletes-the-last-key", WIDE("x\\y\\z"), WIDE("x\\y\\z")},
        {"delete.multi-level-path-keeps-the-parents", WIDE("x\\y\\z"), WIDE("x\\y")},
        {"delete.trailing-backslash", WIDE("trail\\"), WIDE("trail")},
        {"delete.other-letter-case", WIDE("cASED"), WIDE("Cased")},
        {"delete.leading-backslash", WIDE("\\x\\y"), WIDE("x\\y")},
        {"delete.deepest-first-then-parents", WIDE("tree\\branch\\twig"), WIDE("tree\\branch")},
        {"delete.then-the-middle", WIDE("tree\\branch"), WIDE("tree\\branch")},
        {"delete.then-the-top", WIDE("tree"), WIDE("tree")},
    };
    for (const DeleteRow& row : rows) {
        const LONG result = api.deleteKey(key, row.path);
        report.check(row.label, "RegDeleteKeyW(deletion, " + TimedCalls::path(row.path) + ")",
                     result, TimedCalls::path(row.probe) + " " + presence(key, row.probe));
    }

    // Deleting the key a handle refers to, then using that handle.
    {
        HKEY self = nullptr;
        RegOpenKeyExW(key, WIDE("self"), 0, KEY_ALL_ACCESS, &self);
        HKEY second = nullptr;
        RegOpenKeyExW(key, WIDE("self"), 0, KEY_READ, &second);
        LONG result = api.deleteKey(self, WIDE(""));
        report.check("delete.empty-subkey-deletes-the-handle-key", "RegDeleteKeyW(self, \"\")",
                     result, "self " + presence(key, WIDE("self")));
        DWORD size = 0;
        result = api.query(self, WIDE("v"), nullptr, nullptr, &size);
        report.check("delete.query-on-deleted-key", "RegQueryValueExW(deleted, \"v\")", result);
        const BYTE one[] = {1, 0, 0, 0};
        result = api.set(self, WIDE("v"), REG_DWORD, one, 4);
        report.check("delete.set-on-deleted-key", "RegSetValueExW(deleted, \"v\")", result);
        HKEY child = TimedCalls::sentinel();
        result = api.create(self, WIDE("child"), KEY_ALL_ACCESS, &child, nullptr);
        report.check("delete.create-below-deleted-key", "RegCreateKeyExW(deleted, \"child\")",
                     result, TimedCalls::outHandle(child, TimedCalls::sentinel()));
        if (result == ERROR_SUCCESS)
            RegCloseKey(child);
        WCHAR name[32];
        DWORD length = 32;
        result = api.enumKey(self, 0, name, &length);
        report.check("delete.enumerate-deleted-key", "RegEnumKeyExW(deleted, 0)", result);
        result = api.info(second, nullptr, nullptr, nullptr, nullptr, nullptr);
        report.check("delete.info-through-another-handle",
                     "RegQueryInfoKeyW(other handle to deleted)", result);
        result = api.deleteKey(self, WIDE(""));
        report.check("delete.delete-deleted-key-again", "RegDeleteKeyW(deleted, \"\")", result);
        result = api.close(self);
        report.check("delete.close-deleted-key", "RegCloseKey(deleted)", result);
        RegCloseKey(second);
        HKEY again = nullptr;
        DWORD disposition = 0;
        result = api.create(key, WIDE("self"), KEY_ALL_ACCESS, &again, &disposition);
        size = 0;
        const LONG query = RegQueryValueExW(again, WIDE("v"), nullptr, nullptr, nullptr, &size);
        report.check(
            "delete.recreated-key-starts-empty", "RegCreateKeyExW(deletion, \"self\")", result,
            TimedCalls::disposition(disposition) + " value v " + ConformanceReport::code(query));
        RegCloseKey(again);
    }

    // Values.
    {
        RegistryScratch::setText(key, WIDE("Value"), WIDE("x"));
        RegistryScratch::setText(key, WIDE(""), WIDE("default"));
        struct ValueRow
        {
            const char* label;
            const WCHAR* name;
        };
        const ValueRow values[] = {
            {"delete.value-in-other-letter-case", WIDE("VALUE")},
            {"delete.value-again", WIDE("Value")},
            {"delete.missing-value", WIDE("never")},
            {"delete.default-value-by-empty-name", WIDE("")},
            {"delete.default-value-again-by-null", nullptr},
        };
        for (const ValueRow& row : values) {
            const LONG result = api.deleteValue(key, row.name);
            DWORD size = 0;
            const LONG left = RegQueryValueExW(key, row.name, nullptr, nullptr, nullptr, &size);
            report.check(row.label, "RegDeleteValueW(deletion, " + TimedCalls::path(row.name) + ")",
                         result, "query after " + ConformanceReport::code(left));
        }
    }

    // A key with only values goes whole; its subkey count drops at the parent.
    {
        HKEY gone = RegistryScratch::create(key, WIDE("gone"));
        for (int i = 0; i < 5; ++i)
            RegistryScratch::setText(gone, RegistryScratch::wide("v" + std::to_string(i)),
                                     WIDE("x"));
        RegCloseKey(gone);
        const LONG result = api.deleteKey(key, WIDE("gone"));
        report.check("delete.key-with-five-values", "RegDeleteKeyW(deletion, \"gone\")", result,
                     RegistryScratch::sortedJoined(RegistryScratch::subkeyNames(key)));
    }
    RegCloseKey(key);
}
