// The millisecond tick: a 32-bit counter that wraps. Measure waits as
// `TickMs() - start` in unsigned arithmetic, so a wrap never lengthens them.
#pragma once

#include <cstdint>

namespace zel::platform {

uint32_t TickMs();

// Replaces the system tick (tests drive it from a virtual clock); null
// restores the system tick.
using TickSource = uint32_t (*)(void *context);
void SetTickSource(TickSource source, void *context);

} // namespace zel::platform
