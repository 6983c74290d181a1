#include "ScopedRegistryKey.h"

ScopedRegistryKey::~ScopedRegistryKey()
{
    close();
}

void ScopedRegistryKey::close()
{
    if (m_handle) {
        RegCloseKey(m_handle);
        m_handle = nullptr;
    }
}
