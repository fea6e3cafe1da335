#include "thread/threadable.h"

#include <atomic>

#include "platform/thread.h"
#include "thread/lock.h"
#include "thread/tls_registry.h"

namespace zel {

struct ThreadState {
    platform::Thread *handle = nullptr;   // the last created thread not yet reaped; owner only
    Lock lock = CreateLock();             // makes a stop request and the thread's beginning atomic
    // The flags are atomic because the owner and the thread also read them outside the lock.
    std::atomic<bool> started{false};          // created or begun, and not yet reaped
    std::atomic<bool> stopBeforeStart{false};  // a stop came while no thread was marked started
    std::atomic<bool> keepRunning{true};       // no stop asked for since Start, and Run not returned
    uint32_t threadId = 0;                     // owner only
    std::atomic<uint32_t> exitCode{0};         // Run's result or kExitStoppedBeforeStart
};

Threadable::Threadable() : state_(new ThreadState) {}

Threadable::~Threadable() {
    if (IsRunning()) Stop(1000);
    if (state_->handle != nullptr) platform::CloseThread(state_->handle);
    DestroyLock(state_->lock);
    delete state_;
}

bool Threadable::Start() {
    ThreadState &state = *state_;
    if (state.started) {
        if (state.keepRunning) return false;
        if (!Wait(0)) return false;  // never two threads on one object
    }
    state.keepRunning = true;
    state.stopBeforeStart = false;
    platform::Thread *thread = platform::StartThread(ThreadMain, this, &state.threadId);
    if (thread == nullptr) return false;
    state.started = true;
    state.handle = thread;
    return true;
}

bool Threadable::IsRunning() {
    const ThreadState &state = *state_;
    return state.started && state.handle != nullptr &&
           platform::WaitThread(state.handle, 0) != platform::WaitResult::Ended;
}

void Threadable::RequestStop() {
    // a thread given up on asks nothing: the flags may already be a newer thread's
    if (!platform::BeginOwnerAccess()) return;
    ThreadState &state = *state_;
    {
        ScopedLock guard(state.lock);
        if (!state.started) state.stopBeforeStart = true;
        state.keepRunning = false;
    }
    platform::EndOwnerAccess();
}

bool Threadable::Wait(uint32_t timeoutMs) {
    ThreadState &state = *state_;
    if (state.handle == nullptr) return true;
    const uint32_t limit = timeoutMs == 0 ? platform::kWaitForever : timeoutMs;
    if (platform::WaitThread(state.handle, limit) != platform::WaitResult::Ended) return false;
    platform::CloseThread(state.handle);
    state.handle = nullptr;
    state.started = false;
    return true;
}

bool Threadable::Stop(uint32_t timeoutMs) {
    ThreadState &state = *state_;
    {
        ScopedLock guard(state.lock);
        if (state.started) {
            RequestStop();
        } else {
            state.stopBeforeStart = true;
            state.keepRunning = false;
        }
    }
    if (Wait(timeoutMs)) return true;
    platform::EndThreadForcibly(state.handle, kExitForcedEnd);
    const bool closed = platform::CloseThread(state.handle);
    state.handle = nullptr;
    state.started = false;
    return closed;
}

bool Threadable::StopRequested() const {
    // an abandoned thread must not look at state that may belong to a newer thread
    if (!platform::BeginOwnerAccess()) return true;
    const bool requested = !state_->keepRunning;
    platform::EndOwnerAccess();
    return requested;
}

uint32_t Threadable::ExitCode() const { return state_->exitCode; }

bool Threadable::HoldsThread() const { return state_->handle != nullptr; }

uint32_t Threadable::ThreadMain(void *threadable) {
    auto *self = static_cast<Threadable *>(threadable);
    if (!self->BeginThread()) return kExitStoppedBeforeStart;
    const uint32_t result = self->Run();
    self->FinishThread(result);
    RunThreadExitCleanup();
    return result;
}

// Marks the thread started; false when a stop came first (or the owner gave up on it).
bool Threadable::BeginThread() {
    if (!platform::BeginOwnerAccess()) return false;
    ThreadState &state = *state_;
    bool run;
    {
        ScopedLock guard(state.lock);
        state.started = true;
        run = !state.stopBeforeStart;
        if (!run) state.exitCode = kExitStoppedBeforeStart;
    }
    platform::EndOwnerAccess();
    return run;
}

void Threadable::FinishThread(uint32_t result) {
    if (!platform::BeginOwnerAccess()) return;
    state_->exitCode = result;
    state_->keepRunning = false;
    platform::EndOwnerAccess();
}

} // namespace zel
