#include "platform/lock.h"

#include <windows.h>

namespace zel::platform {

// A critical section is recursive by nature.
struct RecursiveLock {
    CRITICAL_SECTION section;
};

RecursiveLock *NewRecursiveLock() {
    auto *lock = new RecursiveLock;
    InitializeCriticalSection(&lock->section);
    return lock;
}

void AcquireRecursiveLock(RecursiveLock *lock) { EnterCriticalSection(&lock->section); }

void ReleaseRecursiveLock(RecursiveLock *lock) { LeaveCriticalSection(&lock->section); }

void DeleteRecursiveLock(RecursiveLock *lock) {
    DeleteCriticalSection(&lock->section);
    delete lock;
}

} // namespace zel::platform
