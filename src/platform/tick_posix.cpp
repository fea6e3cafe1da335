#include "platform/tick.h"

#include <time.h>

namespace zel::platform {
namespace {

TickSource tickSource = nullptr;
void *tickContext = nullptr;

uint32_t SystemTick() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // milliseconds modulo 2^32, like the Windows tick
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

} // namespace

uint32_t TickMs() { return tickSource ? tickSource(tickContext) : SystemTick(); }

void SetTickSource(TickSource source, void *context) {
    tickSource = source;
    tickContext = context;
}

} // namespace zel::platform
