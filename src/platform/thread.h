// Threads: start, wait, forced end.
#pragma once

#include <cstdint>

namespace zel::platform {

struct Thread;

using ThreadEntry = uint32_t (*)(void *argument);

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

enum class WaitResult { Ended, TimedOut, Failed };

// Starts `entry(argument)` on a new thread with default stack size. The new
// thread binds its abandon flag before anything else. Null when no thread
// can be made; `threadId` then stays unchanged.
Thread *StartThread(ThreadEntry entry, void *argument, uint32_t *threadId);

// Waits up to `timeoutMs` (kWaitForever: no limit; 0: just looks). A thread
// that was ended forcibly counts as ended.
WaitResult WaitThread(Thread *thread, uint32_t timeoutMs);

// The exit code of an ended thread: what its entry returned, or the code
// given to its forced end. False while the thread runs.
bool ThreadExitCode(Thread *thread, uint32_t *exitCode);

// Last resort: ends the thread from outside with `exitCode`. Waits a bounded
// time to see it gone; false when it could not be ended or not seen gone.
bool EndThreadForcibly(Thread *thread, uint32_t exitCode);

// Releases the owner's hold on the thread; `thread` is gone afterwards.
bool CloseThread(Thread *thread);

// On a started thread: keeps its owner from giving up on the thread while the
// thread touches state that it shares with the owner. False, with nothing
// held, once the owner has ended the thread forcibly; then the thread must
// leave the owner's state alone.
bool BeginOwnerAccess();
void EndOwnerAccess();

// Test seam: runs on the creating thread right after a thread was made
// (Created) and on the new thread before its entry (Beginning).
enum class ThreadHookPoint { Created, Beginning };
struct ThreadHook {
    void (*call)(ThreadHookPoint point, void *context);
    void *context;
};
// Null removes the hook; the hook must outlive every thread started under it.
void SetThreadHook(const ThreadHook *hook);

} // namespace zel::platform
