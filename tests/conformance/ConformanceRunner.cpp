// Reads the scenario tables and runs them. A row is
//
//     label Call(arguments) [= data] [| words...] [name="text"...] [as name]
//
// and prints "label Call(arguments) -> result | what the words show". A row
// labelled "-" is a set-up step: not printed, not timed, not counted.
//
//   arguments  as printed. A key is HKCU, HKLM, HKU or a handle kept with
//              "as". A name or path is "quoted" (with \\ and \"), NULL or c*N
//              (N copies of c). Rights are KEY_* names or numbers joined by |.
//              Left-out arguments take the usual values; perform() lists the
//              forms each call understands.
//   = data     "text" (UTF-16 with its terminator) and bytes in two
//              hexadecimal digits. Without a type RegSetValueExW writes text
//              as REG_SZ and bytes as REG_BINARY.
//   | words    what to print after the result, arguments after colons; piece()
//              lists them.
//   name="text" REG_SZ values written into the key just opened or created.
//   as         keeps that key under the name given instead of closing it.
//              Kept keys still open at the end of the table are closed then.
//
// Other rows: "remove KEY PATH..." removes trees; "write-file NAME" makes a
// file in the files folder.

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

// One row's call: its arguments as written and what came back.
struct Call
{
    std::string function;
    Words args;
    HKEY key = nullptr, opened = untouchedKey;
    LONG result = ERROR_SUCCESS;
    DWORD disposition = 0, type = untouched, length = 0, info[5] = {};
    std::vector<BYTE> bytes;                                           // the data read back
    std::vector<WCHAR> units = std::vector<WCHAR>(128, untouchedUnit); // a name or text buffer
    std::string outcome; // what the call's own arguments describe, formatted by perform()
};

// The run. Checks are printed, counted and, in timing mode, timed.
bool timing = false;
int checks = 0;
std::string filesFolder; // ends with the platform's separator
std::map<std::string, HKEY> handles;
std::set<HKEY> closed; // kept keys closed already, and the roots: not to be closed again

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
        {2, "FILE_NOT_FOUND"},     {5, "ACCESS_DENIED"},  {6, "INVALID_HANDLE"},
        {87, "INVALID_PARAMETER"}, {161, "BAD_PATHNAME"}, {234, "MORE_DATA"},
        {259, "NO_MORE_ITEMS"},    {1018, "KEY_DELETED"}, {1605, "UNKNOWN_PRODUCT"}};
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

WString name(const std::string& word)
{
    if (word.size() > 2 && word[1] == '*')
        return WString(std::stoul(word.substr(2)), WCHAR(word[0]));
    if (word[0] != '"')
        return widen(word);
    WString out;
    for (size_t i = 1; i + 1 < word.size(); ++i) {
        if (word[i] == '\\')
            ++i; // \\ and \" stand for the character after the backslash
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

REGSAM rights(const std::string& word)
{
    static const std::map<std::string, REGSAM> names = {{"KEY_ALL_ACCESS", KEY_ALL_ACCESS},
                                                        {"KEY_READ", KEY_READ},
                                                        {"KEY_WOW64_64KEY", KEY_WOW64_64KEY},
                                                        {"KEY_WOW64_32KEY", KEY_WOW64_32KEY}};
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

// The value read back whole: asks for the size, then reads into a buffer of
// exactly that size.
LONG readBack(HKEY key, const WString& value, DWORD* type, std::vector<BYTE>* bytes)
{
    DWORD size = 0;
    LONG result = RegQueryValueExW(key, value.c_str(), nullptr, type, nullptr, &size);
    bytes->assign(size + 1, untouchedByte);
    if (result == ERROR_SUCCESS)
        result = RegQueryValueExW(key, value.c_str(), nullptr, type, bytes->data(), &size);
    bytes->resize(size);
    return result;
}

LONG enumerate(const Call& c, DWORD index, WCHAR* name, DWORD* length, DWORD* type = nullptr,
               BYTE* data = nullptr, DWORD* size = nullptr)
{
    return c.function == "RegEnumValueW"
               ? RegEnumValueW(c.key, index, name, length, nullptr, type, data, size)
               : RegEnumKeyExW(c.key, index, name, length, nullptr, nullptr, nullptr, nullptr);
}

// Every index from 0 until ERROR_NO_MORE_ITEMS, sorted, as the hosts' orders
// differ: the names, with type and data after "0.., data", and any other end.
std::string walk(const Call& c)
{
    Words entries;
    const bool withData = c.args.size() > 2;
    for (DWORD index = 0;; ++index) {
        WCHAR name[300];
        BYTE data[64];
        DWORD length = 300, type = 0, size = sizeof data;
        const LONG end = enumerate(c, index, name, &length, withData ? &type : nullptr,
                                   withData ? data : nullptr, withData ? &size : nullptr);
        if (end != ERROR_SUCCESS) {
            if (end != ERROR_NO_MORE_ITEMS)
                entries.push_back("error " + code(end));
            break;
        }
        entries.push_back(text(name, length) +
                          (withData ? ":" + typeName(type) + ":" + hex(data, size) : ""));
    }
    std::sort(entries.begin(), entries.end());
    std::string out;
    for (const std::string& entry : entries)
        out += (out.empty() ? "" : " ") + entry;
    return "[" + out + "]";
}

// The calls and the forms of their arguments that the rows use.
void perform(Call& c, const Words& data)
{
    const Words& a = c.args;
    const std::string& f = c.function;
    const WString second = name(a.size() > 1 ? a[1] : "");
    if (f.rfind("Reg", 0) == 0)
        c.key = handles.at(a[0]);
    if (f == "MsiGetProductInfoW") { // (product, property, buffer or NULL, length)
        WCHAR* buffer = a[2] == "NULL" ? nullptr : c.units.data();
        c.length = DWORD(std::stoul(a[3]));
        c.result = LONG(MsiGetProductInfoW(name(a[0]).c_str(), second.c_str(), buffer, &c.length));
    } else if (f == "MoveFileExW") { // (...NAME in the files folder, NULL, flags)
        const std::string path = filesFolder + a[0].substr(3);
        const DWORD flags = DWORD(std::stoul(a[2]));
        const bool queued = MoveFileExW(widen(path).c_str(), nullptr, flags);
        c.result = queued ? ERROR_SUCCESS : LONG(GetLastError());
        std::FILE* file = std::fopen(path.c_str(), "rb");
        c.outcome = file ? "file still there" : "no file";
        if (file)
            std::fclose(file);
    } else if (f == "RegOpenKeyExW") { // (key, path[, rights])
        const REGSAM wanted = a.size() > 2 ? rights(a[2]) : KEY_READ;
        c.result = RegOpenKeyExW(c.key, second.c_str(), 0, wanted, &c.opened);
    } else if (f == "RegCreateKeyExW") { // (key, path[, rights])
        const REGSAM wanted = a.size() > 2 ? rights(a[2]) : KEY_ALL_ACCESS;
        c.result = RegCreateKeyExW(c.key, second.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   wanted, nullptr, &c.opened, &c.disposition);
    } else if (f == "RegCloseKey") {
        closed.insert(c.key);
        c.result = RegCloseKey(c.key);
    } else if (f == "RegDeleteKeyW") {
        c.result = RegDeleteKeyW(c.key, second.c_str());
    } else if (f == "RegDeleteKeyExW") { // (key, path, view flags)
        c.result = RegDeleteKeyExW(c.key, second.c_str(), rights(a[2]), 0);
    } else if (f == "RegDeleteValueW") {
        c.result = RegDeleteValueW(c.key, second.c_str());
    } else if (f == "RegSetValueExW") { // (key, name[, type[, size]]): a size may cut the data
        const std::vector<BYTE> buffer = bytes(data);
        const bool text = !data.empty() && data[0][0] == '"';
        const DWORD type = a.size() > 2 ? parseType(a[2]) : text ? REG_SZ : REG_BINARY;
        const size_t count = a.size() > 3 ? std::stoul(a[3]) : buffer.size();
        if (count > buffer.size())
            throw std::out_of_range("fewer bytes than the size given for " + a[1]);
        c.result = RegSetValueExW(c.key, second.c_str(), 0, type, buffer.data(), DWORD(count));
    } else if (f == "RegQueryValueExW" && a.size() > 2) { // (key, name, NULL or buffer size)
        const bool withData = a[2] != "NULL";
        std::vector<BYTE> buffer(64, untouchedByte);
        DWORD size = withData ? DWORD(std::stoul(a[2])) : 0;
        c.result = RegQueryValueExW(c.key, second.c_str(), nullptr, &c.type,
                                    withData ? buffer.data() : nullptr, &size);
        size_t touched = buffer.size();
        while (touched > 0 && buffer[touched - 1] == untouchedByte)
            --touched;
        c.outcome = (c.type == untouched ? "type unchanged" : typeName(c.type)) +
                    " size=" + std::to_string(size);
        if (withData)
            c.outcome += touched ? " data " + hex(buffer.data(), touched) : " buffer untouched";
    } else if (f == "RegQueryValueExW") { // (key, name): read back whole
        c.result = readBack(c.key, second, &c.type, &c.bytes);
    } else if (f == "RegQueryInfoKeyW") {
        DWORD* info = c.info;
        c.result = RegQueryInfoKeyW(c.key, nullptr, nullptr, nullptr, &info[0], &info[1], nullptr,
                                    &info[2], &info[3], &info[4], nullptr, nullptr);
    } else if (a[1] != "0..") { // (key, index, length=N)
        c.length = DWORD(std::stoul(a[2].substr(7)));
        c.result = enumerate(c, DWORD(std::stoul(a[1])), c.units.data(), &c.length);
    } // (key, 0..[, data]): the word "names" walks the key
}

// What one word after | prints; an empty piece prints nothing.
std::string piece(Call& c, const Words& word)
{
    const std::string& w = word[0];
    const bool failed = c.result != ERROR_SUCCESS;
    if (w == "handle")
        return c.opened == untouchedKey ? "unchanged" : c.opened ? "handle" : "null";
    if (w == "new") // a handle other than the one opened from; a root hands back itself
        return c.opened == c.key ? "same handle" : "new handle";
    if (w == "disposition")
        return failed                                 ? ""
               : c.disposition == REG_CREATED_NEW_KEY ? "REG_CREATED_NEW_KEY"
               : c.disposition == REG_OPENED_EXISTING_KEY
                   ? "REG_OPENED_EXISTING_KEY"
                   : "disposition " + std::to_string(c.disposition);
    DWORD type = untouched;
    std::vector<BYTE> bytes;
    if (w == "where" || w == "view") { // the text value that names the key reached
        if (failed)
            return "";
        const LONG read = readBack(c.opened, widen(w), &type, &bytes);
        const size_t units = bytes.size() / 2; // the last one the terminator
        return read != ERROR_SUCCESS ? w + " read " + code(read)
                                     : w + "=" +
                                           text(reinterpret_cast<const WCHAR*>(bytes.data()),
                                                units > 0 ? units - 1 : 0);
    }
    if (w == "readback") { // the value the call named, or readback:NAME, read back
        const LONG read =
            readBack(c.key, name(word.back() == w ? c.args[1] : word[1]), &type, &bytes);
        return read != ERROR_SUCCESS ? "read " + code(read)
                                     : typeName(type) + " size=" + std::to_string(bytes.size()) +
                                           " " + hex(bytes.data(), bytes.size());
    }
    if (w == "pending")
        return failed ? "" : typeName(c.type) + " " + pendingOperations(c.bytes);
    if (w == "info")
        return failed ? ""
                      : "subkeys=" + std::to_string(c.info[0]) +
                            " longestSubkey=" + std::to_string(c.info[1]) +
                            " values=" + std::to_string(c.info[2]) +
                            " longestValueName=" + std::to_string(c.info[3]) +
                            " longestValue=" + std::to_string(c.info[4]);
    if (w == "length")
        return "length=" + std::to_string(c.length);
    if (w == "buffer") { // the units written into it
        const auto filled = std::find(c.units.begin(), c.units.end(), untouchedUnit);
        return filled == c.units.begin()
                   ? "buffer untouched"
                   : "buffer=" + text(c.units.data(), size_t(filled - c.units.begin()));
    }
    if (w == "exists") { // exists:[KEY:]PATH, opened from KEY or else from the call's key
        HKEY parent = word.size() > 2 ? handles.at(word[1]) : c.key, key = nullptr;
        const LONG result = RegOpenKeyExW(parent, name(word.back()).c_str(), 0, KEY_READ, &key);
        if (result == ERROR_SUCCESS)
            RegCloseKey(key);
        return word.back() + " " + (result == ERROR_SUCCESS ? "present" : "open " + code(result));
    }
    if (w == "outcome")
        return c.outcome;
    if (w == "names")
        return walk(c);
    throw std::out_of_range("no word " + w);
}

void runRow(const std::string& row)
{
    const Words words = split(row, " ");
    const std::string& first = words[0];
    if (first == "remove") {
        for (size_t i = 2; i < words.size(); ++i)
            removeTree(handles.at(words[1]), name(words[i]));
        return;
    }
    if (first == "write-file") {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(filesFolder), ignored);
        if (std::FILE* out = std::fopen((filesFolder + words[1]).c_str(), "wb")) {
            std::fputs("module", out);
            std::fclose(out);
        }
        return;
    }
    // The call ends with the first word that ends in ")".
    const bool checking = first != "-";
    size_t last = 1;
    while (words.at(last).back() != ')')
        ++last;
    std::string call = words[1];
    for (size_t i = 2; i <= last; ++i)
        call += " " + words[i];
    Call c;
    c.function = call.substr(0, call.find('('));
    c.args = split(call.substr(c.function.size() + 1, call.size() - c.function.size() - 2), ", ");
    Words data, shown, values;
    size_t i = last + 1;
    for (bool inData = false; i < words.size() && words[i] != "as"; ++i) {
        if (words[i] == "=" || words[i] == "|")
            inData = words[i] == "=";
        else
            (inData                                      ? data
             : words[i].find("=\"") != std::string::npos ? values
                                                         : shown)
                .push_back(words[i]);
    }
    const std::string kept = i < words.size() ? row.substr(row.rfind(" as ") + 4) : "";
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
        RegSetValueExW(c.opened, name(value.substr(0, equals)).c_str(), 0, REG_SZ, data.data(),
                       DWORD(data.size()));
    }
    if (!kept.empty())
        handles[kept] = c.result ? nullptr : c.opened;
    if (opened && !kept.empty())
        closed.erase(c.opened);
    else if (opened && c.opened != c.key)
        RegCloseKey(c.opened);
    checks += checking;
    if (checking && !timing) {
        std::printf("%s %s -> %s%s\n", first.c_str(), call.c_str(), code(c.result).c_str(),
                    returned.empty() ? "" : (" | " + returned).c_str());
        std::fflush(stdout); // what was printed survives a crash in the next call
    }
}

// Closes the keys the last table kept; the next one starts from the roots.
void startTable()
{
    for (const auto& kept : handles) {
        if (closed.insert(kept.second).second)
            RegCloseKey(kept.second);
    }
    handles = {{"HKCU", HKEY_CURRENT_USER}, {"HKLM", HKEY_LOCAL_MACHINE}, {"HKU", HKEY_USERS}};
    closed = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, nullptr};
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
    for (int round = 0; round < rounds; ++round) {
        std::istringstream scenarios(conformanceScenarios);
        for (std::string row; std::getline(scenarios, row);) {
            if (row.rfind("== ", 0) == 0) {
                startTable();
                continue;
            }
            if (row.empty() || row[0] == '#')
                continue;
            try {
                runRow(row);
            } catch (const std::exception& error) { // a row the runner cannot read
                std::fprintf(stderr, "row %s: %s\n", row.c_str(), error.what());
                return 2;
            }
        }
        startTable();
    }
    if (!timing)
        std::printf("end %d checks\n", checks);
    std::fflush(stdout);
    return 0;
}
