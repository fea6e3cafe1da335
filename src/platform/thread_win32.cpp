#include "platform/thread.h"

#include <windows.h>

#include <atomic>

namespace zel::platform {

// Windows ends a thread forcibly with TerminateThread, so a thread is never
// left running abandoned and its owner's state stays its own to touch.
struct Thread {
    ThreadEntry entry;
    void *argument;
    HANDLE handle;
};

namespace {

std::atomic<const ThreadHook *> threadHook{nullptr};

void CallHook(ThreadHookPoint point) {
    const ThreadHook *hook = threadHook.load(std::memory_order_acquire);
    if (hook != nullptr)
        hook->call(point, hook->context);
}

DWORD WINAPI ThreadStart(LPVOID argument) {
    auto *thread = static_cast<Thread *>(argument);
    CallHook(ThreadHookPoint::Beginning);
    return thread->entry(thread->argument);
}

} // namespace

Thread *StartThread(ThreadEntry entry, void *argument, uint32_t *threadId) {
    auto *thread = new Thread{entry, argument, nullptr};
    DWORD id = 0;
    thread->handle = CreateThread(nullptr, 0, ThreadStart, thread, 0, &id);
    if (thread->handle == nullptr) {
        delete thread;
        return nullptr;
    }
    *threadId = id;
    CallHook(ThreadHookPoint::Created);
    return thread;
}

WaitResult WaitThread(Thread *thread, uint32_t timeoutMs) {
    switch (WaitForSingleObject(thread->handle, timeoutMs)) {
    case WAIT_OBJECT_0:
        return WaitResult::Ended;
    case WAIT_TIMEOUT:
        return WaitResult::TimedOut;
    default:
        return WaitResult::Failed;
    }
}

bool ThreadExitCode(Thread *thread, uint32_t *exitCode) {
    if (WaitForSingleObject(thread->handle, 0) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    if (!GetExitCodeThread(thread->handle, &code))
        return false;
    *exitCode = code;
    return true;
}

// How long the forced end waits to see the thread gone.
constexpr DWORD kTerminationWaitMs = 1000;

bool EndThreadForcibly(Thread *thread, uint32_t exitCode) {
    if (!TerminateThread(thread->handle, exitCode))
        return false;
    // TerminateThread is asynchronous: the thread is gone once its handle
    // signals. It runs no more code of ours either way, so the owner does not
    // wait for ever (a thread held in the kernel may take long to signal).
    return WaitForSingleObject(thread->handle, kTerminationWaitMs) == WAIT_OBJECT_0;
}

bool CloseThread(Thread *thread) {
    const bool closed = CloseHandle(thread->handle) != 0;
    delete thread;
    return closed;
}

bool BeginOwnerAccess() { return true; }

void EndOwnerAccess() {}

void SetThreadHook(const ThreadHook *hook) { threadHook.store(hook, std::memory_order_release); }

} // namespace zel::platform
