#include "thread/lock.h"

#include <new>

namespace zel {

Lock CreateLock() {
    Lock lock = platform::NewRecursiveLock();
    if (lock == nullptr)
        throw std::bad_alloc();
    return lock;
}

void EnterLock(Lock lock) { platform::AcquireRecursiveLock(lock); }

void LeaveLock(Lock lock) { platform::ReleaseRecursiveLock(lock); }

void DestroyLock(Lock lock) { platform::DeleteRecursiveLock(lock); }

} // namespace zel
