#include "FolderLock.h"

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QFile>

namespace {
// Capabilities belong to the calling thread; the engine deletes on this one.
bool setEffectiveCapability(int capability, bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << (capability % 32);
    if (on)
        data[capability / 32].effective |= bit;
    else
        data[capability / 32].effective &= ~bit;
    return syscall(SYS_capset, &header, data) == 0;
}
} // namespace

FolderLock::FolderLock(const QString& folder) : m_folder(folder)
{
    if (chmod(QFile::encodeName(folder).constData(), 0555) != 0)
        return;
    if (geteuid() == 0) {
        if (!setEffectiveCapability(CAP_DAC_OVERRIDE, false)) {
            chmod(QFile::encodeName(folder).constData(), 0755);
            return;
        }
        m_droppedOverride = true;
    }
    m_locked = true;
}

FolderLock::~FolderLock()
{
    unlock();
}

void FolderLock::unlock()
{
    if (!m_locked)
        return;
    if (m_droppedOverride)
        setEffectiveCapability(CAP_DAC_OVERRIDE, true);
    chmod(QFile::encodeName(m_folder).constData(), 0755);
    m_locked = false;
}
