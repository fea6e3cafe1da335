#include "platform/process.h"

#include <windows.h>

namespace zel::platform {

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

} // namespace zel::platform
