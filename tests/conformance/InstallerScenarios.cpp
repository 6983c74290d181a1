#include "ConformanceScenarios.h"
#include "RegistryScratch.h"
#include "TimedCalls.h"

#include <vector>

namespace {

// A made-up product, registered by the scenario the way Windows Installer
// records a per-machine product: published under Classes\Installer and with
// its properties under UserData.
const WCHAR* const productCode = WIDE("{12345678-9ABC-DEF0-1234-56789ABCDEF0}");
const WCHAR* const productKey =
    WIDE("Software\\Classes\\Installer\\Products\\87654321CBA90FED21436587A9CBED0F");
const WCHAR* const propertiesKey =
    WIDE("Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-"
         "18\\Products\\87654321CBA90FED21436587A9CBED0F");
const WCHAR* const bareCode = WIDE("{ABCDEF01-2345-6789-ABCD-EF0123456789}");
const WCHAR* const bareProductKey =
    WIDE("Software\\Classes\\Installer\\Products\\10FEDCBA54329876BADCFE1032547698");
const WCHAR* const barePropertiesKey =
    WIDE("Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-"
         "18\\Products\\10FEDCBA54329876BADCFE1032547698");
const WCHAR* const location = WIDE("C:\\Program Files (x86)\\Crypto Pro\\CSP\\");

void registerProducts()
{
    HKEY key = RegistryScratch::create(HKEY_LOCAL_MACHINE, productKey, KEY_WOW64_64KEY);
    RegistryScratch::setText(key, WIDE("ProductName"), WIDE("Vexor conformance product"));
    RegCloseKey(key);
    key = RegistryScratch::create(
        HKEY_LOCAL_MACHINE, WString(propertiesKey) + WIDE("\\InstallProperties"), KEY_WOW64_64KEY);
    RegistryScratch::setText(key, WIDE("InstallLocation"), location);
    RegistryScratch::setText(key, WIDE("DisplayName"), WIDE("Vexor conformance product"));
    RegCloseKey(key);
    // A second product that records no install location.
    key = RegistryScratch::create(HKEY_LOCAL_MACHINE, bareProductKey, KEY_WOW64_64KEY);
    RegCloseKey(key);
    key = RegistryScratch::create(HKEY_LOCAL_MACHINE,
                                  WString(barePropertiesKey) + WIDE("\\InstallProperties"),
                                  KEY_WOW64_64KEY);
    RegistryScratch::setText(key, WIDE("DisplayName"), WIDE("bare"));
    RegCloseKey(key);
}

void unregisterProducts()
{
    RegistryScratch::removeTree(HKEY_LOCAL_MACHINE, productKey, KEY_WOW64_64KEY);
    RegistryScratch::removeTree(HKEY_LOCAL_MACHINE, propertiesKey, KEY_WOW64_64KEY);
    RegistryScratch::removeTree(HKEY_LOCAL_MACHINE, bareProductKey, KEY_WOW64_64KEY);
    RegistryScratch::removeTree(HKEY_LOCAL_MACHINE, barePropertiesKey, KEY_WOW64_64KEY);
}

} // namespace

void ConformanceScenarios::runInstaller(ConformanceReport& report)
{
    unregisterProducts();
    registerProducts();

    struct ProductRow
    {
        const char* label;
        const WCHAR* product;
        const WCHAR* property;
        bool withBuffer;
        DWORD length;
    };
    const ProductRow rows[] = {
        {"msi.unknown-product-size-query", WIDE("{00000000-1111-2222-3333-444444444444}"),
         WIDE("InstallLocation"), false, 0},
        {"msi.unknown-product-with-buffer", WIDE("{00000000-1111-2222-3333-444444444444}"),
         WIDE("InstallLocation"), true, 64},
        {"msi.unknown-product-unknown-property", WIDE("{00000000-1111-2222-3333-444444444444}"),
         WIDE("NoSuchProperty"), false, 0},
        {"msi.malformed-product-code", WIDE("not-a-product-code"), WIDE("InstallLocation"), false,
         0},
        {"msi.product-code-without-braces", WIDE("12345678-9ABC-DEF0-1234-56789ABCDEF0"),
         WIDE("InstallLocation"), false, 0},
        {"msi.null-product-code", nullptr, WIDE("InstallLocation"), false, 0},
        {"msi.empty-product-code", WIDE(""), WIDE("InstallLocation"), false, 0},
        {"msi.known-product-size-query", productCode, WIDE("InstallLocation"), false, 0},
        {"msi.known-product-buffer-with-room-for-terminator", productCode, WIDE("InstallLocation"),
         true, 39},
        {"msi.known-product-buffer-without-room-for-terminator", productCode,
         WIDE("InstallLocation"), true, 38},
        {"msi.known-product-buffer-of-zero", productCode, WIDE("InstallLocation"), true, 0},
        {"msi.known-product-large-buffer", productCode, WIDE("InstallLocation"), true, 100},
        {"msi.known-product-in-lower-case", WIDE("{12345678-9abc-def0-1234-56789abcdef0}"),
         WIDE("InstallLocation"), true, 100},
        {"msi.known-product-unknown-property", productCode, WIDE("NoSuchProperty"), true, 100},
        {"msi.known-product-null-property", productCode, nullptr, true, 100},
        {"msi.product-without-recorded-location", bareCode, WIDE("InstallLocation"), true, 100},
    };
    for (const ProductRow& row : rows) {
        std::vector<WCHAR> buffer(128, WCHAR(0xbdbd));
        DWORD length = row.length;
        const UINT result = report.timed("MsiGetProductInfoW", [&] {
            return MsiGetProductInfoW(row.product, row.property,
                                      row.withBuffer ? buffer.data() : nullptr, &length);
        });
        std::string returned = "length=" + std::to_string(length);
        if (row.withBuffer) {
            size_t touched = 0;
            while (touched < buffer.size() && buffer[touched] != WCHAR(0xbdbd))
                ++touched;
            returned += touched ? " buffer=" + ConformanceReport::text(buffer.data(), touched)
                                : " buffer untouched";
        }
        report.check(row.label,
                     "MsiGetProductInfoW(" + TimedCalls::path(row.product) + ", " +
                         TimedCalls::path(row.property) + ", " +
                         (row.withBuffer ? "buffer" : "NULL") + ", " + std::to_string(row.length) +
                         ")",
                     long(result), returned);
    }
    unregisterProducts();
}
