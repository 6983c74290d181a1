#pragma once

#include <QStringList>
#include <QTextStream>

// The "reg" command of vexor-host: Windows' reg.exe command lines (query,
// add, delete, export, import) over the registry API.
class RegCommand
{
public:
    // arguments: everything after "reg". Returns the process exit code.
    static int run(const QStringList& arguments, QTextStream& out, QTextStream& err);
};
