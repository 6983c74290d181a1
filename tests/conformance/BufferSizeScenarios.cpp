#include "ConformanceScenarios.h"
#include "RegistryScratch.h"
#include "TimedCalls.h"

#include <vector>

// The size protocol of RegQueryValueExW that every reader depends on: ask for
// the size, then read; a short buffer gives ERROR_MORE_DATA and the size.
void ConformanceScenarios::runBufferSizes(ConformanceReport& report)
{
    TimedCalls api(report);
    const WString path = WString(scratchRoot) + WIDE("\\buffers");
    RegistryScratch::removeTree(HKEY_CURRENT_USER, path);
    HKEY key = RegistryScratch::create(HKEY_CURRENT_USER, path);
    RegistryScratch::setText(key, WIDE("text"), WIDE("hello")); // 12 bytes
    const BYTE dword[] = {0x78, 0x56, 0x34, 0x12};
    RegistryScratch::setBytes(key, WIDE("number"), REG_DWORD, std::vector<BYTE>(dword, dword + 4));

    struct SizeRow
    {
        const char* label;
        const WCHAR* name;
        bool withType;
        bool withData;
        bool withSize;
        DWORD size;
    };
    const SizeRow rows[] = {
        {"buffers.size-only", WIDE("text"), false, false, true, 0},
        {"buffers.type-and-size", WIDE("text"), true, false, true, 0},
        {"buffers.type-and-size-ignores-size-given", WIDE("text"), true, false, true, 3},
        {"buffers.neither-data-nor-size", WIDE("text"), true, false, false, 0},
        {"buffers.data-without-size", WIDE("text"), true, true, false, 0},
        {"buffers.too-small-by-two", WIDE("text"), true, true, true, 10},
        {"buffers.zero-size-with-data", WIDE("text"), true, true, true, 0},
        {"buffers.exact-size", WIDE("text"), true, true, true, 12},
        {"buffers.larger-than-needed", WIDE("text"), true, true, true, 40},
        {"buffers.odd-size-too-small", WIDE("text"), true, true, true, 11},
        {"buffers.dword-too-small", WIDE("number"), true, true, true, 2},
        {"buffers.dword-exact", WIDE("number"), true, true, true, 4},
        {"buffers.missing-value-with-buffer", WIDE("absent"), true, true, true, 40},
        {"buffers.missing-value-without-buffer", WIDE("absent"), true, false, true, 0},
    };
    for (const SizeRow& row : rows) {
        std::vector<BYTE> buffer(64, 0xbd);
        DWORD type = 0xbdbd;
        DWORD size = row.size;
        const LONG result =
            api.query(key, row.name, row.withType ? &type : nullptr,
                      row.withData ? buffer.data() : nullptr, row.withSize ? &size : nullptr);
        std::string returned;
        if (row.withType)
            returned += type == 0xbdbd ? "type unchanged" : TimedCalls::typeName(type);
        if (row.withSize)
            returned += " size=" + std::to_string(size);
        if (row.withData) {
            size_t written = 0;
            while (written < buffer.size() && buffer[buffer.size() - 1 - written] == 0xbd)
                ++written;
            const size_t touched = buffer.size() - written;
            returned += touched == 0
                            ? " buffer untouched"
                            : " data " + ConformanceReport::hex(buffer.data(), DWORD(touched));
        }
        report.check(row.label,
                     "RegQueryValueExW(buffers, " + TimedCalls::path(row.name) +
                         ", type=" + (row.withType ? "&" : "NULL") +
                         ", data=" + (row.withData ? "&" : "NULL") + ", size=" +
                         (row.withSize ? std::to_string(row.size) : std::string("NULL")) + ")",
                     result, returned);
    }

    {
        DWORD reserved = 0;
        DWORD size = 64;
        BYTE buffer[64];
        const LONG result = report.timed("RegQueryValueExW", [&] {
            return RegQueryValueExW(key, WIDE("text"), &reserved, nullptr, buffer, &size);
        });
        report.check("buffers.reserved-pointer-given",
                     "RegQueryValueExW(buffers, \"text\", reserved=&)", result);
    }
    RegCloseKey(key);
}
