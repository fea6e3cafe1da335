// Which callbacks run with the job's lock held: inside OnProgressChange a
// host thread's zelGetProgress waits for the callback to return; inside
// OnStateChange it returns at once.
//
// No timing: this program brings its own recursive lock (it replaces the
// platform's, which the linker then leaves out of the library archive). It is
// a real recursive mutex that also tells, for the one thread under watch,
// whether that thread found the lock held by someone else when it came to
// take it. The callback starts the thread and waits until it either found
// the lock held (it now waits for it) or returned from zelGetProgress; either
// event comes in finite time, so a wrong lock discipline fails the test
// instead of hanging it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/lock.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace {

struct Watch {
    std::mutex mutex;   // guards the two flags
    std::condition_variable changed;
    bool foundHeld = false;   // the watched thread found the lock taken
    bool returned = false;    // its zelGetProgress returned
};

Watch *watch = nullptr;                 // set while a watched thread runs
thread_local bool watched = false;      // this thread is the one under watch

void Tell(bool Watch::*flag) {
    const std::lock_guard guard(watch->mutex);
    watch->*flag = true;
    watch->changed.notify_all();
}

} // namespace

namespace zel::platform {

struct RecursiveLock {
    std::recursive_mutex mutex;
};

RecursiveLock *NewRecursiveLock() { return new RecursiveLock; }

void AcquireRecursiveLock(RecursiveLock *lock) {
    if (lock->mutex.try_lock()) {
        return;
    }
    if (watched) {
        Tell(&Watch::foundHeld);
    }
    lock->mutex.lock();
}

void ReleaseRecursiveLock(RecursiveLock *lock) { lock->mutex.unlock(); }

void DeleteRecursiveLock(RecursiveLock *lock) { delete lock; }

} // namespace zel::platform

namespace {

enum class Seen { Nothing, Waited, Returned };

// Starts a host thread calling zelGetProgress and waits until it either
// found the job's lock held or got its answer.
class ProgressReader {
public:
    Seen Start() {
        watch = &watch_;
        thread_.emplace([] {
            watched = true;
            zelGetProgress();
            Tell(&Watch::returned);
        });
        std::unique_lock guard(watch_.mutex);
        watch_.changed.wait(guard, [&] { return watch_.foundHeld || watch_.returned; });
        return watch_.foundHeld ? Seen::Waited : Seen::Returned;
    }
    void Join() {
        if (thread_) {
            thread_->join();
            thread_.reset();
        }
    }

private:
    Watch watch_;
    std::optional<std::thread> thread_;
};

class LockWatchingHandler : public ZelHandler {
public:
    void OnProgressChange(int) override {
        if (!progressSeen) {
            progressSeen = progressReader.Start();
        }
    }
    void OnStateChange(const char *) override {
        if (!stateSeen) {
            stateSeen = stateReader.Start();
            if (stateSeen == Seen::Returned) {
                stateReader.Join();   // it completed while this callback still runs
            }
        }
    }

    ProgressReader progressReader, stateReader;
    std::optional<Seen> progressSeen, stateSeen;
};

class CallbackLock : public zeltest::LinkTest {};

TEST_F(CallbackLock, ProgressCallbackHoldsTheJobLockAndStateCallbackDoesNot) {
    ASSERT_TRUE(Attach("SIMPART=24C02", 8, 0));
    LockWatchingHandler handler;
    SetZelHandler(&handler);
    uint8_t bytes[16];
    EXPECT_EQ(zelReadMemory(0, bytes, sizeof bytes, 1), 1);
    SetZelHandler(nullptr);
    handler.progressReader.Join();   // it gets the lock once the callback has returned
    handler.stateReader.Join();

    EXPECT_EQ(handler.stateSeen, Seen::Returned) << "zelGetProgress waited inside OnStateChange";
    EXPECT_EQ(handler.progressSeen, Seen::Waited) << "zelGetProgress did not wait inside OnProgressChange";
}

} // namespace
