#include "platform/abandon.h"

namespace zel::platform {

// Windows ends a thread that a stop gave up on with TerminateThread, so no
// thread is ever left running abandoned.
bool CurrentThreadAbandoned() { return false; }

void BindAbandonFlag(const std::atomic<bool> *) {}

} // namespace zel::platform
