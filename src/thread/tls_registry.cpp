#include "thread/tls_registry.h"

#include "platform/process.h"
#include "platform/tls.h"
#include "thread/tls_mutex.h"
#include "thread/tls_names.h"

namespace zel {
namespace {

// Empty throughout the library: nothing in it registers clean-up work.
std::atomic<TlsRegistry *> moduleRegistry{nullptr};

// Holds the process-wide mutex for one scope; `held` is false when it could not be taken.
class RegistryLock {
public:
    RegistryLock() : held(ModuleTlsMutex().Lock()) {}
    ~RegistryLock() {
        if (held)
            ModuleTlsMutex().Unlock();
    }
    RegistryLock(const RegistryLock &) = delete;
    RegistryLock &operator=(const RegistryLock &) = delete;

    const bool held;
};

void LinkRecord(TlsBlock *block, TlsThreadRecord *record) {
    record->next = block->threads;
    if (record->next != nullptr)
        record->next->prevLink = &record->next;
    record->prevLink = &block->threads;
    block->threads = record;
}

void UnlinkRecord(TlsThreadRecord *record) {
    *record->prevLink = record->next;
    if (record->next != nullptr)
        record->next->prevLink = record->prevLink;
}

// Takes the thread's first entry off its list and off its key's list; null when none is left.
TlsEntry *TakeFirstEntry(TlsThreadRecord *record) {
    TlsEntry *entry = record->entries;
    if (entry == nullptr)
        return nullptr;
    record->entries = entry->next;
    *entry->keyPrevLink = entry->keyNext;
    if (entry->keyNext != nullptr)
        entry->keyNext->keyPrevLink = entry->keyPrevLink;
    return entry;
}

void Dispose(TlsEntry *entry) {
    TlsCleanup cleanup = entry->key->cleanup;
    if (cleanup != nullptr && entry->value != nullptr) {
        try {
            cleanup(entry->value);
        } catch (...) {
            // a failing clean-up must not keep the thread's other entries from theirs
        }
    }
    delete entry;
}

} // namespace

TlsRegistry *ModuleTlsRegistry() { return moduleRegistry.load(std::memory_order_acquire); }

void SetModuleTlsRegistry(TlsRegistry *registry) { moduleRegistry.store(registry, std::memory_order_release); }

bool TlsRegistry::Attach() {
    const std::wstring name = TlsObjectName(kTlsMemoryPrefix, platform::CurrentProcessId());
    RegistryLock lock;
    if (!lock.held)
        return false;
    if (Block() != nullptr)
        return true; // another thread of this module attached first
    platform::NamedBlock block{};
    if (!platform::OpenNamedBlock(name.c_str(), sizeof(TlsBlock), &block))
        return false;
    auto *view = static_cast<TlsBlock *>(block.view);
    // a count of 0 in a block that existed: its maker could not finish it
    if (!block.existed || view->refCount == 0) {
        uint32_t slot = 0;
        if (!platform::AllocThreadSlot(&slot))
            return false;
        *view = TlsBlock{0, slot, nullptr};
    }
    ++view->refCount;
    handle_ = block.handle;
    view_.store(view, std::memory_order_release);
    return true;
}

TlsThreadRecord *TlsRegistry::GetThreadRecord(bool create) {
    if (Block() == nullptr && !Attach())
        return nullptr;
    TlsBlock *block = Block();
    const auto slot = static_cast<uint32_t>(block->slot);
    auto *record = static_cast<TlsThreadRecord *>(platform::GetThreadSlot(slot));
    if (!create || record != nullptr)
        return record;
    record = new TlsThreadRecord{nullptr, nullptr, nullptr};
    {
        RegistryLock lock;
        if (!lock.held) {
            delete record;
            return nullptr;
        }
        LinkRecord(block, record);
    }
    platform::SetThreadSlot(slot, record);
    return record;
}

void RunThreadExitCleanup() {
    TlsRegistry *registry = ModuleTlsRegistry();
    if (registry == nullptr)
        return;
    TlsThreadRecord *record = registry->GetThreadRecord(false);
    if (record == nullptr)
        return;
    for (;;) {
        TlsEntry *entry;
        {
            RegistryLock lock;
            if (!lock.held)
                return;
            entry = TakeFirstEntry(record);
            if (entry == nullptr) {
                UnlinkRecord(record);
                break;
            }
        }
        Dispose(entry); // the mutex is free: a clean-up may take it itself
    }
    delete record;
    platform::SetThreadSlot(static_cast<uint32_t>(registry->Block()->slot), nullptr);
}

} // namespace zel
