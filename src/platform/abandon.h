// Threads that a stop gave up on. Where the platform has no safe forced end
// of a thread (POSIX), the owner abandons the thread instead: it is marked,
// and runs on to its end reaching nothing that the host or a later job sees.
// Such a thread may be anywhere inside a job body, so the bodies hold no
// checks of their own beyond ending soon (KeepGoing). The checks sit at the
// few boundaries through which a body reaches anything outside itself:
// - the transport (spi/transport.cpp), which every register access passes:
//   no call at all, not even its lock;
// - state shared with the owner (register shadows, lines, settings, the
//   host's read buffer, thread flags, and the progress and result that the
//   runner stores and tells in one place): written only between
//   BeginOwnerAccess and EndOwnerAccess (platform/thread.h), which fail once
//   the thread is given up on, so the owner never gives up on it halfway;
// - handler dispatch (jobs/dispatch.cpp), which every callback passes: no
//   callback, no lock taken;
// - file output: a dump writes only while its job may go on;
// - acknowledge polling (eeprom/block.cpp): it ends at once, since refused
//   accesses no longer move the clock it waits on.
// Windows ends the thread instead (TerminateThread); the same checks then
// find nothing to refuse.
#pragma once

#include <atomic>

namespace zel::platform {

// True on a thread whose owner has abandoned it.
bool CurrentThreadAbandoned();

// Binds the calling thread to the flag that its owner sets to abandon it;
// called first thing on a new worker thread. The flag must outlive the thread.
void BindAbandonFlag(const std::atomic<bool> *flag);

} // namespace zel::platform
