// The registry scenarios, one table per group. A check row is
//
//     label Call(arguments as printed) [= data] [| what to print] [name="text"...] [as names]
//
// and prints "label Call(...) -> result | what came back". A row starting
// with "-" is a set-up step: the same call, neither printed nor timed.
// Every group removes and rebuilds its own scratch tree first, so the groups
// run in any order and a run repeats on a registry an earlier run used.
// ConformanceRunner.cpp reads the rows; its head lists what they may say.

#include "Conformance.h"

const char* const conformanceTables[] = {
    // Key paths: separators, letter case, empty and null subkeys, handles.
    R"rows(
remove HKCU "Software\\VexorConformance\\paths"
paths.create-base RegCreateKeyExW(HKCU, "Software\\VexorConformance\\paths", KEY_ALL_ACCESS) | handle disposition where where="base" as base
paths.create-makes-every-missing-level RegCreateKeyExW(base, "a\\b\\c", KEY_ALL_ACCESS) | handle disposition where
paths.create-of-an-existing-path-opens-it RegCreateKeyExW(base, "a\\b\\c", KEY_ALL_ACCESS) | handle disposition where
paths.create-with-trailing-backslash RegCreateKeyExW(base, "d\\", KEY_ALL_ACCESS) | handle disposition where
paths.create-existing-with-trailing-backslash RegCreateKeyExW(base, "d\\", KEY_ALL_ACCESS) | handle disposition where
paths.create-ignores-letter-case RegCreateKeyExW(base, "A\\B", KEY_ALL_ACCESS) | handle disposition where
paths.create-with-leading-backslash RegCreateKeyExW(base, "\\lead", KEY_ALL_ACCESS) | handle disposition where
paths.create-with-doubled-backslash RegCreateKeyExW(base, "u\\\\v", KEY_ALL_ACCESS) | handle disposition where
paths.create-with-slash-in-name RegCreateKeyExW(base, "x/y", KEY_ALL_ACCESS) | handle disposition where
paths.create-with-space-and-dot RegCreateKeyExW(base, "Crypto Pro\\v1.0", KEY_ALL_ACCESS) | handle disposition where
paths.create-with-empty-subkey RegCreateKeyExW(base, "", KEY_ALL_ACCESS) | handle disposition where
each "a" "a\\b" "a\\b\\c" "d" "x/y"
    - RegCreateKeyExW(base, %) where=%
paths.open-one-level RegOpenKeyExW(base, "a", KEY_READ) | handle where
paths.open-two-levels RegOpenKeyExW(base, "a\\b", KEY_READ) | handle where
paths.open-three-levels RegOpenKeyExW(base, "a\\b\\c", KEY_READ) | handle where
paths.open-trailing-backslash RegOpenKeyExW(base, "a\\b\\", KEY_READ) | handle where
paths.open-two-trailing-backslashes RegOpenKeyExW(base, "a\\b\\\\", KEY_READ) | handle where
paths.open-doubled-backslash-inside RegOpenKeyExW(base, "a\\\\b", KEY_READ) | handle where
paths.open-leading-backslash RegOpenKeyExW(base, "\\a", KEY_READ) | handle where
paths.open-only-a-backslash RegOpenKeyExW(base, "\\", KEY_READ) | handle where
paths.open-other-letter-case RegOpenKeyExW(base, "A\\B\\C", KEY_READ) | handle where
paths.open-key-created-with-trailing-backslash RegOpenKeyExW(base, "d", KEY_READ) | handle where
paths.open-missing-key RegOpenKeyExW(base, "nope", KEY_READ) | handle where
paths.open-missing-middle-level RegOpenKeyExW(base, "a\\nope\\c", KEY_READ) | handle where
paths.open-below-missing-leaf RegOpenKeyExW(base, "a\\b\\c\\nope", KEY_READ) | handle where
paths.open-slash-is-part-of-the-name RegOpenKeyExW(base, "x/y", KEY_READ) | handle where
paths.open-slash-is-no-separator RegOpenKeyExW(base, "a/b", KEY_READ) | handle where
paths.open-key-named-only-x-is-missing RegOpenKeyExW(base, "x", KEY_READ) | handle where
paths.open-dot-is-an-ordinary-name RegOpenKeyExW(base, ".", KEY_READ) | handle where
paths.open-empty-subkey-gives-the-same-key RegOpenKeyExW(base, "", KEY_READ) | handle where
paths.open-null-subkey-gives-the-same-key RegOpenKeyExW(base, NULL, KEY_READ) | handle where
paths.open-empty-subkey-handle-is-new RegOpenKeyExW(base, "", KEY_READ) | new as first handle
- RegCreateKeyExW(HKCU, "Software\\VexorConformance\\paths") as second handle
paths.close-one-of-two-handles RegCloseKey(second handle)
paths.other-handle-still-works RegQueryValueExW(first handle, "where") | text
paths.open-software-below-root RegOpenKeyExW(HKCU, "Software", KEY_READ) | handle
paths.open-empty-subkey-on-a-root-gives-the-root RegOpenKeyExW(HKCU, "", KEY_READ) | root
paths.close-predefined-root RegCloseKey(HKCU)
paths.root-usable-after-close RegOpenKeyExW(HKCU, "Software\\VexorConformance\\paths", KEY_READ) | handle where
paths.open-without-result-pointer RegOpenKeyExW(base, "a", KEY_READ, NULL)
- RegCreateKeyExW(base, "a") as key, closed key
paths.close-once RegCloseKey(key)
paths.close-twice RegCloseKey(closed key)
paths.open-below-closed-handle RegOpenKeyExW(closed key, "b", KEY_READ) | handle
paths.close-null RegCloseKey(NULL)
paths.open-below-null-handle RegOpenKeyExW(NULL, "Software", KEY_READ) | handle
paths.subkeys-after-creates RegEnumKeyExW(base, 0..) | names
)rows",
    // Long names: limits hold per path element; long value names and data.
    R"rows(
remove HKCU "Software\\VexorConformance\\long"
- RegCreateKeyExW(HKCU, "Software\\VexorConformance\\long") as base
each 254 255 256 257 300
    long.create-key-name-of-%-characters RegCreateKeyExW(base, k*%) | handle
    long.open-key-name-of-%-characters RegOpenKeyExW(base, k*%) | handle
long.create-eight-levels-of-200-characters RegCreateKeyExW(base, 8x200)
long.open-eight-levels-of-200-characters RegOpenKeyExW(base, 8x200)
each 255 256 16383 16384
    long.set-value-name-of-%-characters RegSetValueExW(base, v*%, REG_BINARY, 4 bytes) = 01 02 03 04
    long.query-value-name-of-%-characters RegQueryValueExW(base, v*%, NULL) | type-size
long.info-reports-longest-names RegQueryInfoKeyW(base) | info
long.set-200000-bytes RegSetValueExW(base, "big", REG_BINARY, 200000) = pattern 200000
long.query-200000-bytes RegQueryValueExW(base, "big") | same-bytes
)rows",
    // Registry views: each copy of the key holds "view", naming the view it
    // was written in.
    R"rows(
remove HKLM "Software\\Wow6432Node\\VexorConformance" "Software\\VexorConformance"
remove HKCU "Software\\VexorConformance\\views"
views.create-in-64-bit-view RegCreateKeyExW(HKLM, "Software\\VexorConformance", KEY_ALL_ACCESS|KEY_WOW64_64KEY) | disposition view="64"
views.create-in-32-bit-view-is-a-separate-key RegCreateKeyExW(HKLM, "Software\\VexorConformance", KEY_ALL_ACCESS|KEY_WOW64_32KEY) | disposition view="32"
views.no-flag-opens-the-native-view RegOpenKeyExW(HKLM, "Software\\VexorConformance", KEY_READ) | handle view
views.64-bit-flag-opens-the-native-view RegOpenKeyExW(HKLM, "Software\\VexorConformance", KEY_READ|KEY_WOW64_64KEY) | handle view
views.32-bit-flag-lands-in-wow6432node RegOpenKeyExW(HKLM, "Software\\VexorConformance", KEY_READ|KEY_WOW64_32KEY) | handle view
views.wow6432node-named-without-flag RegOpenKeyExW(HKLM, "Software\\Wow6432Node\\VexorConformance", KEY_READ) | handle view
views.wow6432node-named-with-32-bit-flag-not-redirected-twice RegOpenKeyExW(HKLM, "Software\\Wow6432Node\\VexorConformance", KEY_READ|KEY_WOW64_32KEY) | handle view
views.wow6432node-named-with-64-bit-flag RegOpenKeyExW(HKLM, "Software\\Wow6432Node\\VexorConformance", KEY_READ|KEY_WOW64_64KEY) | handle view
views.redirection-ignores-letter-case RegOpenKeyExW(HKLM, "SOFTWARE\\vexorconformance", KEY_READ|KEY_WOW64_32KEY) | handle view
views.wow6432node-in-other-letter-case RegOpenKeyExW(HKLM, "software\\WOW6432NODE\\VexorConformance", KEY_READ) | handle view
views.trailing-backslash-in-32-bit-view RegOpenKeyExW(HKLM, "Software\\VexorConformance\\", KEY_READ|KEY_WOW64_32KEY) | handle view
views.both-view-flags-at-once RegOpenKeyExW(HKLM, "Software\\VexorConformance", KEY_READ|KEY_WOW64_64KEY|KEY_WOW64_32KEY) | handle view
views.both-view-flags-at-once-on-create RegCreateKeyExW(HKLM, "Software\\VexorConformance", KEY_ALL_ACCESS|KEY_WOW64_64KEY|KEY_WOW64_32KEY) | handle
- RegOpenKeyExW(HKLM, "Software", KEY_READ|KEY_WOW64_64KEY) as software
views.below-native-software-then-no-flag RegOpenKeyExW(software, "VexorConformance", KEY_READ) | handle view
views.below-native-software-then-64-bit-flag RegOpenKeyExW(software, "VexorConformance", KEY_READ|KEY_WOW64_64KEY) | handle view
views.below-native-software-then-32-bit-flag RegOpenKeyExW(software, "VexorConformance", KEY_READ|KEY_WOW64_32KEY) | handle view
- RegCloseKey(software)
- RegOpenKeyExW(HKLM, "Software", KEY_READ|KEY_WOW64_32KEY) as software
views.below-software-opened-in-32-bit-view-then-no-flag RegOpenKeyExW(software, "VexorConformance", KEY_READ) | handle view
views.below-software-opened-in-32-bit-view-then-64-bit-flag RegOpenKeyExW(software, "VexorConformance", KEY_READ|KEY_WOW64_64KEY) | handle view
views.below-software-opened-in-32-bit-view-then-32-bit-flag RegOpenKeyExW(software, "VexorConformance", KEY_READ|KEY_WOW64_32KEY) | handle view
- RegCloseKey(software)
- RegOpenKeyExW(HKLM, "Software\\Wow6432Node", KEY_READ) as software
views.below-wow6432node-opened-by-name-then-no-flag RegOpenKeyExW(software, "VexorConformance", KEY_READ) | handle view
views.below-wow6432node-opened-by-name-then-64-bit-flag RegOpenKeyExW(software, "VexorConformance", KEY_READ|KEY_WOW64_64KEY) | handle view
views.below-wow6432node-opened-by-name-then-32-bit-flag RegOpenKeyExW(software, "VexorConformance", KEY_READ|KEY_WOW64_32KEY) | handle view
- RegCloseKey(software)
- RegCreateKeyExW(HKLM, "Software\\VexorConformance", KEY_ALL_ACCESS|KEY_WOW64_32KEY) as base32
views.create-child-below-32-bit-handle RegCreateKeyExW(base32, "Child", KEY_ALL_ACCESS|KEY_WOW64_32KEY) | disposition
views.child-absent-from-native-view RegOpenKeyExW(HKLM, "Software\\VexorConformance\\Child", KEY_READ|KEY_WOW64_64KEY) | handle view
views.child-present-by-wow6432node-path RegOpenKeyExW(HKLM, "Software\\Wow6432Node\\VexorConformance\\Child", KEY_READ) | handle view
- RegCreateKeyExW(HKLM, "Software\\VexorConformance", KEY_ALL_ACCESS|KEY_WOW64_64KEY) as base64
views.subkeys-of-32-bit-copy RegEnumKeyExW(base32, 0..) | names
views.subkeys-of-64-bit-copy RegEnumKeyExW(base64, 0..) | names
views.delete-child-through-32-bit-handle RegDeleteKeyW(base32, "Child")
views.child-gone-after-delete RegOpenKeyExW(HKLM, "Software\\Wow6432Node\\VexorConformance\\Child", KEY_READ) | handle view
- RegCreateKeyExW(HKLM, "Software\\VexorConformance\\Both", KEY_ALL_ACCESS|KEY_WOW64_64KEY) view="64"
- RegCreateKeyExW(HKLM, "Software\\VexorConformance\\Both", KEY_ALL_ACCESS|KEY_WOW64_32KEY) view="32"
views.delete-from-root-removes-the-native-copy RegDeleteKeyW(HKLM, "Software\\VexorConformance\\Both")
views.native-copy-is-gone RegOpenKeyExW(HKLM, "Software\\VexorConformance\\Both", KEY_READ|KEY_WOW64_64KEY) | handle view
views.32-bit-copy-stays RegOpenKeyExW(HKLM, "Software\\VexorConformance\\Both", KEY_READ|KEY_WOW64_32KEY) | handle view
remove HKLM "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VexorConformance" "SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Calais\\SmartCards\\VexorConformance"
- RegCreateKeyExW(HKLM, "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VexorConformance", KEY_ALL_ACCESS|KEY_WOW64_64KEY) view="64"
views.smart-card-key-written-in-64-bit-view RegOpenKeyExW(HKLM, "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VexorConformance", KEY_READ|KEY_WOW64_64KEY) | handle view
views.smart-card-key-not-visible-in-32-bit-view RegOpenKeyExW(HKLM, "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VexorConformance", KEY_READ|KEY_WOW64_32KEY) | handle view
remove HKLM "SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\VexorConformance"
- RegCreateKeyExW(HKCU, "Software\\VexorConformance\\views", KEY_ALL_ACCESS|KEY_WOW64_32KEY) view="user"
views.user-software-is-shared-64 RegOpenKeyExW(HKCU, "Software\\VexorConformance\\views", KEY_READ|KEY_WOW64_64KEY) | handle view
views.user-software-is-shared-32 RegOpenKeyExW(HKCU, "Software\\VexorConformance\\views", KEY_READ|KEY_WOW64_32KEY) | handle view
remove HKLM "Software\\Wow6432Node\\VexorConformance" "Software\\VexorConformance"
remove HKCU "Software\\VexorConformance\\views"
)rows",
    // Values: what is written is what comes back, byte for byte; a buffer
    // larger than the data keeps its bytes past the data.
    R"rows(
remove HKCU "Software\\VexorConformance\\values"
- RegCreateKeyExW(HKCU, "Software\\VexorConformance\\values") as values
values.none-empty RegSetValueExW(values, "none0", REG_NONE, 0 bytes) | round-trip
values.none-with-bytes RegSetValueExW(values, "none3", REG_NONE, 3 bytes) = 01 02 03 | round-trip
values.text-with-terminator RegSetValueExW(values, "sz", REG_SZ, 12 bytes) = "hello" | round-trip
values.text-empty-with-terminator RegSetValueExW(values, "szEmpty", REG_SZ, 2 bytes) = "" | round-trip
values.text-zero-bytes RegSetValueExW(values, "szZero", REG_SZ, 0 bytes) | round-trip
values.text-with-zero-inside RegSetValueExW(values, "szInner", REG_SZ, 12 bytes) = "ab" "cd" | round-trip
values.text-cyrillic RegSetValueExW(values, "szCyr", REG_SZ, 10 bytes) = "\u041a\u043b\u044e\u0447" | round-trip
values.expand-text-kept-unexpanded RegSetValueExW(values, "expand", REG_EXPAND_SZ, 52 bytes) = "%ProgramFiles%\\Crypto Pro" | round-trip
values.binary RegSetValueExW(values, "bin", REG_BINARY, 6 bytes) = 3b fc 18 00 ff 81 | round-trip
values.binary-empty RegSetValueExW(values, "binEmpty", REG_BINARY, 0 bytes) | round-trip
values.dword RegSetValueExW(values, "dword", REG_DWORD, 4 bytes) = 01 00 00 00 | round-trip
values.dword-all-ones RegSetValueExW(values, "dwordMax", REG_DWORD, 4 bytes) = ff ff ff ff | round-trip
values.dword-short RegSetValueExW(values, "dwordShort", REG_DWORD, 2 bytes) = 07 00 | round-trip
values.dword-big-endian RegSetValueExW(values, "dwordBig", REG_DWORD_BIG_ENDIAN, 4 bytes) = 00 00 00 01 | round-trip
values.qword RegSetValueExW(values, "qword", REG_QWORD, 8 bytes) = 01 02 03 04 05 06 07 08 | round-trip
values.multi-text RegSetValueExW(values, "multi", REG_MULTI_SZ, 10 bytes) = "a" "b" 00 00 | round-trip
values.multi-text-with-empty-string RegSetValueExW(values, "multiEmpty", REG_MULTI_SZ, 12 bytes) = "a" "" "b" 00 00 | round-trip
values.multi-text-empty-list RegSetValueExW(values, "multiNone", REG_MULTI_SZ, 2 bytes) = 00 00 | round-trip
values.link-type RegSetValueExW(values, "link", REG_LINK, 34 bytes) = "\\Registry\\Machine" | round-trip
values.resource-list-type RegSetValueExW(values, "resources", REG_RESOURCE_LIST, 3 bytes) = 09 08 07 | round-trip
values.type-above-qword RegSetValueExW(values, "type12", type 12, 1 bytes) = 12 | round-trip
values.unknown-type-number RegSetValueExW(values, "typeBig", type 305419896, 2 bytes) = ab cd | round-trip
values.default-value-by-empty-name RegSetValueExW(values, "", REG_SZ, 16 bytes) = "default" | round-trip
values.name-with-backslash RegSetValueExW(values, "a\\b", REG_SZ, 12 bytes) = "slash" | round-trip
# REG_SZ data counted without its terminator: a unit after the count, zero or not, is no part of it.
values.text-without-terminator-stored-as-given RegSetValueExW(values, "szNoTerminator", REG_SZ, "hi" 4 bytes) = "hiX" | readback
values.text-odd-byte-count RegSetValueExW(values, "szOdd", REG_SZ, "ab" 3 bytes) = "abX" | readback
values.text-without-terminator-before-a-zero-unit RegSetValueExW(values, "szNoTerminator0", REG_SZ, "hi" 4 bytes) = "hi" | readback
- RegSetValueExW(values, "MixedCase") = "first"
values.query-ignores-letter-case RegQueryValueExW(values, "mixedcase") | readback
values.set-in-other-case-replaces RegSetValueExW(values, "MIXEDCASE") = "second" | readback:"MixedCase"
values.enumeration-keeps-first-spelling RegEnumValueW(values, 0..) | lists:"MixedCase"
values.overwrite-with-another-type RegSetValueExW(values, "sz", REG_DWORD) = 04 00 00 00 | readback
values.null-name-reads-the-default-value RegQueryValueExW(values, NULL) | readback
values.null-name-writes-the-default-value RegSetValueExW(values, NULL) = "other" | readback:""
- RegCreateKeyExW(values, "fresh") as fresh
values.fresh-key-has-no-default-value RegQueryValueExW(fresh, "") | readback
values.missing-value RegQueryValueExW(values, "absent") | readback
values.set-null-data-with-zero-size RegSetValueExW(fresh, "n", NULL, 0) | readback
)rows",
    // The size protocol of RegQueryValueExW that every reader depends on: ask
    // for the size, then read; a short buffer gives ERROR_MORE_DATA and the size.
    R"rows(
remove HKCU "Software\\VexorConformance\\buffers"
- RegCreateKeyExW(HKCU, "Software\\VexorConformance\\buffers") as buffers
- RegSetValueExW(buffers, "text") = "hello"
- RegSetValueExW(buffers, "number", REG_DWORD) = 78 56 34 12
buffers.size-only RegQueryValueExW(buffers, "text", type=NULL, data=NULL, size=0) | outcome
buffers.type-and-size RegQueryValueExW(buffers, "text", type=&, data=NULL, size=0) | outcome
buffers.type-and-size-ignores-size-given RegQueryValueExW(buffers, "text", type=&, data=NULL, size=3) | outcome
buffers.neither-data-nor-size RegQueryValueExW(buffers, "text", type=&, data=NULL, size=NULL) | outcome
buffers.data-without-size RegQueryValueExW(buffers, "text", type=&, data=&, size=NULL) | outcome
buffers.too-small-by-two RegQueryValueExW(buffers, "text", type=&, data=&, size=10) | outcome
buffers.zero-size-with-data RegQueryValueExW(buffers, "text", type=&, data=&, size=0) | outcome
buffers.exact-size RegQueryValueExW(buffers, "text", type=&, data=&, size=12) | outcome
buffers.larger-than-needed RegQueryValueExW(buffers, "text", type=&, data=&, size=40) | outcome
buffers.odd-size-too-small RegQueryValueExW(buffers, "text", type=&, data=&, size=11) | outcome
buffers.dword-too-small RegQueryValueExW(buffers, "number", type=&, data=&, size=2) | outcome
buffers.dword-exact RegQueryValueExW(buffers, "number", type=&, data=&, size=4) | outcome
buffers.missing-value-with-buffer RegQueryValueExW(buffers, "absent", type=&, data=&, size=40) | outcome
buffers.missing-value-without-buffer RegQueryValueExW(buffers, "absent", type=&, data=NULL, size=0) | outcome
buffers.reserved-pointer-given RegQueryValueExW(buffers, "text", reserved=&)
)rows",
    // Enumeration and key information. The names are created in an order
    // that differs from their lower-cased and from their upper-cased order.
    // Value order differs between Windows (creation order) and Wine (sorted);
    // no caller may rely on it, so only the set of values is compared.
    R"rows(
remove HKCU "Software\\VexorConformance\\enumeration"
- RegCreateKeyExW(HKCU, "Software\\VexorConformance\\enumeration") as enumeration
enum.info-of-empty-key RegQueryInfoKeyW(enumeration) | info
enum.subkeys-of-empty-key RegEnumKeyExW(enumeration, 0..) | order
enum.values-of-empty-key RegEnumValueW(enumeration, 0..) | order
each "b" "A" "_x" "c" "Z"
    - RegCreateKeyExW(enumeration, %)
    - RegSetValueExW(enumeration, %) = %
enum.info-counts-and-longest-names RegQueryInfoKeyW(enumeration) | info
enum.subkey-order RegEnumKeyExW(enumeration, 0..) | order
enum.subkey-set RegEnumKeyExW(enumeration, 0..) | sorted
enum.value-set RegEnumValueW(enumeration, 0..) | sorted
enum.value-set-with-data RegEnumValueW(enumeration, 0.., data) | sorted
enum.subkey-name-buffer-exact-with-terminator RegEnumKeyExW(enumeration, index of "_x", length=3) | length name-buffer
enum.subkey-name-buffer-without-room-for-terminator RegEnumKeyExW(enumeration, index of "_x", length=2) | length name-buffer
enum.subkey-name-buffer-of-one RegEnumKeyExW(enumeration, index of "_x", length=1) | length name-buffer
enum.subkey-name-buffer-of-zero RegEnumKeyExW(enumeration, index of "_x", length=0) | length name-buffer
enum.value-name-buffer-exact-with-terminator RegEnumValueW(enumeration, index of "_x", length=3) | length name-buffer
enum.value-name-buffer-without-room-for-terminator RegEnumValueW(enumeration, index of "_x", length=2) | length name-buffer
enum.value-name-buffer-of-one RegEnumValueW(enumeration, index of "_x", length=1) | length name-buffer
enum.value-name-buffer-of-zero RegEnumValueW(enumeration, index of "_x", length=0) | length name-buffer
- RegCreateKeyExW(enumeration, "data") only="0123456789" as data
each 4 22 100
    enum.value-data-buffer-of-% RegEnumValueW(data, 0, data size=%) | length type size
enum.value-index-past-the-end RegEnumValueW(data, 1)
enum.subkey-index-past-the-end RegEnumKeyExW(data, 0)
- RegCreateKeyExW(enumeration, "default") ""="d" as default
enum.default-value-has-empty-name RegEnumValueW(default, 0..) | order
enum.info-with-only-default-value RegQueryInfoKeyW(default) | info
- RegCreateKeyExW(default, L*40)
- RegSetValueExW(default, N*30) = D*50
enum.info-after-long-names RegQueryInfoKeyW(default) | info
- RegCreateKeyExW(default, l*40)
enum.same-name-in-other-case-is-one-subkey RegQueryInfoKeyW(default) | info
- RegDeleteValueW(default, N*30)
- RegSetValueExW(default, "n") = "x"
enum.info-after-value-replaced RegQueryInfoKeyW(default) | info
- RegCreateKeyExW(enumeration, "counts") as counts
each "v0" "v1" "v2" "v3" "v4" "v5" "v6" "v7" "v8" "v9" "v10" "v11"
    - RegSetValueExW(counts, %) = %
    - RegCreateKeyExW(counts, %)
enum.info-after-twelve-of-each RegQueryInfoKeyW(counts) | info
- RegDeleteValueW(counts, "v3")
- RegDeleteKeyW(counts, "v4")
enum.info-after-one-of-each-deleted RegQueryInfoKeyW(counts) | info
enum.twelve-minus-one-subkeys RegEnumKeyExW(counts, 0..) | names
enum.info-asking-nothing RegQueryInfoKeyW(enumeration, all NULL)
)rows",
    // Deletion: of keys by path, of the key a handle names, of values.
    R"rows(
remove HKCU "Software\\VexorConformance\\deletion"
- RegCreateKeyExW(HKCU, "Software\\VexorConformance\\deletion") as deletion
each "leaf" "tree\\branch\\twig" "x\\y\\z" "trail" "Cased" "self" "gone"
    - RegCreateKeyExW(deletion, %) v="1"
delete.missing-key RegDeleteKeyW(deletion, "nope") | exists:"nope"
delete.below-missing-key RegDeleteKeyW(deletion, "nope\\deeper") | exists:"nope"
delete.key-with-subkeys-is-refused RegDeleteKeyW(deletion, "tree") | exists:"tree\\branch\\twig"
delete.leaf-key-with-values RegDeleteKeyW(deletion, "leaf") | exists:"leaf"
delete.multi-level-path-deletes-the-last-key RegDeleteKeyW(deletion, "x\\y\\z") | exists:"x\\y\\z"
delete.multi-level-path-keeps-the-parents RegDeleteKeyW(deletion, "x\\y\\z") | exists:"x\\y"
delete.trailing-backslash RegDeleteKeyW(deletion, "trail\\") | exists:"trail"
delete.other-letter-case RegDeleteKeyW(deletion, "cASED") | exists:"Cased"
delete.leading-backslash RegDeleteKeyW(deletion, "\\x\\y") | exists:"x\\y"
delete.deepest-first-then-parents RegDeleteKeyW(deletion, "tree\\branch\\twig") | exists:"tree\\branch"
delete.then-the-middle RegDeleteKeyW(deletion, "tree\\branch") | exists:"tree\\branch"
delete.then-the-top RegDeleteKeyW(deletion, "tree") | exists:"tree"
- RegOpenKeyExW(deletion, "self", KEY_ALL_ACCESS) as self, deleted
- RegOpenKeyExW(deletion, "self", KEY_READ) as other handle to deleted
delete.empty-subkey-deletes-the-handle-key RegDeleteKeyW(self, "") | exists:deletion:self
delete.query-on-deleted-key RegQueryValueExW(deleted, "v")
delete.set-on-deleted-key RegSetValueExW(deleted, "v") = 01 00 00 00
delete.create-below-deleted-key RegCreateKeyExW(deleted, "child") | handle
delete.enumerate-deleted-key RegEnumKeyExW(deleted, 0)
delete.info-through-another-handle RegQueryInfoKeyW(other handle to deleted)
delete.delete-deleted-key-again RegDeleteKeyW(deleted, "")
delete.close-deleted-key RegCloseKey(deleted)
- RegCloseKey(other handle to deleted)
delete.recreated-key-starts-empty RegCreateKeyExW(deletion, "self") | disposition value:v
- RegSetValueExW(deletion, "Value") = "x"
- RegSetValueExW(deletion, "") = "default"
delete.value-in-other-letter-case RegDeleteValueW(deletion, "VALUE") | query-after
delete.value-again RegDeleteValueW(deletion, "Value") | query-after
delete.missing-value RegDeleteValueW(deletion, "never") | query-after
delete.default-value-by-empty-name RegDeleteValueW(deletion, "") | query-after
delete.default-value-again-by-null RegDeleteValueW(deletion, NULL) | query-after
- RegCreateKeyExW(deletion, "gone") v0="x" v1="x" v2="x" v3="x" v4="x"
delete.key-with-five-values RegDeleteKeyW(deletion, "gone") | names
)rows",
    // What a handle opened with fewer rights may still do. The settings store
    // reads through 0x20019 handles and writes through 0x2001F ones.
    R"rows(
alias access "Software\\VexorConformance\\access"
remove HKCU access
- RegCreateKeyExW(HKCU, access) v="x" as access
- RegCreateKeyExW(access, "sub")
each KEY_READ 0x2001F KEY_QUERY_VALUE KEY_SET_VALUE KEY_ENUMERATE_SUB_KEYS 0
    rights.%.open RegOpenKeyExW(HKCU, access, %) | handle as handle
    rights.%.query-value RegQueryValueExW(handle, "v")
    rights.%.set-value RegSetValueExW(handle, "w") = "y"
    rights.%.enumerate-subkeys RegEnumKeyExW(handle, 0)
    rights.%.enumerate-values RegEnumValueW(handle, 0)
    rights.%.query-info RegQueryInfoKeyW(handle)
    rights.%.create-subkey RegCreateKeyExW(handle, "made", KEY_READ) | handle
    rights.%.create-existing-subkey RegCreateKeyExW(handle, "sub", KEY_READ) | handle
    rights.%.open-subkey-for-everything RegOpenKeyExW(handle, "sub", KEY_ALL_ACCESS) | handle
    rights.%.delete-value RegDeleteValueW(handle, "w")
    - RegDeleteKeyW(access, "made")
    - RegDeleteValueW(access, "w")
    - RegCloseKey(handle)
# Deleting a subkey needs rights on the subkey, not on the handle used.
- RegOpenKeyExW(HKCU, access, KEY_READ) as KEY_READ handle
rights.delete-subkey-through-read-only-handle RegDeleteKeyW(KEY_READ handle, "sub")
)rows",
    // Windows Installer: two made-up products registered the way Windows
    // Installer records a per-machine product, the second without a location.
    R"rows(
remove HKLM "Software\\Classes\\Installer\\Products\\87654321CBA90FED21436587A9CBED0F" "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\87654321CBA90FED21436587A9CBED0F"
remove HKLM "Software\\Classes\\Installer\\Products\\10FEDCBA54329876BADCFE1032547698" "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\10FEDCBA54329876BADCFE1032547698"
- RegCreateKeyExW(HKLM, "Software\\Classes\\Installer\\Products\\87654321CBA90FED21436587A9CBED0F", KEY_ALL_ACCESS|KEY_WOW64_64KEY) ProductName="Vexor conformance product"
- RegCreateKeyExW(HKLM, "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\87654321CBA90FED21436587A9CBED0F\\InstallProperties", KEY_ALL_ACCESS|KEY_WOW64_64KEY) InstallLocation="C:\\Program Files (x86)\\Crypto Pro\\CSP\\" DisplayName="Vexor conformance product"
- RegCreateKeyExW(HKLM, "Software\\Classes\\Installer\\Products\\10FEDCBA54329876BADCFE1032547698", KEY_ALL_ACCESS|KEY_WOW64_64KEY)
- RegCreateKeyExW(HKLM, "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\10FEDCBA54329876BADCFE1032547698\\InstallProperties", KEY_ALL_ACCESS|KEY_WOW64_64KEY) DisplayName="bare"
msi.unknown-product-size-query MsiGetProductInfoW("{00000000-1111-2222-3333-444444444444}", "InstallLocation", NULL, 0) | length
msi.unknown-product-with-buffer MsiGetProductInfoW("{00000000-1111-2222-3333-444444444444}", "InstallLocation", buffer, 64) | length buffer
msi.unknown-product-unknown-property MsiGetProductInfoW("{00000000-1111-2222-3333-444444444444}", "NoSuchProperty", NULL, 0) | length
msi.malformed-product-code MsiGetProductInfoW("not-a-product-code", "InstallLocation", NULL, 0) | length
msi.product-code-without-braces MsiGetProductInfoW("12345678-9ABC-DEF0-1234-56789ABCDEF0", "InstallLocation", NULL, 0) | length
msi.null-product-code MsiGetProductInfoW(NULL, "InstallLocation", NULL, 0) | length
msi.empty-product-code MsiGetProductInfoW("", "InstallLocation", NULL, 0) | length
msi.known-product-size-query MsiGetProductInfoW("{12345678-9ABC-DEF0-1234-56789ABCDEF0}", "InstallLocation", NULL, 0) | length
msi.known-product-buffer-with-room-for-terminator MsiGetProductInfoW("{12345678-9ABC-DEF0-1234-56789ABCDEF0}", "InstallLocation", buffer, 39) | length buffer
msi.known-product-buffer-without-room-for-terminator MsiGetProductInfoW("{12345678-9ABC-DEF0-1234-56789ABCDEF0}", "InstallLocation", buffer, 38) | length buffer
msi.known-product-buffer-of-zero MsiGetProductInfoW("{12345678-9ABC-DEF0-1234-56789ABCDEF0}", "InstallLocation", buffer, 0) | length buffer
msi.known-product-large-buffer MsiGetProductInfoW("{12345678-9ABC-DEF0-1234-56789ABCDEF0}", "InstallLocation", buffer, 100) | length buffer
msi.known-product-in-lower-case MsiGetProductInfoW("{12345678-9abc-def0-1234-56789abcdef0}", "InstallLocation", buffer, 100) | length buffer
msi.known-product-unknown-property MsiGetProductInfoW("{12345678-9ABC-DEF0-1234-56789ABCDEF0}", "NoSuchProperty", buffer, 100) | length buffer
msi.known-product-null-property MsiGetProductInfoW("{12345678-9ABC-DEF0-1234-56789ABCDEF0}", NULL, buffer, 100) | length buffer
msi.product-without-recorded-location MsiGetProductInfoW("{ABCDEF01-2345-6789-ABCD-EF0123456789}", "InstallLocation", buffer, 100) | length buffer
remove HKLM "Software\\Classes\\Installer\\Products\\87654321CBA90FED21436587A9CBED0F" "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\87654321CBA90FED21436587A9CBED0F"
remove HKLM "Software\\Classes\\Installer\\Products\\10FEDCBA54329876BADCFE1032547698" "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\10FEDCBA54329876BADCFE1032547698"
)rows",
    // Delete-at-restart: MoveFileExW queues the deletion in the registry.
    R"rows(
write-file present.dll
# A fresh simulated host has no such key until something is queued.
- RegOpenKeyExW(HKLM, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", KEY_ALL_ACCESS) as session-manager
- RegDeleteValueW(session-manager, "PendingFileRenameOperations")
movefile.delete-present-file-at-restart MoveFileExW(...present.dll, NULL, 4) | outcome
movefile.delete-missing-file-at-restart MoveFileExW(...missing.dll, NULL, 4) | outcome
movefile.delay-with-copy-allowed-is-refused MoveFileExW(...present.dll, NULL, 6) | outcome
- RegOpenKeyExW(HKLM, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", KEY_READ) as HKLM\...\Session Manager
movefile.records-pending-operations RegQueryValueExW(HKLM\...\Session Manager, "PendingFileRenameOperations") | pending
delete-file present.dll
)rows",
};

const int conformanceTableCount = int(sizeof conformanceTables / sizeof conformanceTables[0]);
