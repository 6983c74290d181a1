#pragma once

#include <QString>
#include <QStringList>

#include <functional>

#include "WinApi.h"

// Sits between the code under test and the registry (the test links with the
// linker's symbol wrapping): makes chosen calls fail or lets something happen
// just before them.
// Subjects: RegOpenKeyExW, RegCreateKeyExW, RegDeleteKeyW: the subkey;
// RegSetValueExW, RegDeleteValueW: the value name; RegEnumValueW,
// RegEnumKeyExW: the index; RegQueryInfoKeyW, RegQueryValueExW: "call N",
// counting that function's calls from 1 since the last reset.
class RegistryFaults
{
public:
    static void reset();
    // The next call of `function` on `subject` first runs `action`, then answers
    // `code` unseen by the registry, or goes ahead when `code` is ERROR_SUCCESS.
    static void failOnce(const QString& function, const QString& subject, LONG code,
                         std::function<void()> action = {});

    // For the wrappers: a non-zero answer replaces the real call. A null
    // subject stands for the function's next call number.
    static LONG intercept(const QString& function, QString subject);
};
