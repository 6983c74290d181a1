#pragma once

#include <QString>
#include <QTextStream>

// What the installer (or anything else) changed on the host: a snapshot of
// its registry and of the files under drive_c, kept in the host folder as
// snapshots/NAME.db, and the differences from one to the host as it is now.
class HostSnapshot
{
public:
    // Records the host under NAME, replacing an earlier snapshot of that name.
    static int take(const QString& name, QTextStream& out, QTextStream& err);
    // Prints the changes since NAME, sorted: registry lines as in a .reg
    // file, "+" added, "-" removed, a changed value as both; " [KEY]" heads
    // the changed values of a key there before and now. Then files, with
    // their sizes. With asReg, a .reg file that makes the snapshot's registry
    // into the present one.
    static int diff(const QString& name, bool asReg, QTextStream& out, QTextStream& err);
};
