#pragma once

#include <QString>

#include <functional>

#include "WinApi.h"

// Stands between the code under test and the registry (the test links with
// the linker's symbol wrapping): the armed fault's next call of `function` on
// `subject` first runs `action`, then answers `code` unseen by the registry,
// or goes ahead when `code` is ERROR_SUCCESS. Subjects: RegCreateKeyExW,
// RegDeleteKeyW: the subkey; RegSetValueExW, RegDeleteValueW: the value name;
// RegEnumValueW, RegEnumKeyExW: the index; RegQueryInfoKeyW, RegQueryValueExW:
// "#N", that function's Nth call since the fault was armed.
struct RegistryFault
{
    QString function, subject;
    LONG code = ERROR_SUCCESS;
    std::function<void()> action;
    int calls = 0;

    static RegistryFault armed;
};
