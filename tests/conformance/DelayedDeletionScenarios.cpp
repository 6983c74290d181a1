#include "ConformanceScenarios.h"
#include "RegistryScratch.h"
#include "TimedCalls.h"

#include <cstdio>
#include <filesystem>
#include <vector>

namespace {

const WCHAR* const sessionManager = WIDE("SYSTEM\\CurrentControlSet\\Control\\Session Manager");
const WCHAR* const pendingValue = WIDE("PendingFileRenameOperations");

// The queued operations, each path cut to its last element so that the
// hosts' different folder layouts compare: "\??\…present.dll" and "" for a
// deletion.
std::string pendingOperations(LONG* result)
{
    HKEY key = nullptr;
    *result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_READ, &key);
    if (*result != ERROR_SUCCESS)
        return std::string();
    DWORD type = 0;
    DWORD size = 0;
    *result = RegQueryValueExW(key, pendingValue, nullptr, &type, nullptr, &size);
    std::vector<WCHAR> units(size / sizeof(WCHAR) + 2, 0);
    if (*result == ERROR_SUCCESS)
        *result = RegQueryValueExW(key, pendingValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(units.data()), &size);
    RegCloseKey(key);
    if (*result != ERROR_SUCCESS)
        return std::string();
    // Every zero unit ends one string, the list's closing ones included, so
    // that both sides print the stored units whole.
    std::string out = TimedCalls::typeName(type) + " [";
    const size_t count = size / sizeof(WCHAR);
    size_t start = 0;
    for (size_t end = 0; end < count; ++end) {
        if (units[end] != 0)
            continue;
        const WString entry(units.data() + start, end - start);
        std::string shown = "\"\"";
        if (!entry.empty()) {
            const size_t cut = entry.find_last_of(WIDE("\\/"));
            shown = (entry.compare(0, 4, WIDE("\\??\\")) == 0 ? "\\??\\..." : "...") +
                    ConformanceReport::text(cut == WString::npos ? entry : entry.substr(cut + 1));
        }
        out += (start ? " " : "") + shown;
        start = end + 1;
    }
    return out + "]";
}

WString widePath(const std::string& path)
{
    return RegistryScratch::wide(path);
}

} // namespace

void ConformanceScenarios::runDelayedDeletion(ConformanceReport& report,
                                              const std::string& filesFolder)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(filesFolder), ignored);
    const std::string present = filesFolder + "present.dll";
    if (std::FILE* file = std::fopen(present.c_str(), "wb")) {
        std::fputs("module", file);
        std::fclose(file);
    }
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, sessionManager, 0, KEY_ALL_ACCESS, &key) ==
            ERROR_SUCCESS) {
            RegDeleteValueW(key, pendingValue);
            RegCloseKey(key);
        }
    }

    struct MoveRow
    {
        const char* label;
        std::string name;
        DWORD flags;
    };
    const MoveRow rows[] = {
        {"movefile.delete-present-file-at-restart", "present.dll", MOVEFILE_DELAY_UNTIL_REBOOT},
        {"movefile.delete-missing-file-at-restart", "missing.dll", MOVEFILE_DELAY_UNTIL_REBOOT},
        {"movefile.delay-with-copy-allowed-is-refused", "present.dll",
         MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED},
    };
    for (const MoveRow& row : rows) {
        const WString path = widePath(filesFolder + row.name);
        const BOOL accepted = report.timed(
            "MoveFileExW", [&] { return MoveFileExW(path.c_str(), nullptr, row.flags); });
        const DWORD error = accepted ? 0 : GetLastError();
        std::FILE* still = std::fopen((filesFolder + row.name).c_str(), "rb");
        const std::string state = still ? "file still there" : "no file";
        if (still)
            std::fclose(still);
        report.check(row.label,
                     "MoveFileExW(..." + row.name + ", NULL, " + std::to_string(row.flags) + ")",
                     accepted ? 1 : 0,
                     (accepted ? "accepted"
                               : "refused, GetLastError " + ConformanceReport::code(long(error))) +
                         ", " + state);
    }

    LONG result = 0;
    const std::string recorded = pendingOperations(&result);
    report.check("movefile.records-pending-operations",
                 "RegQueryValueExW(HKLM\\...\\Session Manager, \"PendingFileRenameOperations\")",
                 result, recorded);
    std::remove(present.c_str());
}
