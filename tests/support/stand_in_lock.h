// For the programs that watch the platform's recursive lock: they link this
// stand-in (an object library, so that it replaces the platform's lock and
// the linker leaves that one out of the library archive). It is a real
// recursive mutex that tells one observer, for every thread, when a thread
// found the lock held by another and when it took it.
#pragma once

namespace zeltest {

class LockObserver {
public:
    // The lock is another thread's: the calling thread waits for it next.
    virtual void FoundHeld() {}
    // The calling thread holds the lock now.
    virtual void Taken() {}

protected:
    ~LockObserver() = default;
};

// Sets the observer of every thread's acquisitions (null: none). The
// observer outlives every thread that may take a lock.
void ObserveLocks(LockObserver *observer);

} // namespace zeltest
