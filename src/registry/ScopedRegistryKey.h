#pragma once

#include "WinApi.h"

// Owns one registry key handle opened for a single operation and closes it
// when the operation's scope ends, on every return path.
class ScopedRegistryKey
{
public:
    ScopedRegistryKey() = default;
    explicit ScopedRegistryKey(HKEY handle) : m_handle(handle) {}
    ~ScopedRegistryKey();

    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    HKEY get() const { return m_handle; }
    bool isOpen() const { return m_handle != nullptr; }

    // Closes the handle now instead of at the end of the scope.
    void close();

private:
    HKEY m_handle = nullptr;
};
