#pragma once

#include <QString>
#include <QStringList>

#include <functional>

#include "WinApi.h"

// Sits between the code under test and the registry (the test links with the
// linker's symbol wrapping): records the rights every open and create asks
// for, and makes chosen calls fail or lets something happen just before them.
// Subjects: RegOpenKeyExW, RegCreateKeyExW, RegDeleteKeyW: the subkey;
// RegSetValueExW, RegDeleteValueW: the value name; RegEnumValueW,
// RegEnumKeyExW: the index; RegQueryInfoKeyW, RegQueryValueExW: "call N",
// counting that function's calls from 1 since the last reset.
class RegistryFaults
{
public:
    static void reset();
    // The next call of `function` on `subject` answers `code` unseen by the registry.
    static void failOnce(const QString& function, const QString& subject, LONG code);
    // `action` runs just before the next call of `function` on `subject`, which then goes ahead.
    static void beforeOnce(const QString& function, const QString& subject,
                           std::function<void()> action);
    // Every rights mask asked for by an open or create since the reset, in hex, sorted, once each.
    static QStringList rightsAsked();

    // For the wrappers: a non-zero answer replaces the real call.
    static LONG intercept(const QString& function, const QString& subject, REGSAM rights = 0);
    static QString nextCallNumber(const QString& function);
};
