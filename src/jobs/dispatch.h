// The one path from a job to the installed handler: a host's ZelHandler or
// the library's copy of a host's C callbacks. Every callback goes through
// here, so the rules hold for both: a callback that throws is caught (the
// job goes on as if it had returned), a thread that a stop gave up on calls
// nothing, and once Install has returned (called outside a callback) no
// callback of the earlier handler runs or is still running.
#pragma once

#include <atomic>
#include <vector>

#include "thread/lock.h"
#include "thread/no_copy.h"

class ZelHandler;

namespace zel {

class HandlerDispatch : private NoCopy {
public:
    HandlerDispatch();

    // Null removes the handler. Outside a callback it waits for a callback
    // that is running to return; inside one (on that thread) it does not.
    // False, with nothing changed, on a thread that a stop gave up on.
    bool Install(ZelHandler *handler);

    // Holds the call lock over a scope. A caller that also takes its own
    // lock around a callback takes the call lock first: a callback that
    // takes that lock (through a status export) then keeps the same order.
    class CallScope : private NoCopy {
    public:
        explicit CallScope(HandlerDispatch &dispatch) : guard_(dispatch.callLock_.load()) {}

    private:
        ScopedLock guard_;
    };

    void Progress(int percent);
    void Result(int result);
    void State(const char *state);
    void Message(const char *text);

    // After a forced end: the thread given up on may be inside a callback
    // for ever; later callbacks and installs no longer wait for it.
    void GiveUpOnRunningCallback();

private:
    template <typename Call> void Dispatch(Call call);
    // The handler to call now; null when none is installed or this thread
    // was given up on.
    ZelHandler *HandlerToCall();

    // Held by every callback while it runs, and taken once by Install to
    // wait for the one running. Replaced by GiveUpOnRunningCallback;
    // retired locks are kept, never destroyed.
    std::atomic<Lock> callLock_;
    std::vector<Lock> retiredLocks_;             // owner only (the thread that stops jobs)
    std::atomic<ZelHandler *> handler_{nullptr}; // not owned
};

} // namespace zel
