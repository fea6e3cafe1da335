#include "hoplink/sim.h"

#include <chrono>

namespace hoplink::sim {

uint64_t SteadyClock::NowMicros() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

} // namespace hoplink::sim
