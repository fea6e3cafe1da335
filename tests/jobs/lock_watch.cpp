#include "lock_watch.h"

#include <condition_variable>
#include <mutex>
#include <utility>

#include "support/stand_in_lock.h"

namespace {

struct Watch {
    std::mutex mutex; // guards the two flags
    std::condition_variable changed;
    bool foundHeld = false; // the watched thread found the lock taken
    bool returned = false;  // its call returned
};

Watch *watch = nullptr;            // set while a watched call runs
thread_local bool watched = false; // this thread is the one under watch

void Tell(bool Watch::*flag) {
    const std::lock_guard guard(watch->mutex);
    watch->*flag = true;
    watch->changed.notify_all();
}

class TellFoundHeld : public zeltest::LockObserver {
    void FoundHeld() override {
        if (watched)
            Tell(&Watch::foundHeld);
    }
};

} // namespace

namespace zeltest {

Seen WatchedCall::Start(std::function<void()> call) {
    // one watch for the process; made once, kept, as a call may outlive its caller's frame
    static Watch *const shared = new Watch;
    static auto *const observer = new TellFoundHeld;
    ObserveLocks(observer);
    {
        const std::lock_guard guard(shared->mutex);
        shared->foundHeld = false;
        shared->returned = false;
    }
    watch = shared;
    thread_.emplace([call = std::move(call)] {
        watched = true;
        call();
        Tell(&Watch::returned);
    });
    std::unique_lock guard(shared->mutex);
    shared->changed.wait(guard, [] { return watch->foundHeld || watch->returned; });
    return watch->foundHeld ? Seen::Waited : Seen::Returned;
}

void WatchedCall::Join() {
    if (thread_) {
        thread_->join();
        thread_.reset();
    }
}

} // namespace zeltest
