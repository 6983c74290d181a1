// Reads the scenario tables and runs them. A row is
//
//     label Call(arguments) [= data] [| words...] [as name]
//
// and prints "label Call(arguments) -> result | what came back". A row
// labelled "-" is a set-up step: not printed, not timed, not counted.
//
//   arguments  as printed. A key is HKCU, HKLM, HKU or a handle kept with
//              "as". A name or path is "quoted" (with \\ for \), NULL or c*N
//              (N copies of c). Rights and types are KEY_* and REG_* names or
//              numbers, joined by |. Left-out arguments take the usual values;
//              perform() lists the forms each call understands and what it
//              shows of the answer.
//   = data     "text" (UTF-16 with its terminator) and bytes in two
//              hexadecimal digits. Without a type RegSetValueExW writes text
//              as REG_SZ and bytes as REG_BINARY. After a call that opens a
//              key, name="text" pairs: REG_SZ values written into that key.
//   | words    what else to read after the call, arguments after colons;
//              piece() lists them.
//   as         keeps the key opened under the name given instead of closing
//              it, until every table has run.
//
// A set-up row may also remove(KEY, PATH...) trees an earlier run left.

#include "Conformance.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// One row's call: its arguments as written and what came back.
struct Call
{
    std::string function;
    Words args;
    HKEY key = nullptr, opened = untouchedKey;
    LONG result = ERROR_SUCCESS;
    std::string shown; // what came back besides the result
};

// The run. Checks are printed or, in timing mode, timed.
bool timing = false;
std::string filesFolder; // ends with the platform's separator
std::map<std::string, HKEY> handles;
std::vector<HKEY> kept; // open until the end of the run

// Splits at separator outside double quotes.
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
        words.back() += line[i];
    }
    return words;
}

std::string code(long result)
{
    static const std::map<long, std::string> names = {
        {2, "FILE_NOT_FOUND"},     {5, "ACCESS_DENIED"},      {6, "INVALID_HANDLE"},
        {87, "INVALID_PARAMETER"}, {161, "BAD_PATHNAME"},     {234, "MORE_DATA"},
        {1018, "KEY_DELETED"},     {1605, "UNKNOWN_PRODUCT"}, {1608, "UNKNOWN_PROPERTY"}};
    const auto found = names.find(result);
    return std::to_string(result) + (found == names.end() ? "" : " " + found->second);
}

// The rights and value types the rows name.
const std::map<std::string, DWORD> names = {{"KEY_ALL_ACCESS", KEY_ALL_ACCESS},
                                            {"KEY_READ", KEY_READ},
                                            {"KEY_WOW64_64KEY", KEY_WOW64_64KEY},
                                            {"KEY_WOW64_32KEY", KEY_WOW64_32KEY},
                                            {"REG_SZ", REG_SZ},
                                            {"REG_EXPAND_SZ", REG_EXPAND_SZ},
                                            {"REG_BINARY", REG_BINARY},
                                            {"REG_DWORD", REG_DWORD},
                                            {"REG_MULTI_SZ", REG_MULTI_SZ},
                                            {"REG_QWORD", REG_QWORD}};

std::string typeName(DWORD type)
{
    const auto found = std::find_if(names.begin(), names.end(), [type](const auto& named) {
        return named.first.rfind("REG_", 0) == 0 && named.second == type;
    });
    return found != names.end() ? found->first : "type " + std::to_string(type);
}

// Names above and numbers, joined by |.
DWORD number(const std::string& word)
{
    DWORD out = 0;
    for (const std::string& part : split(word, "|"))
        out |= names.count(part) ? names.at(part) : DWORD(std::stoul(part, nullptr, 0));
    return out;
}

std::string hex(const BYTE* bytes, size_t count)
{
    const char* const digits = "0123456789abcdef";
    std::string out = count ? "" : "(none)";
    for (size_t i = 0; i < count; ++i)
        out += std::string(i ? " " : "") + digits[bytes[i] >> 4] + digits[bytes[i] & 15];
    return out;
}

// Printable ASCII as is, everything else as \uXXXX, so that both builds print
// the same bytes whatever their console encoding.
std::string text(const WCHAR* units, size_t count)
{
    std::string out = "\"";
    for (size_t i = 0; i < count; ++i) {
        const unsigned unit = static_cast<unsigned>(units[i]) & 0xffffu;
        char shown[8];
        std::snprintf(shown, sizeof shown, unit >= 0x20 && unit < 0x7f ? "%c" : "\\u%04x", unit);
        out += (unit == '\\' || unit == '"' ? "\\" : "") + std::string(shown);
    }
    return out + "\"";
}

WString name(const std::string& word)
{
    if (word.size() > 2 && word[1] == '*')
        return WString(std::stoul(word.substr(2)), WCHAR(word[0]));
    if (word[0] != '"')
        return WString(word.begin(), word.end());
    WString out;
    for (size_t i = 1; i + 1 < word.size(); ++i) {
        if (word[i] == '\\')
            ++i; // \\ stands for a backslash
        out += WCHAR(static_cast<unsigned char>(word[i]));
    }
    return out;
}

std::vector<BYTE> bytes(const Words& items)
{
    std::vector<BYTE> out;
    for (const std::string& item : items) {
        if (item[0] != '"') {
            out.push_back(BYTE(std::stoul(item, nullptr, 16)));
            continue;
        }
        for (WCHAR unit : name(item) + WCHAR(0))
            out.insert(out.end(), {BYTE(unit & 0xff), BYTE((unit >> 8) & 0xff)});
    }
    return out;
}

// Removes path below parent with everything under it; quiet when missing.
LONG removeTree(HKEY parent, const WString& path)
{
    HKEY key = nullptr;
    // The path named, in either kind of program: Wow6432Node is named.
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) == 0) {
        WCHAR child[256];
        DWORD length = 256;
        // Always the child at index 0, as each pass removes the one it found.
        while (RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) == 0 &&
               removeTree(key, WString(child, length)) == 0)
            length = 256;
        RegCloseKey(key);
    }
    return RegDeleteKeyExW(parent, path.c_str(), KEY_WOW64_64KEY, 0);
}

// The value read back whole, the way the programs read values: asks for the
// size, then reads into a buffer of exactly that size. Shows its type, size
// and data, text types as text.
std::string readBack(HKEY key, const WString& value, LONG* result)
{
    DWORD size = 0, type = untouched;
    *result = RegQueryValueExW(key, value.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> bytes(size + 1, untouchedByte);
    if (*result == ERROR_SUCCESS)
        *result = RegQueryValueExW(key, value.c_str(), nullptr, &type, bytes.data(), &size);
    if (*result != ERROR_SUCCESS)
        return "read " + code(*result);
    const bool textual = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    return typeName(type) + " size=" + std::to_string(size) + " " +
           (textual ? text(reinterpret_cast<const WCHAR*>(bytes.data()), size / 2)
                    : hex(bytes.data(), size));
}

LONG enumerate(const Call& c, DWORD index, WCHAR* name, DWORD* length, DWORD* type = nullptr,
               BYTE* data = nullptr, DWORD* size = nullptr)
{
    return c.function == "RegEnumValueW"
               ? RegEnumValueW(c.key, index, name, length, nullptr, type, data, size)
               : RegEnumKeyExW(c.key, index, name, length, nullptr, nullptr, nullptr, nullptr);
}

// Every index from 0 until ERROR_NO_MORE_ITEMS, sorted, as the hosts' orders
// differ: the names, values with their type and data, and any other end.
std::string walk(const Call& c)
{
    std::multiset<std::string> entries;
    LONG end = ERROR_SUCCESS;
    for (DWORD index = 0; end == ERROR_SUCCESS; ++index) {
        WCHAR name[300];
        BYTE data[64];
        DWORD length = 300, type = 0, size = sizeof data;
        end = enumerate(c, index, name, &length, &type, data, &size);
        const bool value = c.function == "RegEnumValueW";
        if (end == ERROR_SUCCESS)
            entries.insert(text(name, length) +
                           (value ? ":" + typeName(type) + ":" + hex(data, size) : ""));
    }
    if (end != ERROR_NO_MORE_ITEMS)
        entries.insert("error " + code(end));
    std::string out;
    for (const std::string& entry : entries)
        out += (out.empty() ? "" : " ") + entry;
    return "[" + out + "]";
}

// The units a call wrote into a buffer that started out untouched.
std::string filled(const WString& buffer)
{
    const size_t count = std::min(buffer.find(untouchedUnit), buffer.size());
    return count ? "buffer=" + text(buffer.data(), count) : "buffer untouched";
}

// The calls, the forms of their arguments that the rows use, and what each
// shows of the answer.
void perform(Call& c, const Words& data)
{
    const Words& a = c.args;
    const std::string& f = c.function;
    const WString second = name(a.size() > 1 ? a[1] : "");
    WString buffer(128, untouchedUnit);
    DWORD type = untouched, length = 0;
    if (f.rfind("Reg", 0) == 0 || f == "remove")
        c.key = handles.at(a[0]);
    if (f == "MsiGetProductInfoW") { // (product, property, buffer or NULL, length)
        const bool given = a[2] != "NULL";
        length = DWORD(std::stoul(a[3]));
        c.result = LONG(MsiGetProductInfoW(name(a[0]).c_str(), second.c_str(),
                                           given ? &buffer[0] : nullptr, &length));
        c.shown = "length=" + std::to_string(length) + (given ? " " + filled(buffer) : "");
    } else if (f == "MoveFileExW") { // (...NAME, NULL, flags): NAME made in the files folder
        const std::string path = filesFolder + a[0].substr(3);
        std::filesystem::create_directories(filesFolder);
        std::ofstream(path) << "module";
        const bool queued = MoveFileExW(name(path).c_str(), nullptr, number(a[2]));
        c.result = queued ? ERROR_SUCCESS : LONG(GetLastError());
        c.shown = std::filesystem::exists(path) ? "file still there" : "no file";
    } else if (f == "RegOpenKeyExW" || f == "RegCreateKeyExW") { // (key, path[, rights])
        const bool create = f == "RegCreateKeyExW";
        const REGSAM wanted = a.size() > 2 ? number(a[2]) : create ? KEY_ALL_ACCESS : KEY_READ;
        DWORD disposition = 0;
        c.result = create ? RegCreateKeyExW(c.key, second.c_str(), 0, nullptr, 0, wanted, nullptr,
                                            &c.opened, &disposition)
                          : RegOpenKeyExW(c.key, second.c_str(), 0, wanted, &c.opened);
        // A root opened with no subkey hands back itself.
        c.shown = c.opened == untouchedKey ? "unchanged"
                  : !c.opened              ? "null"
                  : c.opened == c.key      ? "same handle"
                                           : "new handle";
        const Words dispositions = {"0", "REG_CREATED_NEW_KEY", "REG_OPENED_EXISTING_KEY"};
        if (create && c.result == ERROR_SUCCESS)
            c.shown += " " + (disposition < 3 ? dispositions[disposition] : "other disposition");
    } else if (f == "remove") { // (key, path...): trees an earlier run left
        for (size_t i = 1; i < a.size(); ++i)
            removeTree(c.key, name(a[i]));
    } else if (f == "RegCloseKey") {
        kept.erase(std::remove(kept.begin(), kept.end(), c.key), kept.end());
        c.result = RegCloseKey(c.key);
    } else if (f == "RegDeleteKeyW" || f == "RegDeleteValueW") {
        c.result = (f == "RegDeleteKeyW" ? RegDeleteKeyW : RegDeleteValueW)(c.key, second.c_str());
    } else if (f == "RegDeleteKeyExW") { // (key, path, view flags)
        c.result = RegDeleteKeyExW(c.key, second.c_str(), number(a[2]), 0);
    } else if (f == "RegSetValueExW") { // (key, name[, type[, size]]): a size may cut the data
        const std::vector<BYTE> value = bytes(data);
        const bool textual = !data.empty() && data[0][0] == '"';
        const size_t count = a.size() > 3 ? std::stoul(a[3]) : value.size();
        if (count > value.size())
            throw std::out_of_range("fewer bytes than the size given for " + a[1]);
        type = a.size() > 2 ? number(a[2]) : textual ? REG_SZ : REG_BINARY;
        c.result = RegSetValueExW(c.key, second.c_str(), 0, type, value.data(), DWORD(count));
    } else if (f == "RegQueryValueExW" && a.size() > 2) { // (key, name, NULL or buffer size)
        const bool given = a[2] != "NULL";
        std::vector<BYTE> value(64, untouchedByte);
        DWORD size = given ? DWORD(std::stoul(a[2])) : 0;
        c.result = RegQueryValueExW(c.key, second.c_str(), nullptr, &type,
                                    given ? value.data() : nullptr, &size);
        const auto touched = std::find(value.begin(), value.end(), untouchedByte) - value.begin();
        c.shown = (type == untouched ? "type unchanged" : typeName(type)) +
                  " size=" + std::to_string(size);
        if (given)
            c.shown +=
                touched ? " data " + hex(value.data(), size_t(touched)) : " buffer untouched";
    } else if (f == "RegQueryValueExW") { // (key, name): read back whole, as readback shows it
        const std::string value = readBack(c.key, second, &c.result);
        c.shown = c.result == ERROR_SUCCESS ? value : "";
    } else if (f == "RegQueryInfoKeyW") {
        DWORD info[5] = {};
        c.result = RegQueryInfoKeyW(c.key, nullptr, nullptr, nullptr, &info[0], &info[1], nullptr,
                                    &info[2], &info[3], &info[4], nullptr, nullptr);
        const Words counts =
            split("subkeys longestSubkey values longestValueName longestValue", " ");
        for (size_t i = 0; i < counts.size() && c.result == ERROR_SUCCESS; ++i)
            c.shown += (i ? " " : "") + counts[i] + "=" + std::to_string(info[i]);
    } else if (a[1] == "0..") { // (key, 0..): walks the key
        c.shown = walk(c);
    } else { // (key, index, length=N)
        length = DWORD(std::stoul(a[2].substr(7)));
        c.result = enumerate(c, DWORD(std::stoul(a[1])), &buffer[0], &length);
        c.shown = "length=" + std::to_string(length) + " " + filled(buffer);
    }
}

// What one word after | reads and prints.
std::string piece(const Call& c, const Words& word)
{
    const std::string& w = word[0];
    if (w == "readback") { // [:NAME]: the value named, read in the key opened or else the one named
        const HKEY key = c.opened == untouchedKey ? c.key : c.opened;
        LONG read = ERROR_SUCCESS;
        return readBack(key, name(word.size() > 1 ? word[1] : c.args[1]), &read);
    }
    if (w == "exists") { // exists:[KEY:]PATH, opened from KEY or else from the call's key
        HKEY parent = word.size() > 2 ? handles.at(word[1]) : c.key, key = nullptr;
        const LONG result = RegOpenKeyExW(parent, name(word.back()).c_str(), 0, KEY_READ, &key);
        if (result == ERROR_SUCCESS)
            RegCloseKey(key);
        return word.back() + " " + (result == ERROR_SUCCESS ? "present" : "open " + code(result));
    }
    throw std::out_of_range("no word " + w);
}

void runRow(const std::string& row)
{
    // The call runs from after the label to the first ")" that ends a word.
    const size_t start = row.find(' ') + 1;
    const size_t end = std::min(row.find(") ", start), row.size() - 1) + 1;
    const std::string call = row.substr(start, end - start);
    Call c;
    c.function = call.substr(0, call.find('('));
    c.args = split(call.substr(c.function.size() + 1, call.size() - c.function.size() - 2), ", ");
    const size_t as = std::min(row.find(" as ", end), row.size());
    Words data, shown;
    Words* into = &shown;
    for (const std::string& word : split(row.substr(end, as - end), " ")) {
        if (word == "=" || word == "|")
            into = word == "=" ? &data : &shown;
        else if (!word.empty())
            into->push_back(word);
    }
    const std::string keep = as < row.size() ? row.substr(as + 4) : "";
    // Timed: the call and what its words read back, a walk among them. In
    // timing mode a check row prints "API nanoseconds"; the benchmark sums up.
    const auto began = std::chrono::steady_clock::now();
    perform(c, data);
    for (const std::string& word : shown)
        c.shown += (c.shown.empty() ? "" : " ") + piece(c, split(word, ":"));
    const auto took = std::chrono::nanoseconds(std::chrono::steady_clock::now() - began);
    const bool opened = c.opened != untouchedKey && c.result == ERROR_SUCCESS;
    for (const std::string& value : opened ? data : Words()) {
        const size_t equals = value.find("=\"");
        const std::vector<BYTE> text = bytes({value.substr(equals + 1)});
        RegSetValueExW(c.opened, name(value.substr(0, equals)).c_str(), 0, REG_SZ, text.data(),
                       DWORD(text.size()));
    }
    if (!keep.empty()) {
        handles[keep] = opened ? c.opened : nullptr;
        kept.push_back(handles[keep]);
    } else if (opened && c.opened != c.key) {
        RegCloseKey(c.opened);
    }
    const std::string label = row.substr(0, start - 1);
    if (label == "-")
        return;
    // The count as text: not every C runtime reads %lld.
    const std::string line = timing ? c.function + " " + std::to_string(took.count())
                                    : label + " " + call + " -> " + code(c.result) +
                                          (c.shown.empty() ? "" : " | " + c.shown);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout); // what was printed survives a crash in the next call
}

} // namespace

int runConformance(int argc, char** argv)
{
    timing = argc == 4 && std::string(argv[1]) == "--time";
    const int rounds = timing ? std::atoi(argv[2]) : 1;
    if (argc != (timing ? 4 : 2) || rounds < 1) {
        std::fprintf(stderr, "usage: %s [--time ROUNDS] FILES_FOLDER\n", argv[0]);
        return 2;
    }
    filesFolder = argv[argc - 1];
    for (int round = 0; round < rounds; ++round) {
        handles = {{"HKCU", HKEY_CURRENT_USER}, {"HKLM", HKEY_LOCAL_MACHINE}, {"HKU", HKEY_USERS}};
        std::istringstream scenarios(conformanceScenarios);
        for (std::string row; std::getline(scenarios, row);) {
            try {
                if (!row.empty() && row[0] != '#' && row[0] != '=') // "== " opens a group
                    runRow(row);
            } catch (const std::exception& error) { // a row the runner cannot read
                std::fprintf(stderr, "row %s: %s\n", row.c_str(), error.what());
                return 2;
            }
        }
        for (HKEY key : kept)
            RegCloseKey(key);
        kept.clear();
    }
    return 0;
}
