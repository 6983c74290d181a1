#pragma once

#include <QString>

// Makes the files of one folder undeletable for this process, the way a
// module loaded by a running program cannot be deleted on Windows: the
// folder loses its write permission and, when the test runs as root, the
// process gives up its right to override file permissions until unlocked.
class FolderLock
{
public:
    explicit FolderLock(const QString& folder);
    ~FolderLock();
    bool isLocked() const { return m_locked; }
    void unlock();

private:
    QString m_folder;
    bool m_locked = false;
    bool m_droppedOverride = false;
};
