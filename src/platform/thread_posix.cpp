#include "platform/thread.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/abandon.h"

namespace zel::platform {

// Substitute for TerminateThread: the owner abandons the thread. Its abandon
// flag keeps it off the bus, it no longer touches its owner's state, and it
// frees this record itself when it finally returns.
struct Thread {
    ThreadEntry entry = nullptr;
    void *argument = nullptr;
    pthread_t id{};
    std::atomic<bool> abandonFlag{false};

    std::mutex mutex;                // guards the fields below
    std::condition_variable changed; // `returned` or `abandoned` became set
    bool returned = false;           // the entry routine has returned
    bool abandoned = false;          // the owner ended the thread forcibly
    bool closed = false;             // the owner holds the record no more
    uint32_t exitCode = 0;
};

namespace {

std::atomic<const ThreadHook *> threadHook{nullptr};
std::atomic<uint32_t> lastThreadId{0};
thread_local Thread *currentThread = nullptr;

void CallHook(ThreadHookPoint point) {
    const ThreadHook *hook = threadHook.load(std::memory_order_acquire);
    if (hook != nullptr)
        hook->call(point, hook->context);
}

// Returns whether the owner had already let go, so that the thread frees the record.
bool MarkReturned(Thread *thread, uint32_t exitCode) {
    std::lock_guard<std::mutex> guard(thread->mutex);
    thread->returned = true;
    if (!thread->abandoned)
        thread->exitCode = exitCode;
    thread->changed.notify_all();
    return thread->closed;
}

void *ThreadStart(void *argument) {
    auto *thread = static_cast<Thread *>(argument);
    BindAbandonFlag(&thread->abandonFlag);
    currentThread = thread;
    CallHook(ThreadHookPoint::Beginning);
    const uint32_t exitCode = thread->entry(thread->argument);
    const bool ownerGone = MarkReturned(thread, exitCode);
    currentThread = nullptr;
    BindAbandonFlag(nullptr);
    if (ownerGone)
        delete thread;
    return nullptr;
}

} // namespace

Thread *StartThread(ThreadEntry entry, void *argument, uint32_t *threadId) {
    auto *thread = new Thread;
    thread->entry = entry;
    thread->argument = argument;
    if (pthread_create(&thread->id, nullptr, ThreadStart, thread) != 0) {
        delete thread;
        return nullptr;
    }
    // POSIX has no 32-bit thread identifier: threads are numbered from 1 in creation order
    *threadId = lastThreadId.fetch_add(1, std::memory_order_relaxed) + 1;
    CallHook(ThreadHookPoint::Created);
    return thread;
}

WaitResult WaitThread(Thread *thread, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(thread->mutex);
    auto ended = [thread] { return thread->returned || thread->abandoned; };
    if (timeoutMs == kWaitForever)
        thread->changed.wait(guard, ended);
    else
        thread->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), ended);
    return ended() ? WaitResult::Ended : WaitResult::TimedOut;
}

bool ThreadExitCode(Thread *thread, uint32_t *exitCode) {
    std::lock_guard<std::mutex> guard(thread->mutex);
    if (!thread->returned && !thread->abandoned)
        return false;
    *exitCode = thread->exitCode;
    return true;
}

bool EndThreadForcibly(Thread *thread, uint32_t exitCode) {
    std::lock_guard<std::mutex> guard(thread->mutex);
    if (thread->returned)
        return true;
    thread->abandoned = true;
    thread->exitCode = exitCode;
    thread->abandonFlag.store(true, std::memory_order_relaxed);
    thread->changed.notify_all();
    return true;
}

bool CloseThread(Thread *thread) {
    bool returned;
    pthread_t id;
    {
        std::lock_guard<std::mutex> guard(thread->mutex);
        thread->closed = true;
        returned = thread->returned;
        id = thread->id;
    }
    if (!returned)
        return pthread_detach(id) == 0;
    const bool joined = pthread_join(id, nullptr) == 0;
    delete thread;
    return joined;
}

bool BeginOwnerAccess() {
    Thread *thread = currentThread;
    if (thread == nullptr)
        return true;
    thread->mutex.lock();
    if (!thread->abandoned)
        return true;
    thread->mutex.unlock();
    return false;
}

void EndOwnerAccess() {
    Thread *thread = currentThread;
    if (thread != nullptr)
        thread->mutex.unlock();
}

void SetThreadHook(const ThreadHook *hook) { threadHook.store(hook, std::memory_order_release); }

} // namespace zel::platform
