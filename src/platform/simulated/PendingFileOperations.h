#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The PendingFileRenameOperations value as Windows keeps it: a REG_MULTI_SZ
// of (source, target) pairs, each path prefixed with "\??\", an empty
// target meaning delete and a target prefixed with "!" replacing an
// existing file. Empty strings inside the list are data, not its end.
class PendingFileOperations
{
public:
    static constexpr const char* keyPath = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    static constexpr const char* valueName = "PendingFileRenameOperations";

    static PendingFileOperations fromData(const QByteArray& data);
    QByteArray toData() const;

    void append(const QString& source, const QString& target);
    bool isEmpty() const { return pairs.isEmpty(); }
    // Paths without the "\??\" prefix; target empty for a deletion.
    QList<QPair<QString, QString>> operations() const;

private:
    QList<QPair<QString, QString>> pairs; // as stored, with prefixes
};
