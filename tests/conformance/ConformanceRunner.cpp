// Reads the scenario tables and runs them. What a row may say:
//
//   Call arguments, as printed: a key is a handle name (HKCU, HKLM, NULL or
//   one kept with "as"); a name or path is "quoted" (\\, \" and \uXXXX),
//   NULL, c*N (N copies of c), LxN (L levels of N letters) or an alias, which
//   may be followed by \more\levels; rights are KEY_* names or numbers joined
//   by |. Omitted trailing arguments take the usual values.
//   = data      "text" or c*N (UTF-16 with its terminator), hexadecimal bytes,
//               "pattern N" (N bytes unlike their neighbours); a
//               RegSetValueExW without a type writes REG_SZ for text.
//   | words     what to print after the result; see show() below.
//   name="text" REG_SZ values written into the key just opened or created.
//   as a, b     keeps the key just opened under these names; otherwise it is
//               closed. Keys still kept are closed at the end of the table.
//
// Other rows: "remove KEY [VIEW] PATH..." removes trees, "alias NAME PATH",
// "write-file NAME" and "delete-file NAME" in the files folder, and
// "each A B C" followed by rows indented by four spaces, run once per item
// with % replaced by it.

#include "Conformance.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <numeric>
#include <set>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;
using WString = std::basic_string<WCHAR>;

// Buffers and out-parameters start with these, so that what a call left
// alone shows.
const HKEY untouchedKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0xbdbdbdbd));
constexpr BYTE untouchedByte = 0xbd;
constexpr WCHAR untouchedUnit = 0xbdbd;
constexpr DWORD untouchedNumber = 0xbdbd;
const WCHAR noSubkey[] = {0};

[[noreturn]] void fail(const std::string& message)
{
    std::fprintf(stderr, "conformance tables: %s\n", message.c_str());
    std::exit(2);
}

std::string code(long result)
{
    static const std::map<long, const char*> names = {
        {2, "FILE_NOT_FOUND"},     {3, "PATH_NOT_FOUND"},     {5, "ACCESS_DENIED"},
        {6, "INVALID_HANDLE"},     {87, "INVALID_PARAMETER"}, {161, "BAD_PATHNAME"},
        {234, "MORE_DATA"},        {259, "NO_MORE_ITEMS"},    {998, "NOACCESS"},
        {1010, "BADKEY"},          {1018, "KEY_DELETED"},     {1020, "KEY_HAS_CHILDREN"},
        {1605, "UNKNOWN_PRODUCT"}, {1608, "UNKNOWN_PROPERTY"}};
    const auto found = names.find(result);
    return std::to_string(result) + (found == names.end() ? "" : std::string(" ") + found->second);
}

const char* const typeNames[] = {"REG_NONE",
                                 "REG_SZ",
                                 "REG_EXPAND_SZ",
                                 "REG_BINARY",
                                 "REG_DWORD",
                                 "REG_DWORD_BIG_ENDIAN",
                                 "REG_LINK",
                                 "REG_MULTI_SZ",
                                 "REG_RESOURCE_LIST",
                                 "REG_FULL_RESOURCE_DESCRIPTOR",
                                 "REG_RESOURCE_REQUIREMENTS_LIST",
                                 "REG_QWORD"};
constexpr DWORD typeCount = sizeof typeNames / sizeof typeNames[0];

std::string typeName(DWORD type)
{
    return type < typeCount ? typeNames[type] : "type " + std::to_string(type);
}

std::string hex(const BYTE* bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; ++i)
        out += std::string(i ? " " : "") + digits[bytes[i] >> 4] + digits[bytes[i] & 0xf];
    return out.empty() ? "(none)" : out;
}

// Printable ASCII as is; everything else as \uXXXX so that both builds print
// the same bytes whatever their console encoding.
std::string text(const WCHAR* units, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (size_t i = 0; i < count; ++i) {
        const unsigned unit = static_cast<unsigned>(units[i]) & 0xffffu;
        if (unit == '\\' || unit == '"')
            out += '\\';
        if (unit >= 0x20 && unit < 0x7f) {
            out += static_cast<char>(unit);
            continue;
        }
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += digits[(unit >> shift) & 0xf];
    }
    return out + "\"";
}

WString widen(const std::string& ascii)
{
    return WString(ascii.begin(), ascii.end());
}

std::vector<BYTE> utf16(const WString& units)
{
    std::vector<BYTE> bytes;
    for (WCHAR unit : units) {
        bytes.push_back(BYTE(unit & 0xff));
        bytes.push_back(BYTE((unit >> 8) & 0xff));
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

std::string joined(const Words& words)
{
    std::string out;
    for (const std::string& word : words)
        out += (out.empty() ? "" : " ") + word;
    return "[" + out + "]";
}

// Splits at separator outside double quotes, where a backslash escapes the
// next character; pieces are trimmed and empty ones dropped.
Words split(const std::string& line, char separator)
{
    Words words;
    std::string word;
    bool quoted = false;
    for (size_t i = 0; i <= line.size(); ++i) {
        if (i == line.size() || (line[i] == separator && !quoted)) {
            const size_t first = word.find_first_not_of(' ');
            if (first != std::string::npos)
                words.push_back(word.substr(first, word.find_last_not_of(' ') - first + 1));
            word.clear();
            continue;
        }
        if (line[i] == '"')
            quoted = !quoted;
        else if (quoted && line[i] == '\\' && i + 1 < line.size())
            word += line[i++];
        word += line[i];
    }
    return words;
}

REGSAM parseRights(const std::string& word)
{
    static const std::map<std::string, REGSAM> names = {
        {"KEY_ALL_ACCESS", KEY_ALL_ACCESS},
        {"KEY_READ", KEY_READ},
        {"KEY_QUERY_VALUE", KEY_QUERY_VALUE},
        {"KEY_SET_VALUE", KEY_SET_VALUE},
        {"KEY_ENUMERATE_SUB_KEYS", KEY_ENUMERATE_SUB_KEYS},
        {"KEY_WOW64_64KEY", KEY_WOW64_64KEY},
        {"KEY_WOW64_32KEY", KEY_WOW64_32KEY}};
    REGSAM rights = 0;
    for (const std::string& part : split(word, '|')) {
        const auto found = names.find(part);
        rights |= found != names.end() ? found->second : REGSAM(std::stoul(part, nullptr, 0));
    }
    return rights;
}

DWORD parseType(const std::string& word)
{
    for (DWORD type = 0; type < typeCount; ++type) {
        if (word == typeNames[type])
            return type;
    }
    return DWORD(std::stoul(word.substr(5))); // "type N"
}

struct Name
{
    bool null = false;
    WString units;
    const WCHAR* get() const { return null ? nullptr : units.c_str(); }
};

// One row's call: its arguments as written and everything that came back.
struct Call
{
    std::string function;
    Words args;
    HKEY key = nullptr; // the first argument, when it names a key
    HKEY opened = untouchedKey;
    LONG result = ERROR_SUCCESS;
    DWORD disposition = 0, type = untouchedNumber, size = 0, length = 0;
    DWORD info[5] = {};
    bool tailUntouched = true; // a read left the bytes past the data alone
    std::vector<BYTE> bytes;   // the data a read returned
    std::vector<WCHAR> units = std::vector<WCHAR>(128, untouchedUnit); // a name or text buffer
    std::string outcome;                                               // printed whole by "outcome"
};

class Runner
{
public:
    Runner(bool timing, const std::string& filesFolder) : timing(timing), filesFolder(filesFolder)
    {
    }

    void runTable(const char* table);
    void printTimings() const;
    int checkCount() const { return checks; }

private:
    void runRow(const std::string& row);
    void perform(Call& c, const Words& data);
    std::string show(Call& c, const Words& words);
    Name name(const std::string& word) const;
    std::vector<BYTE> bytes(const Words& items, bool* isText) const;
    HKEY handle(const std::string& name) const;
    void readBack(Call& c, HKEY key, const Name& value);
    LONG enumerate(const Call& c, DWORD index, WCHAR* name, DWORD* length, DWORD* type = nullptr,
                   BYTE* data = nullptr, DWORD* size = nullptr);
    Words walk(const Call& c, LONG* end);

    // Times the call in timing mode when it belongs to a check.
    template <typename Function> auto timed(const char* api, Function&& call) -> decltype(call())
    {
        const auto start = std::chrono::steady_clock::now();
        const auto result = call();
        const auto end = std::chrono::steady_clock::now();
        if (timing && checking)
            timings[api].push_back(
                std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
        return result;
    }

    const bool timing;
    const std::string filesFolder; // ends with the platform's separator
    bool checking = false;         // the row being run is a check, not a set-up step
    int checks = 0;
    std::map<std::string, HKEY> handles;
    std::set<HKEY> closed; // kept keys closed already, and the predefined roots
    std::map<std::string, WString> aliases;
    std::vector<BYTE> written;                             // the data of the last RegSetValueExW
    std::map<std::string, std::vector<long long>> timings; // nanoseconds per API
};

// Removes path below parent with everything under it; quiet when missing.
void removeTree(HKEY parent, const WString& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS)
        return;
    // Always the child at index 0: each pass removes the one it found.
    for (int guard = 0; guard < 100000; ++guard) {
        WCHAR child[512];
        DWORD length = 512;
        HKEY check = nullptr;
        if (RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        removeTree(key, WString(child, length), 0);
        if (RegOpenKeyExW(key, WString(child, length).c_str(), 0, KEY_READ, &check) ==
            ERROR_SUCCESS) {
            RegCloseKey(check);
            break;
        }
    }
    RegCloseKey(key);
    if (view == 0) {
        RegDeleteKeyW(parent, path.c_str());
        return;
    }
    // RegDeleteKeyW has no view flag: delete through a handle opened in the view.
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteKeyW(key, noSubkey);
        RegCloseKey(key);
    }
}

std::string presence(HKEY parent, const Name& path)
{
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(parent, path.get(), 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result == ERROR_SUCCESS ? "present" : "open " + code(result);
}

// The REG_SZ value of key, opened anew, as printed text.
std::string readText(HKEY parent, const WString& value)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(parent, noSubkey, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
        return "open " + code(result);
    WCHAR buffer[256] = {};
    DWORD size = sizeof(buffer) - sizeof(WCHAR);
    DWORD type = 0;
    result = RegQueryValueExW(key, value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                              &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return "query " + code(result);
    size_t units = size / sizeof(WCHAR);
    while (units > 0 && buffer[units - 1] == 0)
        --units;
    return text(buffer, units);
}

LONG sizeQuery(HKEY key, const Name& value)
{
    DWORD size = 0;
    return RegQueryValueExW(key, value.get(), nullptr, nullptr, nullptr, &size);
}

// The queued file operations, each path cut to its last element so that the
// hosts' different folder layouts compare: "\??\…present.dll", "" for a
// deletion. Every zero unit ends one string, the list's closing ones too.
std::string pendingOperations(const std::vector<BYTE>& bytes)
{
    std::string out;
    WString entry;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const WCHAR unit = WCHAR(bytes[i] | bytes[i + 1] << 8);
        if (unit != 0) {
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

Name Runner::name(const std::string& word) const
{
    Name out;
    const size_t cross = word.find('x');
    if (word == "NULL") {
        out.null = true;
    } else if (word[0] == '"') {
        for (size_t i = 1; i + 1 < word.size(); ++i) {
            if (word[i] == '\\' && word[++i] == 'u') {
                out.units += WCHAR(std::stoul(word.substr(i + 1, 4), nullptr, 16));
                i += 4;
            } else {
                out.units += WCHAR(static_cast<unsigned char>(word[i]));
            }
        }
    } else if (word.size() > 2 && word[1] == '*') {
        out.units = WString(std::stoul(word.substr(2)), WCHAR(word[0]));
    } else if (std::isdigit(static_cast<unsigned char>(word[0])) && cross != std::string::npos) {
        for (unsigned long level = 0; level < std::stoul(word); ++level)
            out.units += widen(level ? "\\" : "") +
                         WString(std::stoul(word.substr(cross + 1)), WCHAR('a' + level));
    } else {
        const size_t cut = word.find('\\');
        const auto alias = aliases.find(word.substr(0, cut));
        out.units = alias == aliases.end()
                        ? widen(word)
                        : alias->second + widen(cut == std::string::npos ? "" : word.substr(cut));
    }
    return out;
}

std::vector<BYTE> Runner::bytes(const Words& items, bool* isText) const
{
    std::vector<BYTE> out;
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string& item = items[i];
        if (item == "pattern") {
            for (size_t at = 0, count = std::stoul(items.at(++i)); at < count; ++at)
                out.push_back(BYTE((at * 7 + 3) & 0xff));
        } else if (item.size() == 2 && std::isxdigit(static_cast<unsigned char>(item[0])) &&
                   std::isxdigit(static_cast<unsigned char>(item[1]))) {
            out.push_back(BYTE(std::stoul(item, nullptr, 16)));
        } else {
            *isText = *isText || i == 0; // text first: the data is text
            const std::vector<BYTE> units = utf16(name(item).units);
            out.insert(out.end(), units.begin(), units.end());
        }
    }
    return out;
}

HKEY Runner::handle(const std::string& name) const
{
    const auto found = handles.find(name);
    if (found == handles.end())
        fail("no key named " + name);
    return found->second;
}

// Asks for the size, then reads into a buffer 8 bytes larger filled with a
// marker, which must still be there past the data.
void Runner::readBack(Call& c, HKEY key, const Name& value)
{
    DWORD size = 0;
    c.type = untouchedNumber;
    c.result = timed("RegQueryValueExW", [&] {
        return RegQueryValueExW(key, value.get(), nullptr, &c.type, nullptr, &size);
    });
    if (c.result != ERROR_SUCCESS)
        return;
    std::vector<BYTE> buffer(size + 8, untouchedByte);
    c.size = DWORD(buffer.size());
    c.result = timed("RegQueryValueExW", [&] {
        return RegQueryValueExW(key, value.get(), nullptr, &c.type, buffer.data(), &c.size);
    });
    if (c.result != ERROR_SUCCESS)
        return;
    c.tailUntouched = std::all_of(buffer.begin() + c.size, buffer.end(),
                                  [](BYTE byte) { return byte == untouchedByte; });
    c.bytes.assign(buffer.begin(), buffer.begin() + c.size);
}

LONG Runner::enumerate(const Call& c, DWORD index, WCHAR* name, DWORD* length, DWORD* type,
                       BYTE* data, DWORD* size)
{
    if (c.function == "RegEnumValueW") {
        return timed("RegEnumValueW", [&] {
            return RegEnumValueW(c.key, index, name, length, nullptr, type, data, size);
        });
    }
    return timed("RegEnumKeyExW", [&] {
        return RegEnumKeyExW(c.key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

// Every index from 0 until the end: the names (with type and data after
// "0.., data") and in *end the result that ended the walk.
Words Runner::walk(const Call& c, LONG* end)
{
    const bool withData = c.args.size() > 2;
    Words entries;
    for (DWORD index = 0; index < 100; ++index) {
        WCHAR name[300];
        BYTE data[64];
        DWORD length = 300, type = 0, size = sizeof data;
        *end = enumerate(c, index, name, &length, withData ? &type : nullptr,
                         withData ? data : nullptr, withData ? &size : nullptr);
        if (*end != ERROR_SUCCESS)
            break;
        entries.push_back(text(name, length) +
                          (withData ? ":" + typeName(type) + ":" + hex(data, size) : ""));
    }
    return entries;
}

void Runner::perform(Call& c, const Words& data)
{
    const Words& a = c.args;
    const std::string& f = c.function;
    const Name second = a.size() > 1 ? name(a[1]) : Name();
    if (f == "MsiGetProductInfoW") {
        c.length = DWORD(std::stoul(a[3]));
        const Name product = name(a[0]);
        WCHAR* buffer = a[2] == "NULL" ? nullptr : c.units.data();
        c.result = LONG(timed("MsiGetProductInfoW", [&] {
            return MsiGetProductInfoW(product.get(), second.get(), buffer, &c.length);
        }));
        return;
    }
    if (f == "MoveFileExW") {
        const std::string path = filesFolder + a[0].substr(3); // after "..."
        const DWORD flags = DWORD(std::stoul(a[2]));
        c.result = timed("MoveFileExW",
                         [&] { return MoveFileExW(widen(path).c_str(), nullptr, flags); }) != 0;
        const DWORD error = c.result ? 0 : GetLastError();
        std::FILE* still = std::fopen(path.c_str(), "rb");
        c.outcome = (c.result ? "accepted" : "refused, GetLastError " + code(long(error))) +
                    (still ? ", file still there" : ", no file");
        if (still)
            std::fclose(still);
        return;
    }
    c.key = handle(a[0]);
    if (f == "RegOpenKeyExW" || f == "RegCreateKeyExW") {
        const bool open = f == "RegOpenKeyExW";
        const REGSAM rights = a.size() > 2 ? parseRights(a[2]) : open ? KEY_READ : KEY_ALL_ACCESS;
        HKEY* out = a.size() > 3 ? nullptr : &c.opened; // a fourth argument: no result pointer
        c.result = timed(f.c_str(), [&] {
            return open ? RegOpenKeyExW(c.key, second.get(), 0, rights, out)
                        : RegCreateKeyExW(c.key, second.get(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          rights, nullptr, out, &c.disposition);
        });
    } else if (f == "RegCloseKey") {
        closed.insert(c.key);
        c.result = timed("RegCloseKey", [&] { return RegCloseKey(c.key); });
    } else if (f == "RegDeleteKeyW") {
        c.result = timed("RegDeleteKeyW", [&] { return RegDeleteKeyW(c.key, second.get()); });
    } else if (f == "RegDeleteValueW") {
        c.result = timed("RegDeleteValueW", [&] { return RegDeleteValueW(c.key, second.get()); });
    } else if (f == "RegSetValueExW") {
        // The size comes from the row ("N bytes", after any quoted text) and
        // may be less than the data: what follows it is there to be ignored.
        bool isText = false;
        const std::vector<BYTE> buffer = bytes(data, &isText);
        const bool nullData = a.size() > 2 && a[2] == "NULL";
        const DWORD type = a.size() > 2 && !nullData ? parseType(a[2])
                           : isText                  ? REG_SZ
                                                     : REG_BINARY;
        const size_t count =
            a.size() > 3 ? std::stoul(a[3].substr(a[3].rfind('"') + 1)) : buffer.size();
        if (count > buffer.size())
            fail("fewer bytes than the size given: " + f + " " + a[1]);
        written.assign(buffer.begin(), buffer.begin() + count);
        c.result = timed("RegSetValueExW", [&] {
            return RegSetValueExW(c.key, second.get(), 0, type, nullData ? nullptr : buffer.data(),
                                  DWORD(count));
        });
    } else if (f == "RegQueryValueExW" && a.size() > 2 && a[2] == "reserved=&") {
        DWORD reserved = 0, size = 64;
        BYTE buffer[64];
        c.result = timed("RegQueryValueExW", [&] {
            return RegQueryValueExW(c.key, second.get(), &reserved, nullptr, buffer, &size);
        });
    } else if (f == "RegQueryValueExW" && a.size() > 4) { // type=, data=, size=
        const bool withType = a[2] == "type=&", withData = a[3] == "data=&";
        const bool withSize = a[4] != "size=NULL";
        std::vector<BYTE> buffer(64, untouchedByte);
        c.size = withSize ? DWORD(std::stoul(a[4].substr(5))) : 0;
        c.result = timed("RegQueryValueExW", [&] {
            return RegQueryValueExW(c.key, second.get(), nullptr, withType ? &c.type : nullptr,
                                    withData ? buffer.data() : nullptr,
                                    withSize ? &c.size : nullptr);
        });
        size_t touched = buffer.size();
        while (touched > 0 && buffer[touched - 1] == untouchedByte)
            --touched;
        if (withType)
            c.outcome = c.type == untouchedNumber ? "type unchanged" : typeName(c.type);
        if (withSize)
            c.outcome += " size=" + std::to_string(c.size);
        if (withData)
            c.outcome += touched ? " data " + hex(buffer.data(), touched) : " buffer untouched";
    } else if (f == "RegQueryValueExW") {
        readBack(c, c.key, second);
    } else if (f == "RegQueryInfoKeyW") { // "all NULL" as a second argument asks for nothing
        DWORD* asked[5] = {};
        for (int i = 0; i < 5; ++i) {
            c.info[i] = untouchedNumber;
            asked[i] = a.size() > 1 ? nullptr : &c.info[i];
        }
        c.result = timed("RegQueryInfoKeyW", [&] {
            return RegQueryInfoKeyW(c.key, nullptr, nullptr, nullptr, asked[0], asked[1], nullptr,
                                    asked[2], asked[3], asked[4], nullptr, nullptr);
        });
    } else if ((f == "RegEnumKeyExW" || f == "RegEnumValueW") && a[1] != "0..") {
        // One index: a number, or "index of NAME" found by enumerating first.
        DWORD index = 0;
        std::vector<BYTE> buffer(128, untouchedByte);
        const bool withData = a.size() > 2 && a[2].rfind("data size=", 0) == 0;
        c.length = withData ? 16 : 32;
        if (a[1].rfind("index of ", 0) == 0) {
            const WString wanted = name(a[1].substr(9)).units;
            for (; index < 5; ++index) {
                WCHAR found[16];
                DWORD length = 16;
                if (enumerate(c, index, found, &length) == 0 && WString(found, length) == wanted)
                    break;
            }
            c.length = DWORD(std::stoul(a[2].substr(7))); // "length=N"
        } else {
            index = DWORD(std::stoul(a[1]));
            c.size = withData ? DWORD(std::stoul(a[2].substr(10))) : 0;
        }
        c.result = enumerate(c, index, c.units.data(), &c.length, withData ? &c.type : nullptr,
                             withData ? buffer.data() : nullptr, withData ? &c.size : nullptr);
    } else if (f != "RegEnumKeyExW" && f != "RegEnumValueW") {
        fail("unknown call " + f);
    }
}

// What a check prints after its result: the words of the row, in order.
std::string Runner::show(Call& c, const Words& words)
{
    std::string out;
    const auto add = [&out](const std::string& piece) { out += (out.empty() ? "" : " ") + piece; };
    const auto handleText = [&c] {
        return c.opened == untouchedKey ? "unchanged" : c.opened ? "handle" : "null";
    };
    size_t touched = 0;
    while (touched < c.units.size() && c.units[touched] != untouchedUnit)
        ++touched;
    const std::string buffer = touched ? text(c.units.data(), touched) : "";
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const bool more = i + 1 < words.size();
        if (word == "readback" && c.function == "RegSetValueExW") // reads the value back
            readBack(c, c.key, name(more && words[i + 1][0] == '"' ? words[++i] : c.args[1]));
        const bool ok = c.result == ERROR_SUCCESS;
        if (word == "handle") { // what the result pointer holds
            add(handleText());
        } else if (word == "new") { // a new handle, or the one opened from
            add(c.opened == c.key ? "same handle" : "new handle");
        } else if (word == "root") { // the predefined root handed back as itself
            add(c.opened == c.key ? "the root itself" : handleText());
        } else if (word == "disposition") {
            if (ok)
                add(c.disposition == REG_CREATED_NEW_KEY ? "REG_CREATED_NEW_KEY"
                    : c.disposition == REG_OPENED_EXISTING_KEY
                        ? "REG_OPENED_EXISTING_KEY"
                        : "disposition " + std::to_string(c.disposition));
        } else if (word == "where" || word == "view") { // the value naming the key reached
            if (ok)
                add(word + "=" + readText(c.opened, widen(word)));
        } else if (word == "readback") { // type, size and bytes read back
            if (ok)
                add(typeName(c.type) + " size=" + std::to_string(c.size) + " " +
                    hex(c.bytes.data(), c.bytes.size()) +
                    (c.tailUntouched ? "" : " (wrote past the data)"));
        } else if (word == "type-size" || word == "same-bytes") { // the latter: as last written
            if (ok)
                add(typeName(c.type) + " size=" + std::to_string(c.size) +
                    (word == "type-size"  ? ""
                     : c.bytes == written ? " same bytes"
                                          : " different bytes"));
        } else if (word == "text") { // the REG_SZ value read through a new handle
            if (ok)
                add(readText(c.key, name(c.args[1]).units));
        } else if (word == "pending") {
            if (ok)
                add(typeName(c.type) + " " + pendingOperations(c.bytes));
        } else if (word == "info") {
            if (ok)
                add("subkeys=" + std::to_string(c.info[0]) + " longestSubkey=" +
                    std::to_string(c.info[1]) + " values=" + std::to_string(c.info[2]) +
                    " longestValueName=" + std::to_string(c.info[3]) +
                    " longestValue=" + std::to_string(c.info[4]));
        } else if (word == "outcome") { // what the call's own arguments describe
            out += c.outcome;
        } else if (word == "length" || word == "size") {
            add(word + "=" + std::to_string(word == "length" ? c.length : c.size));
        } else if (word == "type") {
            add("type=" + typeName(c.type));
        } else if (word == "name-buffer") {
            add("buffer=" + (touched ? buffer : "untouched"));
        } else if (word == "buffer") {
            add(touched ? "buffer=" + buffer : "buffer untouched");
        } else if (word == "order" || word == "sorted" || word == "names" || word == "lists") {
            // A walk over every index: "order" and "sorted" check how it ended
            // as well; "names" and "lists NAME" only report what is there.
            LONG end = 0;
            Words entries = walk(c, &end);
            if (word == "order" || word == "sorted")
                c.result = end;
            else if (end != ERROR_NO_MORE_ITEMS)
                entries.push_back("error " + code(end));
            if (word != "order")
                std::sort(entries.begin(), entries.end());
            if (word != "lists") {
                add(joined(entries));
            } else if (more) {
                const std::string& wanted = words[++i];
                const bool listed = std::count(entries.begin(), entries.end(), wanted) > 0;
                add(wanted.substr(1, wanted.size() - 2) + (listed ? " listed" : " not listed"));
            }
        } else if (word == "exists" && more) { // exists [KEY] PATH: opened from KEY or the call's
            const HKEY parent = i + 2 < words.size() ? handle(words[++i]) : c.key;
            add(words[i + 1] + " " + presence(parent, name(words[i + 1])));
            ++i;
        } else if (word == "query-after") { // the value the call deleted
            add("query after " + code(sizeQuery(c.key, name(c.args[1]))));
        } else if (word == "value" && more) { // value NAME: of the key just opened
            add("value " + words[i + 1] + " " + code(sizeQuery(c.opened, name(words[i + 1]))));
            ++i;
        } else {
            fail("unknown word after " + c.function + ": " + word);
        }
    }
    return out;
}

void Runner::runRow(const std::string& row)
{
    const Words words = split(row, ' ');
    const std::string& first = words[0];
    if (first == "remove") { // remove KEY [VIEW] PATH...
        const bool view = words[2].rfind("KEY_WOW64", 0) == 0;
        for (size_t i = view ? 3 : 2; i < words.size(); ++i)
            removeTree(handle(words[1]), name(words[i]).units, view ? parseRights(words[2]) : 0);
        return;
    }
    if (first == "alias") {
        aliases[words[1]] = name(words[2]).units;
        return;
    }
    if (first == "write-file" || first == "delete-file") {
        const std::string path = filesFolder + words[1];
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(filesFolder), ignored);
        if (first == "delete-file") {
            std::remove(path.c_str());
        } else if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
            std::fputs("module", file);
            std::fclose(file);
        }
        return;
    }
    checking = first != "-";
    const size_t start = first.size() + 1, open = row.find('(', start);
    if (open == std::string::npos)
        fail("no call in: " + row);
    size_t close = open + 1;
    for (bool quoted = false; close < row.size() && (quoted || row[close] != ')'); ++close) {
        if (row[close] == '"')
            quoted = !quoted;
        else if (quoted && row[close] == '\\')
            ++close;
    }
    if (close >= row.size())
        fail("no closing parenthesis in: " + row);
    Call c;
    c.function = row.substr(start, open - start);
    c.args = split(row.substr(open + 1, close - open - 1), ',');
    Words data, shown, values, kept;
    Words* into = &shown;
    const Words tail = split(row.substr(close + 1), ' ');
    for (size_t i = 0; i < tail.size(); ++i) {
        if (tail[i] == "=" || tail[i] == "|") {
            into = tail[i] == "=" ? &data : &shown;
        } else if (tail[i] == "as") {
            std::string names;
            while (++i < tail.size())
                names += tail[i] + " ";
            kept = split(names, ',');
        } else {
            (into != &data && tail[i].find('=') != std::string::npos ? values : *into)
                .push_back(tail[i]);
        }
    }
    perform(c, data);
    const std::string returned = show(c, shown);
    if (c.function == "RegOpenKeyExW" || c.function == "RegCreateKeyExW") {
        const bool ok = c.result == ERROR_SUCCESS;
        for (const std::string& value : ok ? values : Words()) {
            const size_t equals = split(value, '=')[0].size(); // the first = outside quotes
            const std::vector<BYTE> text = utf16(name(value.substr(equals + 1)).units);
            RegSetValueExW(c.opened, name(value.substr(0, equals)).get(), 0, REG_SZ, text.data(),
                           DWORD(text.size()));
        }
        for (const std::string& name : kept)
            handles[name] = ok ? c.opened : nullptr;
        if (ok && !kept.empty())
            closed.erase(c.opened);
        else if (ok && c.opened != c.key)
            timed("RegCloseKey", [&] { return RegCloseKey(c.opened); });
    }
    if (!checking)
        return;
    ++checks;
    if (timing)
        return;
    const std::string line = first + " " + row.substr(start, close + 1 - start) + " -> " +
                             code(c.result) + (returned.empty() ? "" : " | " + returned);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void Runner::runTable(const char* table)
{
    handles = {{"HKCU", HKEY_CURRENT_USER}, {"HKLM", HKEY_LOCAL_MACHINE}, {"NULL", nullptr}};
    closed = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, nullptr};
    aliases.clear();
    Words lines;
    for (const char* at = table; *at;) {
        const char* end = std::strchr(at, '\n');
        lines.emplace_back(at, end ? end : at + std::strlen(at));
        at = end ? end + 1 : at + lines.back().size();
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].empty() || lines[i][0] == '#')
            continue;
        if (lines[i].rfind("each ", 0) != 0) {
            runRow(lines[i]);
            continue;
        }
        const Words items = split(lines[i].substr(5), ' ');
        Words body;
        while (i + 1 < lines.size() && lines[i + 1].rfind("    ", 0) == 0)
            body.push_back(lines[++i].substr(4));
        for (const std::string& item : items) {
            for (std::string row : body) {
                for (size_t at = row.find('%'); at != std::string::npos;
                     at = row.find('%', at + item.size()))
                    row.replace(at, 1, item);
                runRow(row);
            }
        }
    }
    for (const auto& kept : handles) {
        if (closed.insert(kept.second).second)
            RegCloseKey(kept.second);
    }
}

void Runner::printTimings() const
{
    for (const auto& entry : timings) {
        std::vector<long long> sorted = entry.second;
        std::sort(sorted.begin(), sorted.end());
        const size_t calls = sorted.size();
        const long long total = std::accumulate(sorted.begin(), sorted.end(), 0LL);
        // Nearest-rank percentiles: always a duration that was measured.
        const auto percentile = [&](size_t percent) {
            const size_t rank = (calls * percent + 99) / 100;
            return double(sorted[rank > 0 ? rank - 1 : 0]) / 1000.0;
        };
        // The count as text: the Windows C runtime does not read every size
        // modifier the way the GNU one does.
        std::printf("%s %s %.2f %.2f %.2f\n", entry.first.c_str(), std::to_string(calls).c_str(),
                    double(total) / double(calls) / 1000.0, percentile(50), percentile(99));
    }
    std::fflush(stdout);
}

} // namespace

int runConformance(int argc, char** argv)
{
    int rounds = 0;
    int next = 1;
    if (argc > 2 && std::string(argv[1]) == "--time") {
        rounds = std::atoi(argv[2]);
        next = 3;
    }
    if (next >= argc || (next == 3 && rounds < 1)) {
        std::fprintf(stderr, "usage: %s [--time ROUNDS] FILES_FOLDER\n", argv[0]);
        return 2;
    }
    Runner runner(rounds > 0, argv[next]);
    for (int round = 0; round < std::max(rounds, 1); ++round) {
        for (int table = 0; table < conformanceTableCount; ++table)
            runner.runTable(conformanceTables[table]);
    }
    if (rounds > 0)
        runner.printTimings();
    else
        std::printf("end %d checks\n", runner.checkCount());
    return 0;
}
