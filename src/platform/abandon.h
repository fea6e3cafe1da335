// Threads that a stop gave up on. Where the platform has no safe forced end
// of a thread (POSIX), the owner abandons the thread instead: it is marked,
// and from then on it can no longer reach the bus (the PIO port asks here
// before every register access).
#pragma once

#include <atomic>

namespace zel::platform {

// True on a thread whose owner has abandoned it.
bool CurrentThreadAbandoned();

// Binds the calling thread to the flag that its owner sets to abandon it;
// called first thing on a new worker thread. The flag must outlive the thread.
void BindAbandonFlag(const std::atomic<bool> *flag);

} // namespace zel::platform
