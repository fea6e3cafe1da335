// A module's handle on the process-wide mutex of the thread-exit registry.
#pragma once

#include <atomic>

#include "platform/named.h"

namespace zel {

class TlsMutex {
public:
    constexpr TlsMutex() = default;
    // Module unload (library unload or process exit) closes the handle.
    ~TlsMutex() { Close(); }
    TlsMutex(const TlsMutex &) = delete;
    TlsMutex &operator=(const TlsMutex &) = delete;

    // Creates or opens the named mutex on first use, then waits without limit.
    bool Lock();
    void Unlock();
    void Close();
    bool HasHandle() const { return handle_.load(std::memory_order_acquire) != nullptr; }

private:
    platform::NamedMutex *Handle();

    std::atomic<platform::NamedMutex *> handle_{nullptr};
};

// This module's instance.
TlsMutex &ModuleTlsMutex();

} // namespace zel
