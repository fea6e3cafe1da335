// For the programs that watch the job's locks: over the stand-in recursive
// lock (support/stand_in_lock.h), it tells for the one thread under watch
// whether that thread found the lock held by someone else when it came to
// take it.
//
// No timing: a watched call ends in finite time either by returning or by
// finding a lock held (it then waits for it), so a wrong lock discipline
// fails a test instead of hanging it.
#pragma once

#include <functional>
#include <optional>
#include <thread>

namespace zeltest {

enum class Seen { Waited, Returned };

// Runs a call on a thread of its own, under watch; one watched call at a time.
class WatchedCall {
public:
    // Starts `call` and waits until it either found a lock held or returned.
    Seen Start(std::function<void()> call);
    // Waits for the call to return.
    void Join();

    ~WatchedCall() { Join(); }

private:
    std::optional<std::thread> thread_;
};

} // namespace zeltest
