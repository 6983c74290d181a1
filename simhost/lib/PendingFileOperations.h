#pragma once

#include "SimulatedWinApi.h"

#include <QByteArray>
#include <QList>
#include <QString>

class RegistryStore;

// The PendingFileRenameOperations value as Windows keeps it: a REG_MULTI_SZ
// of (source, target) pairs, each path prefixed with "\??\", an empty
// target meaning delete and a target prefixed with "!" replacing an
// existing file. Empty strings inside the list are data, not its end.
class PendingFileOperations
{
public:
    struct Operation
    {
        QString source; // paths without the "\??\" prefix
        QString target; // empty: the source is deleted
        bool replaces = false;
    };

    // Inside the caller's transaction; a missing key or value is an empty
    // queue.
    static LONG read(RegistryStore& store, PendingFileOperations* pending);
    // Makes the key where Windows keeps the value when it is missing.
    LONG write(RegistryStore& store) const;
    // What a restart does once it has carried the queue out.
    static LONG clear(RegistryStore& store);

    void append(const Operation& operation) { m_operations.append(operation); }
    const QList<Operation>& operations() const { return m_operations; }

private:
    static PendingFileOperations fromData(const QByteArray& data);
    QByteArray toData() const;

    QList<Operation> m_operations;
};
