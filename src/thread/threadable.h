// Base class of an object that owns one worker thread at a time.
#pragma once

#include <cstdint>

#include "thread/no_copy.h"

namespace zel {

// Exit code of a thread that ended without calling Run: a stop came before it began.
inline constexpr uint32_t kExitStoppedBeforeStart = 0xDEAD1;
// Exit code given to a thread that Stop ends forcibly.
inline constexpr uint32_t kExitForcedEnd = 0xDEAD2;

struct ThreadState;

// One owning thread calls Start, IsRunning, Wait, Stop and the destructor;
// RequestStop may come from any thread. The object must outlive Run: a
// subclass whose Run uses the subclass's own members stops the thread in its
// own destructor (the base destructor runs after those members are gone).
class Threadable : private NoCopy {
public:
    Threadable();

    // The work of the thread; its result becomes the thread's exit code.
    virtual uint32_t Run() = 0;
    // Stops a live thread (Stop(1000)) before the state goes.
    virtual ~Threadable();
    // Asks the thread to stop; Run sees it through StopRequested. On a
    // thread that the owner has given up on it does nothing.
    virtual void RequestStop();

    // Creates a thread that runs Run. False while a thread is working and has
    // not been asked to stop, or when no thread can be created. A thread that
    // was asked to stop is waited for (without limit) first.
    bool Start();
    // Whether a created thread is still alive.
    bool IsRunning();
    // Waits for the thread to end and reaps it; 0 ms means no limit. False
    // when the time-out passes first; the thread is then still held.
    bool Wait(uint32_t timeoutMs);
    // Asks the thread to stop, waits up to `timeoutMs` (0: no limit), then
    // ends it forcibly. True when the thread is gone afterwards.
    bool Stop(uint32_t timeoutMs);

protected:
    // For Run: true once a stop was asked for since the last Start, or when
    // the owner has given up on this thread.
    bool StopRequested() const;
    // What the last thread returned: Run's result or kExitStoppedBeforeStart.
    uint32_t ExitCode() const;
    // Whether a created thread is held (not yet reaped).
    bool HoldsThread() const;

private:
    static uint32_t ThreadMain(void *threadable);
    bool BeginThread();
    void FinishThread(uint32_t result);

    ThreadState *state_;
};

} // namespace zel
