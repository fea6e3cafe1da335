// The library's one lock abstraction: a recursive lock in memory of its own.
#pragma once

#include "platform/lock.h"
#include "thread/no_copy.h"

namespace zel {

using Lock = platform::RecursiveLock *;

// Never null: a lock that cannot be made ends the process like any other
// failed allocation.
Lock CreateLock();
void EnterLock(Lock lock);
void LeaveLock(Lock lock);
void DestroyLock(Lock lock);

// Holds a lock from construction to destruction, on every way out of the scope.
class ScopedLock : private NoCopy {
public:
    explicit ScopedLock(Lock lock) : lock_(lock) { EnterLock(lock_); }
    ~ScopedLock() { LeaveLock(lock_); }

private:
    Lock lock_;
};

} // namespace zel
