// Library time per register access of a 64-byte random read (two address
// bytes). The transport does no work: writes are counted, reads replay the
// input values that a virtual 24C256 gave for the same transaction once, so
// every acknowledge passes and the whole transaction runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <hoplink/sim.h>

#include "eeprom/bus.h"
#include "hoplink.h"

namespace {

struct Transport {
    hoplink::sim::Target *recordFrom = nullptr; // set while recording
    std::vector<uint16_t> inputs;               // the recorded read values
    const uint16_t *next = nullptr;             // replay position, reset per transaction
    const uint16_t *end = nullptr;
    uint64_t writes = 0;
    uint64_t reads = 0;
};
Transport transport;

constexpr uint16_t kReceive = 64;
const uint8_t kMemoryAddress[2] = {0x01, 0x00};

// Cost of one random read with two address bytes on a free bus, from the
// cost table: release, start, three bytes out, repeated start, read address,
// 64 bytes in, 63 acknowledges and one not-acknowledge, stop. Every 10 ms
// check takes one sample (k = 1) and the stop finds both lines high.
constexpr uint64_t kK = 1;
constexpr uint64_t kExpectedWrites = 4 + 6 + 3 * 27 + 6 + 27 + kReceive * 17 + (kReceive - 1) * 3 + 3 + (3 + 2);
constexpr uint64_t kExpectedReads =
    0 + (3 + kK) + 3 * 3 + (3 + kK) + 3 + kReceive * 8 + (kReceive - 1) * 2 + 4 + (5 + kK);

uint16_t RandomRead(uint8_t *received) {
    return zel::BusTransfer(0xA0, kMemoryAddress, 2, true, received, kReceive);
}

bool Record(std::string &error) {
    hoplink::sim::Config config;
    config.part = "24C256";
    std::unique_ptr<hoplink::sim::Target> target = hoplink::sim::Target::Create(config, error);
    if (!target) {
        return false;
    }
    hoplink::sim::VirtualClock clock;
    target->SetClock(&clock);
    transport.recordFrom = target.get();
    uint8_t received[kReceive];
    const uint16_t count = RandomRead(received);
    transport.recordFrom = nullptr;
    if (count != 2 + 2 + kReceive) {
        error = "the recorded read counted " + std::to_string(count);
        return false;
    }
    return true;
}

void BM_RandomRead64(benchmark::State &state) {
    std::string error;
    if (transport.inputs.empty() && !Record(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    uint8_t received[kReceive];
    transport.writes = transport.reads = 0;
    uint16_t count = 0;
    for (auto _ : state) {
        transport.next = transport.inputs.data();
        transport.end = transport.next + transport.inputs.size();
        count = RandomRead(received);
        benchmark::DoNotOptimize(received);
    }
    const auto iterations = static_cast<double>(state.iterations());
    const double writes = static_cast<double>(transport.writes) / iterations;
    const double reads = static_cast<double>(transport.reads) / iterations;
    if (count != 2 + 2 + kReceive || writes != kExpectedWrites || reads != kExpectedReads) {
        const std::string message = "count " + std::to_string(count) + ", " + std::to_string(writes) +
                                    " writes and " + std::to_string(reads) + " reads per transaction";
        state.SkipWithError(message.c_str());
        return;
    }
    state.counters["writes"] = writes;
    state.counters["reads"] = reads;
    state.counters["per_access"] = benchmark::Counter(static_cast<double>(transport.writes + transport.reads),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RandomRead64);

// Recording goes to the virtual target, out of the replay's way.
__attribute__((noinline)) int RecordWrite(uint32_t address, uint32_t value) {
    return transport.recordFrom->Write(address, value);
}

__attribute__((noinline)) int RecordRead(uint32_t address, uint16_t *value) {
    const int result = transport.recordFrom->Read(address, value);
    transport.inputs.push_back(*value);
    return result;
}

} // namespace

// The transport stays a real call, as it is across the library boundary.
extern "C" {

int hoplink_open(const char *, int, uint16_t) { return 1; }
int hoplink_close(void) { return 0; }
int hoplink_cpu_stop(void) { return 0; }
int hoplink_enumerate_strings(intptr_t, intptr_t, intptr_t, intptr_t) { return 0; }

__attribute__((noinline)) int hoplink_write(uint32_t address, uint32_t value) {
    ++transport.writes;
    if (transport.recordFrom != nullptr) [[unlikely]] {
        return RecordWrite(address, value);
    }
    return 0;
}

__attribute__((noinline)) int hoplink_read(uint32_t address, uint16_t *value) {
    ++transport.reads;
    if (transport.recordFrom != nullptr) [[unlikely]] {
        return RecordRead(address, value);
    }
    if (transport.next == transport.end) [[unlikely]] {
        return 1; // more reads than recorded: the counts will tell
    }
    *value = *transport.next++;
    return 0;
}

} // extern "C"

BENCHMARK_MAIN();
