// Reads the scenario tables and runs them. A row is
//
//     label Call(arguments) [= data] [| words...] [name="text"...] [as name, name]
//
// and prints "label Call(arguments) -> result | what the words show". A row
// labelled "-" is a set-up step: not printed, not timed, not counted.
//
//   arguments  as printed. A key is a handle name: HKCU, HKLM, NULL or one
//              kept with "as". A name or path is "quoted" (with \\, \" and
//              \uXXXX), NULL, c*N (N copies of c), LxN (L levels of N
//              letters) or an alias. Rights are KEY_* names or numbers joined
//              by |. Left-out arguments take the usual values; perform() lists
//              the forms each call understands.
//   = data     "text" and c*N (UTF-16 with a terminator), bytes in two
//              hexadecimal digits, "pattern N" (N bytes unlike their
//              neighbours). Without a type RegSetValueExW writes text as REG_SZ.
//   | words    what to print after the result, arguments after colons; piece()
//              lists them. "round-trip" after RegSetValueExW(KEY, NAME...) prints
//              the row as label.set and adds label.read RegQueryValueExW(KEY, NAME).
//   name="text" REG_SZ values written into the key just opened or created.
//   as         keeps that key under the names given instead of closing it.
//              Kept keys still open at the end of the table are closed then.
//
// Other rows: "remove KEY PATH..." removes trees; "alias NAME PATH";
// "write-file NAME" and "delete-file NAME" in the files folder; "each A B C"
// runs the rows indented by four spaces under it once per item, with %
// replaced by the item.

#include "Conformance.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;
using WString = std::basic_string<WCHAR>;

// Out-parameters and buffers start out holding these, so that what a call
// left alone shows.
const HKEY untouchedKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xbdbdbdbd));
constexpr BYTE untouchedByte = 0xbd;
constexpr WCHAR untouchedUnit = 0xbdbd;
constexpr DWORD untouched = 0xbdbd;
const WCHAR noSubkey[] = {0};

// One row's call: its arguments as written and what came back.
struct Call
{
    std::string function;
    Words args;
    HKEY key = nullptr, opened = untouchedKey;
    LONG result = ERROR_SUCCESS;
    DWORD disposition = 0, type = untouched, size = 0, length = 0, info[5] = {};
    std::vector<BYTE> bytes;                                           // the data read back
    bool pastData = false;                                             // the read wrote past it
    std::vector<WCHAR> units = std::vector<WCHAR>(128, untouchedUnit); // a name or text buffer
    std::string outcome; // what the call's own arguments describe, formatted by perform()
};

// The run. Checks are printed, counted and, in timing mode, timed.
bool timing = false, checking = false;
int checks = 0;
std::string filesFolder; // ends with the platform's separator
std::map<std::string, HKEY> handles;
std::set<HKEY> closed; // kept keys closed already, and the roots: not to be closed again
std::map<std::string, WString> aliases;
std::vector<BYTE> written; // what the last RegSetValueExW wrote

// Splits at separator outside double quotes, where a backslash escapes the
// next character; drops empty pieces.
Words split(const std::string& line, const std::string& separator)
{
    Words words(1);
    for (size_t i = 0, quoted = 0; i < line.size(); ++i) {
        if (!quoted && line.compare(i, separator.size(), separator) == 0) {
            words.emplace_back();
            i += separator.size() - 1;
            continue;
        }
        quoted ^= line[i] == '"';
        if (quoted && line[i] == '\\')
            words.back() += line[i++];
        words.back() += line[i];
    }
    words.erase(std::remove(words.begin(), words.end(), std::string()), words.end());
    return words;
}

std::string code(long result)
{
    static const std::map<long, std::string> names = {
        {2, "FILE_NOT_FOUND"},     {3, "PATH_NOT_FOUND"},     {5, "ACCESS_DENIED"},
        {6, "INVALID_HANDLE"},     {87, "INVALID_PARAMETER"}, {161, "BAD_PATHNAME"},
        {234, "MORE_DATA"},        {259, "NO_MORE_ITEMS"},    {998, "NOACCESS"},
        {1010, "BADKEY"},          {1018, "KEY_DELETED"},     {1020, "KEY_HAS_CHILDREN"},
        {1605, "UNKNOWN_PRODUCT"}, {1608, "UNKNOWN_PROPERTY"}};
    const auto found = names.find(result);
    return std::to_string(result) + (found == names.end() ? "" : " " + found->second);
}

const Words typeNames =
    split("REG_NONE REG_SZ REG_EXPAND_SZ REG_BINARY REG_DWORD "
          "REG_DWORD_BIG_ENDIAN REG_LINK REG_MULTI_SZ REG_RESOURCE_LIST "
          "REG_FULL_RESOURCE_DESCRIPTOR REG_RESOURCE_REQUIREMENTS_LIST REG_QWORD",
          " ");

std::string typeName(DWORD type)
{
    return type < typeNames.size() ? typeNames[type] : "type " + std::to_string(type);
}

DWORD parseType(const std::string& word) // a name above, or "type N"
{
    const auto found = std::find(typeNames.begin(), typeNames.end(), word);
    return found != typeNames.end() ? DWORD(found - typeNames.begin())
                                    : DWORD(std::stoul(word.substr(5)));
}

std::string hex(const BYTE* bytes, size_t count)
{
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, i ? " %02x" : "%02x", bytes[i]);
        out += digits;
    }
    return out.empty() ? "(none)" : out;
}

// Printable ASCII as is, everything else as \uXXXX, so that both builds print
// the same bytes whatever their console encoding.
std::string text(const WCHAR* units, size_t count)
{
    std::string out = "\"";
    for (size_t i = 0; i < count; ++i) {
        const unsigned unit = static_cast<unsigned>(units[i]) & 0xffffu;
        char shown[8];
        std::snprintf(shown, sizeof shown,
                      unit == '\\' || unit == '"'   ? "\\%c"
                      : unit >= 0x20 && unit < 0x7f ? "%c"
                                                    : "\\u%04x",
                      unit);
        out += shown;
    }
    return out + "\"";
}

WString widen(const std::string& ascii)
{
    return WString(ascii.begin(), ascii.end());
}

struct Name
{
    bool null;
    WString units;
    const WCHAR* get() const { return null ? nullptr : units.c_str(); }
};

Name name(const std::string& word)
{
    Name out{word == "NULL", {}};
    const size_t cross = word.find('x');
    if (word[0] == '"') {
        for (size_t i = 1; i + 1 < word.size(); ++i) {
            const bool unicode = word[i] == '\\' && word[++i] == 'u';
            out.units += unicode ? WCHAR(std::stoul(word.substr(i + 1, 4), nullptr, 16))
                                 : WCHAR(static_cast<unsigned char>(word[i]));
            i += unicode ? 4 : 0;
        }
    } else if (word.size() > 2 && word[1] == '*') {
        out.units.assign(std::stoul(word.substr(2)), WCHAR(word[0]));
    } else if (word[0] >= '1' && word[0] <= '9' && cross != std::string::npos) {
        for (unsigned long level = 0; level < std::stoul(word); ++level)
            out.units += (level ? widen("\\") : WString()) +
                         WString(std::stoul(word.substr(cross + 1)), WCHAR('a' + level));
    } else if (!out.null) {
        out.units = aliases.count(word) ? aliases[word] : widen(word);
    }
    return out;
}

std::vector<BYTE> bytes(const Words& items)
{
    std::vector<BYTE> out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] == "pattern") {
            for (size_t at = 0, count = std::stoul(items.at(++i)); at < count; ++at)
                out.push_back(BYTE((at * 7 + 3) & 0xff));
        } else if (items[i].size() == 2 && items[i][0] != '"') {
            out.push_back(BYTE(std::stoul(items[i], nullptr, 16)));
        } else {
            for (WCHAR unit : name(items[i]).units + WCHAR(0))
                out.insert(out.end(), {BYTE(unit & 0xff), BYTE((unit >> 8) & 0xff)});
        }
    }
    return out;
}

REGSAM rights(const std::string& word)
{
    static const std::map<std::string, REGSAM> names = {
        {"KEY_ALL_ACCESS", KEY_ALL_ACCESS},
        {"KEY_READ", KEY_READ},
        {"KEY_QUERY_VALUE", KEY_QUERY_VALUE},
        {"KEY_SET_VALUE", KEY_SET_VALUE},
        {"KEY_WOW64_64KEY", KEY_WOW64_64KEY},
        {"KEY_WOW64_32KEY", KEY_WOW64_32KEY},
        {"KEY_ENUMERATE_SUB_KEYS", KEY_ENUMERATE_SUB_KEYS}};
    REGSAM out = 0;
    for (const std::string& part : split(word, "|"))
        out |= names.count(part) ? names.at(part) : REGSAM(std::stoul(part, nullptr, 0));
    return out;
}

// Removes path below parent with everything under it; quiet when missing.
void removeTree(HKEY parent, const WString& path)
{
    HKEY key = nullptr;
    // The path named, in either kind of program: Wow6432Node is named.
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return;
    // Always the child at index 0, as each pass removes the one it found.
    for (int guard = 0; guard < 1000; ++guard) {
        WCHAR child[512];
        DWORD length = 512;
        if (RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) != 0)
            break;
        removeTree(key, WString(child, length));
    }
    RegCloseKey(key);
    RegDeleteKeyExW(parent, path.c_str(), KEY_WOW64_64KEY, 0);
}

// The REG_SZ value of the key, read through a handle opened anew.
std::string readText(HKEY parent, const WString& value)
{
    HKEY key = nullptr;
    WCHAR buffer[256] = {};
    DWORD size = sizeof(buffer) - sizeof(WCHAR), type = 0;
    LONG result = RegOpenKeyExW(parent, noSubkey, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
        return "open " + code(result);
    result = RegQueryValueExW(key, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                              &size);
    RegCloseKey(key);
    size_t units = size / sizeof(WCHAR);
    while (units > 0 && buffer[units - 1] == 0)
        --units;
    return result == ERROR_SUCCESS ? text(buffer, units) : "query " + code(result);
}

// The queued file operations, each path cut to its last element so that the
// hosts' different folder layouts compare: "\??\…present.dll", "" for a
// deletion. Every zero unit ends one string, the list's closing ones too.
std::string pendingOperations(const std::vector<BYTE>& bytes)
{
    std::string out;
    WString entry;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        if (const WCHAR unit = WCHAR(bytes[i] | bytes[i + 1] << 8)) {
            entry += unit;
            continue;
        }
        size_t cut = entry.size();
        while (cut > 0 && entry[cut - 1] != '\\' && entry[cut - 1] != '/')
            --cut;
        const std::string prefix = entry.rfind(widen("\\??\\"), 0) == 0 ? "\\??\\..." : "...";
        out += (out.empty() ? "" : " ") +
               (entry.empty() ? "\"\"" : prefix + text(entry.data() + cut, entry.size() - cut));
        entry.clear();
    }
    return "[" + out + "]";
}

// Asks for the size, then reads into a buffer 8 bytes larger filled with a
// marker, to see whether the call writes past the data.
void readBack(Call& c, const Name& value)
{
    DWORD size = 0;
    const auto query = [&](BYTE* data, DWORD* given) {
        return RegQueryValueExW(c.key, value.get(), nullptr, &c.type, data, given);
    };
    c.type = untouched;
    if ((c.result = query(nullptr, &size)) != ERROR_SUCCESS)
        return;
    std::vector<BYTE> buffer(size + 8, untouchedByte);
    c.size = DWORD(buffer.size());
    if ((c.result = query(buffer.data(), &c.size)) != ERROR_SUCCESS)
        return;
    c.bytes.assign(buffer.begin(), buffer.begin() + c.size);
    c.pastData = std::any_of(buffer.begin() + c.size, buffer.end(),
                             [](BYTE byte) { return byte != untouchedByte; });
}

LONG enumerate(const Call& c, DWORD index, WCHAR* name, DWORD* length, DWORD* type = nullptr,
               BYTE* data = nullptr, DWORD* size = nullptr)
{
    return c.function == "RegEnumValueW"
               ? RegEnumValueW(c.key, index, name, length, nullptr, type, data, size)
               : RegEnumKeyExW(c.key, index, name, length, nullptr, nullptr, nullptr, nullptr);
}

// Every index from 0 until the end: the names, with type and data after
// "0.., data", and in *end the result that ended the walk.
Words walk(const Call& c, LONG* end)
{
    Words entries;
    const bool withData = c.args.size() > 2;
    for (DWORD index = 0;; ++index) {
        WCHAR name[300];
        BYTE data[64];
        DWORD length = 300, type = 0, size = sizeof data;
        *end = enumerate(c, index, name, &length, withData ? &type : nullptr,
                         withData ? data : nullptr, withData ? &size : nullptr);
        if (*end != ERROR_SUCCESS)
            return entries;
        entries.push_back(text(name, length) +
                          (withData ? ":" + typeName(type) + ":" + hex(data, size) : ""));
    }
}

// The calls and the forms of their arguments that the rows use.
void perform(Call& c, const Words& data)
{
    const Words& a = c.args;
    const std::string& f = c.function;
    const Name second = name(a.size() > 1 ? a[1] : "");
    if (f.rfind("Reg", 0) == 0)
        c.key = handles.at(a[0]);
    if (f == "MsiGetProductInfoW") { // (product, property, buffer or NULL, length)
        const Name product = name(a[0]);
        WCHAR* buffer = a[2] == "NULL" ? nullptr : c.units.data();
        c.length = DWORD(std::stoul(a[3]));
        c.result = LONG(MsiGetProductInfoW(product.get(), second.get(), buffer, &c.length));
    } else if (f == "MoveFileExW") { // (...NAME in the files folder, NULL, flags)
        const std::string path = filesFolder + a[0].substr(3);
        const DWORD flags = DWORD(std::stoul(a[2]));
        c.result = MoveFileExW(widen(path).c_str(), nullptr, flags) != 0;
        const std::string refused = "refused, GetLastError " + code(c.result ? 0 : GetLastError());
        std::FILE* file = std::fopen(path.c_str(), "rb");
        c.outcome = (c.result ? "accepted" : refused) + (file ? ", file still there" : ", no file");
        if (file)
            std::fclose(file);
    } else if (f == "RegOpenKeyExW" || f == "RegCreateKeyExW") {
        // (key, path[, rights[, NULL: no result pointer, or REG_OPTION_VOLATILE]])
        const bool open = f == "RegOpenKeyExW";
        const REGSAM wanted = a.size() > 2 ? rights(a[2]) : open ? KEY_READ : KEY_ALL_ACCESS;
        const bool isVolatile = a.size() > 3 && a[3] == "REG_OPTION_VOLATILE";
        HKEY* out = a.size() > 3 && !isVolatile ? nullptr : &c.opened;
        c.result = open
                       ? RegOpenKeyExW(c.key, second.get(), 0, wanted, out)
                       : RegCreateKeyExW(c.key, second.get(), 0, nullptr,
                                         isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
                                         wanted, nullptr, out, &c.disposition);
    } else if (f == "RegCloseKey" || f == "RegDeleteKeyW" || f == "RegDeleteValueW") {
        if (f == "RegCloseKey")
            closed.insert(c.key);
        c.result = f == "RegCloseKey"     ? RegCloseKey(c.key)
                   : f == "RegDeleteKeyW" ? RegDeleteKeyW(c.key, second.get())
                                          : RegDeleteValueW(c.key, second.get());
    } else if (f == "RegDeleteKeyExW") { // (key, name, view flags)
        c.result = RegDeleteKeyExW(c.key, second.get(), rights(a[2]), 0);
    } else if (f == "RegSetValueExW") {
        // (key, name[, type, or NULL for no data[, size]]); the size, as "N
        // bytes" after any quoted text, may leave data unwritten.
        const std::vector<BYTE> buffer = bytes(data);
        const bool text = !data.empty() && (data[0][0] == '"' || data[0][1] == '*');
        const bool noData = a.size() > 2 && a[2] == "NULL";
        const DWORD type = a.size() > 2 && !noData ? parseType(a[2]) : text ? REG_SZ : REG_BINARY;
        const size_t count =
            a.size() > 3 ? std::stoul(a[3].substr(a[3].rfind('"') + 1)) : buffer.size();
        if (count > buffer.size())
            throw std::out_of_range("fewer bytes than the size given for " + a[1]);
        written.assign(buffer.begin(), buffer.begin() + count);
        c.result = RegSetValueExW(c.key, second.get(), 0, type, noData ? nullptr : buffer.data(),
                                  DWORD(count));
    } else if (f == "RegQueryValueExW" && a.size() > 2 && a[2] == "reserved=&") {
        DWORD reserved = 0, size = 64;
        BYTE buffer[64];
        c.result = RegQueryValueExW(c.key, second.get(), &reserved, nullptr, buffer, &size);
    } else if (f == "RegQueryValueExW" && a.size() > 4) { // type=&|NULL, data=&|NULL, size=N|NULL
        const bool withType = a[2] == "type=&", withData = a[3] == "data=&";
        const bool withSize = a[4] != "size=NULL";
        std::vector<BYTE> buffer(64, untouchedByte);
        c.size = withSize ? DWORD(std::stoul(a[4].substr(5))) : 0;
        c.result =
            RegQueryValueExW(c.key, second.get(), nullptr, withType ? &c.type : nullptr,
                             withData ? buffer.data() : nullptr, withSize ? &c.size : nullptr);
        size_t touched = buffer.size();
        while (touched > 0 && buffer[touched - 1] == untouchedByte)
            --touched;
        c.outcome = (withType ? c.type == untouched ? "type unchanged" : typeName(c.type) : "") +
                    (withSize ? " size=" + std::to_string(c.size) : "");
        if (withData)
            c.outcome += touched ? " data " + hex(buffer.data(), touched) : " buffer untouched";
    } else if (f == "RegQueryValueExW") { // (key, name[, NULL]): read back whole
        readBack(c, second);
    } else if (f == "RegQueryInfoKeyW") { // (key[, all NULL])
        DWORD* asked[5] = {};
        for (int i = 0; i < 5; ++i)
            asked[i] = a.size() > 1 ? nullptr : &c.info[i];
        c.result = RegQueryInfoKeyW(c.key, nullptr, nullptr, nullptr, asked[0], asked[1], nullptr,
                                    asked[2], asked[3], asked[4], nullptr, nullptr);
    } else if (a[1] != "0..") { // (key, N[, data size=N]) or (key, index of NAME, length=N)
        const bool byName = a[1].rfind("index of ", 0) == 0;
        const bool withData = a.size() > 2 && a[2].rfind("data size=", 0) == 0;
        std::vector<BYTE> buffer(128, untouchedByte);
        DWORD index = byName ? 0 : DWORD(std::stoul(a[1]));
        for (WCHAR found[16]; byName && index < 5; ++index) { // the hosts' orders differ
            DWORD length = 16;
            if (enumerate(c, index, found, &length) == 0 &&
                WString(found, length) == name(a[1].substr(9)).units)
                break;
        }
        c.length = byName ? DWORD(std::stoul(a[2].substr(7))) : withData ? 16 : 32;
        c.size = withData ? DWORD(std::stoul(a[2].substr(10))) : 0;
        c.result = enumerate(c, index, c.units.data(), &c.length, withData ? &c.type : nullptr,
                             withData ? buffer.data() : nullptr, withData ? &c.size : nullptr);
    } // (key, 0..[, data]): the words after | walk the key
}

// What one word after | prints; an empty piece prints nothing.
std::string piece(Call& c, const Words& word)
{
    const std::string& w = word[0];
    const bool failed = c.result != ERROR_SUCCESS;
    const std::string handle = c.opened == untouchedKey ? "unchanged"
                               : c.opened               ? "handle"
                                                        : "null";
    const size_t filled =
        std::find(c.units.begin(), c.units.end(), untouchedUnit) - c.units.begin();
    if (w == "handle")
        return handle;
    if (w == "new") // another handle than the one opened from
        return c.opened == c.key ? "same handle" : "new handle";
    if (w == "root") // a predefined root handed back as itself
        return c.opened == c.key ? "the root itself" : handle;
    if (w == "disposition")
        return failed                                 ? ""
               : c.disposition == REG_CREATED_NEW_KEY ? "REG_CREATED_NEW_KEY"
               : c.disposition == REG_OPENED_EXISTING_KEY
                   ? "REG_OPENED_EXISTING_KEY"
                   : "disposition " + std::to_string(c.disposition);
    if (w == "where" || w == "view") // the value that names the key reached
        return failed ? "" : w + "=" + readText(c.opened, widen(w));
    if (w == "text") // the value named by the call, through a handle of its own
        return failed ? "" : readText(c.key, name(c.args[1]).units);
    if (w == "readback" && c.function == "RegSetValueExW") // reads it, or the one named, back
        readBack(c, name(word.size() > 1 ? word[1] : c.args[1]));
    const std::string read = typeName(c.type) + " size=" + std::to_string(c.size);
    if (w == "readback" || w == "type-size" || w == "same-bytes" || w == "pending") {
        if (c.result != ERROR_SUCCESS)
            return "";
        if (w == "readback")
            return read + " " + hex(c.bytes.data(), c.bytes.size()) +
                   (c.pastData ? " (wrote past the data)" : "");
        if (w == "same-bytes") // as the last RegSetValueExW wrote them
            return read + (c.bytes == written ? " same bytes" : " different bytes");
        return w == "pending" ? typeName(c.type) + " " + pendingOperations(c.bytes) : read;
    }
    if (w == "info")
        return failed ? ""
                      : "subkeys=" + std::to_string(c.info[0]) +
                            " longestSubkey=" + std::to_string(c.info[1]) +
                            " values=" + std::to_string(c.info[2]) +
                            " longestValueName=" + std::to_string(c.info[3]) +
                            " longestValue=" + std::to_string(c.info[4]);
    if (w == "length" || w == "size" || w == "type")
        return w + "=" +
               (w == "type" ? typeName(c.type) : std::to_string(w == "size" ? c.size : c.length));
    if (w == "buffer" || w == "name-buffer") // the units written into it
        return filled          ? "buffer=" + text(c.units.data(), filled)
               : w == "buffer" ? "buffer untouched"
                               : "buffer=untouched";
    if (w == "exists") { // exists:[KEY:]PATH, opened from KEY or else from the call's key
        HKEY parent = word.size() > 2 ? handles.at(word[1]) : c.key, key = nullptr;
        const LONG result = RegOpenKeyExW(parent, name(word.back()).get(), 0, KEY_READ, &key);
        if (result == ERROR_SUCCESS)
            RegCloseKey(key);
        return word.back() + " " + (result == ERROR_SUCCESS ? "present" : "open " + code(result));
    }
    if (w == "query-after" || w == "value") { // the value named by the call, or value:NAME of
        DWORD size = 0;                       // the key just opened
        const bool after = w == "query-after";
        return (after ? "query after " : "value " + word[1] + " ") +
               code(RegQueryValueExW(after ? c.key : c.opened,
                                     name(after ? c.args[1] : word[1]).get(), nullptr, nullptr,
                                     nullptr, &size));
    }
    if (w == "outcome" || w == "round-trip") // round-trip: runRow() reads the value back
        return w == "outcome" ? c.outcome : "";
    // A walk over every index. "order" and "sorted" check how it ended too;
    // "names" and "lists:NAME" only report what is there.
    LONG end = 0;
    Words entries = walk(c, &end);
    if (w == "order" || w == "sorted")
        c.result = end;
    else if (end != ERROR_NO_MORE_ITEMS)
        entries.push_back("error " + code(end));
    if (w != "order")
        std::sort(entries.begin(), entries.end());
    if (w == "lists")
        return word.at(1).substr(1, word[1].size() - 2) +
               (std::count(entries.begin(), entries.end(), word[1]) ? " listed" : " not listed");
    if (w != "order" && w != "sorted" && w != "names")
        throw std::out_of_range("no word " + w);
    std::string out;
    for (const std::string& entry : entries)
        out += (out.empty() ? "" : " ") + entry;
    return "[" + out + "]";
}

void runRow(const std::string& row)
{
    const Words words = split(row, " ");
    const std::string& first = words[0];
    const std::string file = filesFolder + (words.size() > 1 ? words[1] : "");
    if (first == "remove") {
        for (size_t i = 2; i < words.size(); ++i)
            removeTree(handles.at(words[1]), name(words[i]).units);
        return;
    }
    if (first == "alias") {
        aliases[words[1]] = name(words[2]).units;
        return;
    }
    if (first == "write-file" || first == "delete-file") {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(filesFolder), ignored);
        std::remove(file.c_str());
        if (std::FILE* out = first == "write-file" ? std::fopen(file.c_str(), "wb") : nullptr) {
            std::fputs("module", out);
            std::fclose(out);
        }
        return;
    }
    // The call ends with the first word that ends in ")".
    checking = first != "-";
    size_t last = 1;
    while (words.at(last).back() != ')')
        ++last;
    std::string call = words[1];
    for (size_t i = 2; i <= last; ++i)
        call += " " + words[i];
    Call c;
    c.function = call.substr(0, call.find('('));
    c.args = split(call.substr(c.function.size() + 1, call.size() - c.function.size() - 2), ", ");
    Words data, shown, values, kept;
    for (size_t i = last + 1, inData = 0; i < words.size() && words[i] != "as"; ++i) {
        if (words[i] == "=" || words[i] == "|")
            inData = words[i] == "=";
        else
            (inData                                      ? data
             : words[i].find("=\"") != std::string::npos ? values
                                                         : shown)
                .push_back(words[i]);
    }
    if (std::find(words.begin(), words.end(), "as") != words.end())
        kept = split(row.substr(row.rfind(" as ") + 4), ", ");
    // Timed: the call and what its words read back, a walk among them. In
    // timing mode a check row prints "API nanoseconds"; the benchmark sums up.
    const auto start = std::chrono::steady_clock::now();
    perform(c, data);
    std::string returned;
    for (const std::string& word : shown) {
        const std::string shows = piece(c, split(word, ":"));
        returned += (returned.empty() || shows.empty() ? "" : " ") + shows;
    }
    const auto took = std::chrono::steady_clock::now() - start;
    if (timing && checking) // the count as text: not every C runtime reads %lld
        std::printf("%s %s\n", c.function.c_str(),
                    std::to_string(std::chrono::nanoseconds(took).count()).c_str());
    const bool opened =
        c.result == 0 && (c.function == "RegOpenKeyExW" || c.function == "RegCreateKeyExW");
    for (const std::string& value : opened ? values : Words()) {
        const size_t equals = value.find("=\"");
        const std::vector<BYTE> data = bytes({value.substr(equals + 1)});
        RegSetValueExW(c.opened, name(value.substr(0, equals)).get(), 0, REG_SZ, data.data(),
                       DWORD(data.size()));
    }
    for (const std::string& keep : kept)
        handles[keep] = c.result ? nullptr : c.opened;
    if (opened && !kept.empty())
        closed.erase(c.opened);
    else if (opened && c.opened != c.key)
        RegCloseKey(c.opened);
    const bool roundTrip = std::count(shown.begin(), shown.end(), "round-trip") > 0;
    checks += checking;
    if (checking && !timing) {
        std::printf("%s%s %s -> %s%s\n", first.c_str(), roundTrip ? ".set" : "", call.c_str(),
                    code(c.result).c_str(), returned.empty() ? "" : (" | " + returned).c_str());
        std::fflush(stdout); // what was printed survives a crash in the next call
    }
    if (roundTrip) // the value read back, as a second check
        runRow(first + ".read RegQueryValueExW(" + c.args[0] + ", " + c.args[1] + ") | readback");
}

void runTable(const char* table)
{
    handles = {{"HKCU", HKEY_CURRENT_USER}, {"HKLM", HKEY_LOCAL_MACHINE}, {"NULL", nullptr}};
    closed = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, nullptr};
    aliases.clear();
    std::istringstream stream(table);
    Words lines;
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    for (size_t i = 0; i < lines.size(); ++i) {
        const bool each = lines[i].rfind("each ", 0) == 0;
        Words items = each ? split(lines[i].substr(5), " ") : Words{""}, body;
        while (each && i + 1 < lines.size() && lines[i + 1].rfind("    ", 0) == 0)
            body.push_back(lines[++i].substr(4));
        if (!each && !lines[i].empty() && lines[i][0] != '#')
            body.push_back(lines[i]);
        for (const std::string& item : items) {
            for (std::string row : body) {
                for (size_t at = row.find('%'); each && at != std::string::npos;
                     at = row.find('%', at + item.size()))
                    row.replace(at, 1, item);
                try {
                    runRow(row);
                } catch (const std::exception& error) { // a row the runner cannot read
                    throw std::runtime_error(row + ": " + error.what());
                }
            }
        }
    }
    for (const auto& kept : handles) {
        if (closed.insert(kept.second).second)
            RegCloseKey(kept.second);
    }
}

} // namespace

int runConformance(int argc, char** argv)
{
    const int next = argc > 2 && std::string(argv[1]) == "--time" ? 3 : 1;
    const int rounds = next == 3 ? std::atoi(argv[2]) : 1;
    if (next >= argc || rounds < 1) {
        std::fprintf(stderr, "usage: %s [--time ROUNDS] FILES_FOLDER\n", argv[0]);
        return 2;
    }
    timing = next == 3;
    filesFolder = argv[next];
    Words tables;
    std::istringstream scenarios(conformanceScenarios);
    for (std::string line; std::getline(scenarios, line);) {
        if (line.rfind("== ", 0) == 0)
            tables.push_back(std::string());
        else if (!tables.empty())
            tables.back() += line + '\n';
    }
    for (int round = 0; round < rounds; ++round) {
        for (size_t table = 0; table < tables.size(); ++table) {
            try {
                runTable(tables[table].c_str());
            } catch (const std::exception& error) {
                std::fprintf(stderr, "table %d, row %s\n", int(table) + 1, error.what());
                return 2;
            }
        }
    }
    if (!timing)
        std::printf("end %d checks\n", checks);
    std::fflush(stdout);
    return 0;
}
