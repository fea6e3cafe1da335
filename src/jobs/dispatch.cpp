#include "jobs/dispatch.h"

#include "platform/abandon.h"
#include "zelapi.h"

namespace zel {

HandlerDispatch::HandlerDispatch() : callLock_(CreateLock()) {}

void HandlerDispatch::Install(ZelHandler *handler) {
    handler_.store(handler);
    // a callback that loaded the old handler holds the call lock until it returns
    const ScopedLock wait(callLock_.load());
}

template <typename Call>
void HandlerDispatch::Dispatch(Call call) {
    const ScopedLock guard(callLock_.load());
    ZelHandler *handler = handler_.load();
    if (handler == nullptr || platform::CurrentThreadAbandoned()) {
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

void HandlerDispatch::GiveUpOnRunningCallback() {
    retiredLocks_.push_back(callLock_.exchange(CreateLock()));
}

} // namespace zel
