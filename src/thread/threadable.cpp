#include "thread/threadable.h"

#include <atomic>

#include "platform/thread.h"
#include "thread/tls_registry.h"

namespace zel {
namespace {

// The flags of one thread, in one word: a stop request and the thread's
// beginning each change it in one atomic step, so no lock is needed that a
// thread ended forcibly could leave held.
constexpr uint32_t kStarted = 1;         // created or begun, and not yet reaped
constexpr uint32_t kStopBeforeStart = 2; // a stop came while no thread was marked started
constexpr uint32_t kKeepRunning = 4;     // no stop asked for since Start, and Run not returned

} // namespace

struct ThreadState {
    platform::Thread *handle = nullptr; // the last created thread not yet reaped; owner only
    std::atomic<uint32_t> flags{kKeepRunning};
    uint32_t threadId = 0;             // owner only
    std::atomic<uint32_t> exitCode{0}; // Run's result or kExitStoppedBeforeStart

    bool Has(uint32_t flag) const { return (flags.load() & flag) != 0; }
    // Lets go of the ended (or given-up) thread; false when its handle would not close.
    bool Reap() {
        const bool closed = platform::CloseThread(handle);
        handle = nullptr;
        flags.fetch_and(~kStarted);
        return closed;
    }
    // A stop: before the thread was marked started it keeps the thread from
    // running at all; either way Run sees it through StopRequested.
    void MarkStopRequested() {
        uint32_t now = flags.load();
        uint32_t next;
        do {
            next = (now & kStarted) != 0 ? now & ~kKeepRunning : (now | kStopBeforeStart) & ~kKeepRunning;
        } while (!flags.compare_exchange_weak(now, next));
    }
};

Threadable::Threadable() : state_(new ThreadState) {}

Threadable::~Threadable() {
    if (IsRunning())
        Stop(1000);
    if (state_->handle != nullptr)
        platform::CloseThread(state_->handle);
    delete state_;
}

bool Threadable::Start() {
    ThreadState &state = *state_;
    if (state.Has(kStarted)) {
        if (state.Has(kKeepRunning))
            return false;
        if (!Wait(0))
            return false; // never two threads on one object
    }
    state.flags.store(kKeepRunning);
    platform::Thread *thread = platform::StartThread(ThreadMain, this, &state.threadId);
    if (thread == nullptr)
        return false;
    state.flags.fetch_or(kStarted);
    state.handle = thread;
    return true;
}

bool Threadable::IsRunning() {
    const ThreadState &state = *state_;
    return state.Has(kStarted) && state.handle != nullptr &&
           platform::WaitThread(state.handle, 0) != platform::WaitResult::Ended;
}

void Threadable::RequestStop() {
    // a thread given up on asks nothing: the flags may already be a newer thread's
    if (!platform::BeginOwnerAccess())
        return;
    state_->MarkStopRequested();
    platform::EndOwnerAccess();
}

bool Threadable::Wait(uint32_t timeoutMs) {
    ThreadState &state = *state_;
    if (state.handle == nullptr)
        return true;
    const uint32_t limit = timeoutMs == 0 ? platform::kWaitForever : timeoutMs;
    if (platform::WaitThread(state.handle, limit) != platform::WaitResult::Ended)
        return false;
    state.Reap();
    return true;
}

bool Threadable::Stop(uint32_t timeoutMs) {
    ThreadState &state = *state_;
    state.MarkStopRequested();
    if (Wait(timeoutMs))
        return true;
    // the thread is gone even if its end cannot be confirmed in time
    platform::EndThreadForcibly(state.handle, kExitForcedEnd);
    return state.Reap();
}

bool Threadable::StopRequested() const {
    // an abandoned thread must not look at state that may belong to a newer thread
    if (!platform::BeginOwnerAccess())
        return true;
    const bool requested = !state_->Has(kKeepRunning);
    platform::EndOwnerAccess();
    return requested;
}

uint32_t Threadable::ExitCode() const { return state_->exitCode; }

bool Threadable::HoldsThread() const { return state_->handle != nullptr; }

uint32_t Threadable::ThreadMain(void *threadable) {
    auto *self = static_cast<Threadable *>(threadable);
    if (!self->BeginThread())
        return kExitStoppedBeforeStart;
    const uint32_t result = self->Run();
    self->FinishThread(result);
    RunThreadExitCleanup();
    return result;
}

// Marks the thread started; false when a stop came first (or the owner gave up on it).
bool Threadable::BeginThread() {
    if (!platform::BeginOwnerAccess())
        return false;
    ThreadState &state = *state_;
    const bool run = (state.flags.fetch_or(kStarted) & kStopBeforeStart) == 0;
    if (!run)
        state.exitCode = kExitStoppedBeforeStart;
    platform::EndOwnerAccess();
    return run;
}

void Threadable::FinishThread(uint32_t result) {
    if (!platform::BeginOwnerAccess())
        return;
    state_->exitCode = result;
    state_->flags.fetch_and(~kKeepRunning);
    platform::EndOwnerAccess();
}

} // namespace zel
