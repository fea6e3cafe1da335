#include "jobs/dispatch.h"

#include "platform/abandon.h"
#include "platform/thread.h"
#include "zelapi.h"

namespace zel {

HandlerDispatch::HandlerDispatch() : callLock_(CreateLock()) {}

bool HandlerDispatch::Install(ZelHandler *handler) {
    // a host's handler released on a thread given up on installs nothing
    if (platform::CurrentThreadAbandoned()) {
        return false;
    }
    handler_.store(handler);
    // a callback that loaded the old handler holds the call lock until it returns
    const ScopedLock wait(callLock_.load());
    return true;
}

ZelHandler *HandlerDispatch::HandlerToCall() {
    // decided under the owner's guard: a stop either gave up on this thread
    // before (no call), or finds the call begun, as it finds a stuck one
    if (!platform::BeginOwnerAccess()) {
        return nullptr;
    }
    ZelHandler *handler = handler_.load();
    platform::EndOwnerAccess();
    return handler;
}

template <typename Call> void HandlerDispatch::Dispatch(Call call) {
    if (platform::CurrentThreadAbandoned()) {
        return; // not even the call lock: it may be the next job's by now
    }
    const ScopedLock guard(callLock_.load());
    ZelHandler *handler = HandlerToCall();
    if (handler == nullptr) {
        return;
    }
    try {
        call(*handler);
    } catch (...) {
        // the host's exception ends here: the job goes on as if the callback had returned
    }
}

void HandlerDispatch::Progress(int percent) {
    Dispatch([percent](ZelHandler &h) { h.OnProgressChange(percent); });
}

void HandlerDispatch::Result(int result) {
    Dispatch([result](ZelHandler &h) { h.OnResult(result); });
}

void HandlerDispatch::State(const char *state) {
    Dispatch([state](ZelHandler &h) { h.OnStateChange(state); });
}

void HandlerDispatch::Message(const char *text) {
    Dispatch([text](ZelHandler &h) { h.OnMessage(text); });
}

void HandlerDispatch::GiveUpOnRunningCallback() { retiredLocks_.push_back(callLock_.exchange(CreateLock())); }

} // namespace zel
