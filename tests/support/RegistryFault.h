#pragma once

#include <QList>
#include <QString>

#include "WinApi.h"

// Stands between the code under test and the registry (a test linked with
// vexor_wrap_registry(), the linker's symbol wrapping): an armed fault's next
// call of `function` on `subject` answers `code` unseen by the registry, or
// goes ahead when `code` is ERROR_SUCCESS; a lasting fault answers every such
// call. Subjects: RegOpenKeyExW, RegDeleteKeyExW: the subkey; RegSetValueExW,
// RegDeleteValueW: the value name; RegEnumValueW: the index;
// RegQueryInfoKeyW: "#N", its Nth call since the fault was armed. "*TEXT"
// stands for any subject that ends with TEXT.
struct RegistryFault
{
    QString function, subject;
    LONG code = ERROR_SUCCESS;
    bool lasting = false;
    int calls = 0;

    static QList<RegistryFault> armed;
};
