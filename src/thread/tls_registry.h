// Thread-exit registry: a process-wide table of per-thread clean-up work,
// shared by every module of the process that takes part in it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/named.h"

namespace zel {

struct TlsEntry;

using TlsCleanup = void (*)(void *value);

// Word 1 is the clean-up function (null: none); word 0 belongs to the registering side.
struct TlsKey {
    void *registrar;
    TlsCleanup cleanup;
};

// One registered piece of clean-up work; allocated with `new` by the
// registering side and deleted by RunThreadExitCleanup.
struct TlsEntry {
    TlsKey *key;            // never null
    void *value;            // what to dispose of; null: nothing
    TlsEntry *next;         // following entry of the same thread
    void *registrar;        // the registering side's word
    TlsEntry *keyNext;      // following entry of the same key, across threads
    TlsEntry **keyPrevLink; // the word that points at this entry in its key's list
};

struct TlsThreadRecord {
    TlsEntry *entries;
    TlsThreadRecord *next;      // following record of the process
    TlsThreadRecord **prevLink; // the block's `threads` word or the preceding record's `next`
};

// The shared block: three words, pointer-sized so that `threads` holds an address on 64-bit too.
struct TlsBlock {
    uintptr_t refCount;       // attachments; each registry adds 1, nothing subtracts
    uintptr_t slot;           // thread-local slot holding each thread's record
    TlsThreadRecord *threads; // first record of the process, or null
};
static_assert(sizeof(TlsBlock) == 3 * sizeof(void *));
#if UINTPTR_MAX == 0xFFFFFFFFu
// every 32-bit module of the process maps the same 12 bytes
static_assert(sizeof(TlsBlock) == 12, "the shared block is three 32-bit words");
#endif

// A module's attachment to the shared block. Every change to the block, the
// records' entry lists and the keys' lists is made under ModuleTlsMutex().
class TlsRegistry {
public:
    // The calling thread's record; with `create` a new one if it has none.
    // Attaches the registry first if it is not attached.
    TlsThreadRecord *GetThreadRecord(bool create);
    // This module's view of the block; null until attached.
    TlsBlock *Block() const { return view_.load(std::memory_order_acquire); }

private:
    bool Attach();

    void *handle_ = nullptr; // written once, under the mutex
    std::atomic<TlsBlock *> view_{nullptr};
};

// Runs and removes every entry of the calling thread, then its record.
// Returns at once, touching nothing, while the module has no registry.
void RunThreadExitCleanup();

// The module-wide registry pointer; empty throughout the library. Only a
// registering side sets it.
TlsRegistry *ModuleTlsRegistry();
void SetModuleTlsRegistry(TlsRegistry *registry);

} // namespace zel
