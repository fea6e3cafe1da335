#include "platform/tick.h"

#include <windows.h>

namespace zel::platform {
namespace {

TickSource tickSource = nullptr;
void *tickContext = nullptr;

// Milliseconds of the performance counter, modulo 2^32 like GetTickCount.
// GetTickCount itself moves in steps of 10-16 ms, and under wine it was seen
// to run more than 19 ms ahead of the performance counter: a 20 ms wait for
// the end of a write cycle then ended after one probe while the EEPROM was
// still busy, and the next byte write failed.
uint32_t SystemTick() {
    static const int64_t perSecond = [] {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency); // never fails on XP and later
        return frequency.QuadPart;
    }();
    LARGE_INTEGER count{};
    QueryPerformanceCounter(&count);
    const int64_t seconds = count.QuadPart / perSecond;
    const int64_t rest = count.QuadPart % perSecond;
    return static_cast<uint32_t>(static_cast<uint64_t>(seconds) * 1000u +
                                 static_cast<uint64_t>(rest * 1000 / perSecond));
}

} // namespace

uint32_t TickMs() { return tickSource ? tickSource(tickContext) : SystemTick(); }

void SetTickSource(TickSource source, void *context) {
    tickSource = source;
    tickContext = context;
}

} // namespace zel::platform
