#include "FuzzHost.h"
#include "WinRegistrySettings.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

// Random sequences of registry calls on a simulated host, each answer
// checked against a small model of the rules that matter: names compare
// without letter case, the two views hold keys of their own, a handle to a
// deleted key answers ERROR_KEY_DELETED, a closed one ERROR_INVALID_HANDLE,
// and setting a value replaces it. Three bytes make one call.
namespace {

struct Node
{
    std::map<QString, std::unique_ptr<Node>> keys; // by upper-cased name
    std::map<QString, QByteArray> values;
};

struct Slot
{
    HKEY key = nullptr;
    Node* node = nullptr; // nullptr once the key is deleted
};

const QString names[] = {QStringLiteral("a"), QStringLiteral("A"), QStringLiteral("b"),
                         QStringLiteral("ж"), QStringLiteral("Ж")};

LPCWSTR wide(const QString& text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

void check(bool holds)
{
    if (!holds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzHost::use();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    Node views[2]; // the 64-bit view, the 32-bit one
    const REGSAM viewFlags[2] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (int view = 0; view < 2; ++view) {
        WinRegistrySettings(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Fuzz"),
                            WinRegistrySettings::Format(1 - view))
            .remove(QString());
    }
    Slot held[3];
    std::vector<HKEY> closed;
    // Every handle to a deleted key learns of it.
    const auto forget = [&](Node* gone) {
        for (Slot& slot : held)
            slot.node = slot.node == gone ? nullptr : slot.node;
    };
    for (size_t at = 0; at + 3 <= size; at += 3) {
        const uint8_t op = bytes[at] % 8, a = bytes[at + 1], b = bytes[at + 2];
        Slot& slot = held[a % 3];
        const QString name = names[b % 5], fold = name.toUpper();
        const BYTE data[1] = {b};
        if (op == 0) { // open or create SOFTWARE\Fuzz\NAME[\NAME]
            const int view = (a >> 2) & 1;
            const bool create = a & 8;
            QString path = QStringLiteral("SOFTWARE\\Fuzz\\") + name;
            QStringList folds{fold};
            if (b & 0x80) {
                path += '\\' + names[(b >> 3) % 5];
                folds << names[(b >> 3) % 5].toUpper();
            }
            if (slot.key)
                check(RegCloseKey(std::exchange(slot.key, nullptr)) == ERROR_SUCCESS);
            Node* node = &views[view];
            for (const QString& element : folds) {
                auto found = node->keys.find(element);
                if (found == node->keys.end() && !create) {
                    node = nullptr;
                    break;
                }
                if (found == node->keys.end())
                    found = node->keys.emplace(element, std::make_unique<Node>()).first;
                node = found->second.get();
            }
            const LONG result = create ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, nullptr,
                                                         0, KEY_ALL_ACCESS | viewFlags[view],
                                                         nullptr, &slot.key, nullptr)
                                       : RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0,
                                                       KEY_ALL_ACCESS | viewFlags[view], &slot.key);
            check(result == (node ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND));
            slot.node = node;
            slot.key = node ? slot.key : nullptr;
            continue;
        }
        if (op == 6 && !closed.empty()) { // a closed handle stays closed
            check(RegSetValueExW(closed[b % closed.size()], wide(name), 0, REG_BINARY, data, 1) ==
                  ERROR_INVALID_HANDLE);
            continue;
        }
        if (!slot.key)
            continue;
        Node* node = slot.node;
        const LONG deleted = ERROR_KEY_DELETED;
        if (op == 1) { // set a value: a name in other letters replaces it
            check(RegSetValueExW(slot.key, wide(name), 0, REG_BINARY, data, 1) ==
                  (node ? ERROR_SUCCESS : deleted));
            if (node)
                node->values[fold] = QByteArray(1, char(b));
        } else if (op == 2) { // query a value
            BYTE read[4] = {};
            DWORD type = 0, length = sizeof read;
            const LONG result =
                RegQueryValueExW(slot.key, wide(name), nullptr, &type, read, &length);
            const auto found = node ? node->values.find(fold) : decltype(node->values.end())();
            if (!node)
                check(result == deleted);
            else if (found == node->values.end())
                check(result == ERROR_FILE_NOT_FOUND);
            else
                check(result == ERROR_SUCCESS && type == REG_BINARY && length == 1 &&
                      char(read[0]) == found->second[0]);
        } else if (op == 3) { // delete a value
            const LONG result = RegDeleteValueW(slot.key, wide(name));
            check(result == (!node                      ? deleted
                             : node->values.erase(fold) ? ERROR_SUCCESS
                                                        : ERROR_FILE_NOT_FOUND));
        } else if (op == 4 && node) { // delete a subkey: only one without subkeys goes
            const auto child = node->keys.find(fold);
            const LONG result = RegDeleteKeyW(slot.key, wide(name));
            if (child == node->keys.end()) {
                check(result == ERROR_FILE_NOT_FOUND);
            } else if (!child->second->keys.empty()) {
                check(result == ERROR_ACCESS_DENIED);
            } else {
                check(result == ERROR_SUCCESS);
                forget(child->second.get());
                node->keys.erase(child);
            }
        } else if (op == 5) { // close
            check(RegCloseKey(slot.key) == ERROR_SUCCESS);
            closed.push_back(std::exchange(slot.key, nullptr));
        } else if (op == 7) { // the counts a key reports
            DWORD subkeys = 0, values = 0;
            const LONG result =
                RegQueryInfoKeyW(slot.key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                 &values, nullptr, nullptr, nullptr, nullptr);
            check(node ? result == ERROR_SUCCESS && subkeys == node->keys.size() &&
                             values == node->values.size()
                       : result == deleted);
        }
    }
    for (Slot& slot : held) {
        if (slot.key)
            RegCloseKey(slot.key);
    }
    return 0;
}
