#include "support/stand_in_lock.h"

#include "platform/lock.h"

#include <atomic>
#include <mutex>

namespace {

std::atomic<zeltest::LockObserver *> observer{nullptr};

} // namespace

namespace zeltest {

void ObserveLocks(LockObserver *newObserver) { observer = newObserver; }

} // namespace zeltest

namespace zel::platform {

struct RecursiveLock {
    std::recursive_mutex mutex;
};

RecursiveLock *NewRecursiveLock() { return new RecursiveLock; }

void AcquireRecursiveLock(RecursiveLock *lock) {
    zeltest::LockObserver *const watching = observer;
    if (!lock->mutex.try_lock()) {
        if (watching)
            watching->FoundHeld();
        lock->mutex.lock();
    }
    if (watching)
        watching->Taken();
}

void ReleaseRecursiveLock(RecursiveLock *lock) { lock->mutex.unlock(); }

void DeleteRecursiveLock(RecursiveLock *lock) { delete lock; }

} // namespace zel::platform
