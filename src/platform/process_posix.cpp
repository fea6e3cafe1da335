#include "platform/process.h"

#include <unistd.h>

namespace zel::platform {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

} // namespace zel::platform
