#pragma once

#include <QString>

// How one install or removal ended, as its caller needs to know it.
struct ProcedureOutcome
{
    // The install found no CSP folder and did nothing.
    bool cancelled = false;
    // Some step reported an error line.
    bool failed = false;
    // The last line the procedure logged.
    QString closingLine;
};
