#include "hoplink/sim.h"

#include <chrono>
#include <thread>

namespace hoplink::sim {

uint64_t SteadyClock::NowMicros() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

// Sleeps to just short of the end and spins the rest: a sleep alone
// overshoots by tens of microseconds, as much as a short round trip.
void SteadyClock::Wait(uint64_t micros) {
    constexpr uint64_t kSpinMicros = 100;
    const uint64_t end = NowMicros() + micros;
    if (micros > kSpinMicros)
        std::this_thread::sleep_for(std::chrono::microseconds(micros - kSpinMicros));
    while (NowMicros() < end)
        std::this_thread::yield();
}

} // namespace hoplink::sim
