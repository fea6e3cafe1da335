// The transport of the job benchmarks: it forwards every register access to
// an in-process virtual target and counts it, and the library's tick follows
// the target's virtual clock. It defines the transport's six functions, so
// exactly one file of a benchmark program includes it.
#pragma once

#include <cstdint>

#include <hoplink/sim.h>

#include "hoplink.h"
#include "platform/tick.h"

namespace zelbench {

struct CountingTransport {
    hoplink::sim::Link link;
    hoplink::sim::VirtualClock clock{1};
    uint64_t writes = 0;
    uint64_t reads = 0;
};
inline CountingTransport transport;

inline uint32_t VirtualTick(void *) { return transport.clock.NowMillis(); }

} // namespace zelbench

extern "C" {

int hoplink_open(const char *config, int reserved, uint16_t linkParam) {
    const int result = zelbench::transport.link.Open(config, reserved, linkParam);
    if (hoplink::sim::Target *target = zelbench::transport.link.Current()) {
        target->SetClock(&zelbench::transport.clock);
    }
    return result;
}

int hoplink_close(void) { return zelbench::transport.link.Close(); }

int hoplink_cpu_stop(void) { return zelbench::transport.link.CpuStop(); }

int hoplink_enumerate_strings(intptr_t, intptr_t, intptr_t, intptr_t) { return 0; }

int hoplink_write(uint32_t address, uint32_t value) {
    ++zelbench::transport.writes;
    return zelbench::transport.link.Write(address, value);
}

int hoplink_read(uint32_t address, uint16_t *value) {
    ++zelbench::transport.reads;
    return zelbench::transport.link.Read(address, value);
}

} // extern "C"
