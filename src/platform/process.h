// The current process.
#pragma once

#include <cstdint>

namespace zel::platform {

uint32_t CurrentProcessId();

} // namespace zel::platform
