#include "thread/tls_mutex.h"

#include "platform/process.h"
#include "thread/tls_names.h"

namespace zel {
namespace {

// Closed at module unload through the runtime's exit list.
TlsMutex moduleTlsMutex;

} // namespace

TlsMutex &ModuleTlsMutex() { return moduleTlsMutex; }

platform::NamedMutex *TlsMutex::Handle() {
    platform::NamedMutex *handle = handle_.load(std::memory_order_acquire);
    if (handle != nullptr)
        return handle;
    const std::wstring name = TlsObjectName(kTlsMutexPrefix, platform::CurrentProcessId());
    platform::NamedMutex *opened = platform::OpenNamedMutex(name.c_str());
    if (opened == nullptr)
        return nullptr;
    // two first uses at once: one handle is kept, the other closed
    if (handle_.compare_exchange_strong(handle, opened, std::memory_order_acq_rel))
        return opened;
    platform::CloseNamedMutex(opened);
    return handle;
}

bool TlsMutex::Lock() {
    platform::NamedMutex *handle = Handle();
    return handle != nullptr && platform::LockNamedMutex(handle);
}

void TlsMutex::Unlock() {
    platform::NamedMutex *handle = handle_.load(std::memory_order_acquire);
    if (handle != nullptr)
        platform::UnlockNamedMutex(handle);
}

void TlsMutex::Close() {
    platform::NamedMutex *handle = handle_.exchange(nullptr, std::memory_order_acq_rel);
    if (handle != nullptr)
        platform::CloseNamedMutex(handle);
}

} // namespace zel
