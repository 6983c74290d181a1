#include "RegistryScratch.h"

#include "ConformanceReport.h"

#include <algorithm>

WString RegistryScratch::wide(const std::string& ascii)
{
    WString out;
    out.reserve(ascii.size());
    for (char c : ascii)
        out += static_cast<WCHAR>(static_cast<unsigned char>(c));
    return out;
}

void RegistryScratch::removeTree(HKEY parent, const WString& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS)
        return;
    // Always enumerate index 0: each pass removes the child it found.
    for (int guard = 0; guard < 100000; ++guard) {
        WCHAR name[512];
        DWORD length = 512;
        if (RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        const WString child(name, length);
        removeTree(key, child);
        HKEY check = nullptr;
        if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &check) == ERROR_SUCCESS) {
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
    HKEY victim = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS | view, &victim) == ERROR_SUCCESS) {
        RegDeleteKeyW(victim, WIDE(""));
        RegCloseKey(victim);
    }
}

HKEY RegistryScratch::create(HKEY parent, const WString& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS | view, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

LONG RegistryScratch::setText(HKEY key, const WString& name, const WString& text)
{
    return setBytes(key, name, REG_SZ, utf16Bytes(text, true));
}

LONG RegistryScratch::setBytes(HKEY key, const WString& name, DWORD type,
                               const std::vector<BYTE>& bytes)
{
    return RegSetValueExW(key, name.c_str(), 0, type, bytes.data(), DWORD(bytes.size()));
}

std::string RegistryScratch::readText(HKEY parent, const WString& path, const WString& name,
                                      REGSAM view)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | view, &key);
    if (result != ERROR_SUCCESS)
        return "open " + ConformanceReport::code(result);
    WCHAR buffer[256] = {};
    DWORD size = sizeof(buffer) - sizeof(WCHAR);
    DWORD type = 0;
    result =
        RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return "query " + ConformanceReport::code(result);
    size_t units = size / sizeof(WCHAR);
    while (units > 0 && buffer[units - 1] == 0)
        --units;
    return ConformanceReport::text(buffer, units);
}

std::vector<BYTE> RegistryScratch::utf16Bytes(const WString& text, bool terminate)
{
    std::vector<BYTE> bytes;
    for (WCHAR unit : text) {
        bytes.push_back(BYTE(unit & 0xff));
        bytes.push_back(BYTE((unit >> 8) & 0xff));
    }
    if (terminate) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

namespace {

// Names from enumerate(index, buffer, &length) until the list ends; a failure
// ends the list with "error N".
template <typename Enumerate> std::vector<std::string> enumeratedNames(Enumerate enumerate)
{
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[512];
        DWORD length = 512;
        const LONG result = enumerate(index, name, &length);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS) {
            names.push_back("error " + ConformanceReport::code(result));
            break;
        }
        names.push_back(ConformanceReport::text(name, length));
    }
    return names;
}

} // namespace

std::vector<std::string> RegistryScratch::subkeyNames(HKEY key)
{
    return enumeratedNames([key](DWORD index, WCHAR* name, DWORD* length) {
        return RegEnumKeyExW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::vector<std::string> RegistryScratch::valueNames(HKEY key)
{
    return enumeratedNames([key](DWORD index, WCHAR* name, DWORD* length) {
        return RegEnumValueW(key, index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::string RegistryScratch::joined(const std::vector<std::string>& names)
{
    std::string out = "[";
    for (size_t i = 0; i < names.size(); ++i)
        out += (i ? " " : "") + names[i];
    return out + "]";
}

std::string RegistryScratch::sortedJoined(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return joined(names);
}
