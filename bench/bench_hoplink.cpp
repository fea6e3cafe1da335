// Register accesses per second through the exported C interface while a
// master bit-bangs a sequential read of a whole 24C256.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "hoplink.h"

namespace {

constexpr int kClock = 6, kData = 7;
constexpr uint32_t kSize = 32768;

struct Master {
    uint16_t enable = 0;
    uint64_t accesses = 0;

    void Release(int line) {
        enable = static_cast<uint16_t>(enable & ~(1u << line));
        hoplink_write(0x0061, enable);
        ++accesses;
    }
    void PullLow(int line) {
        enable = static_cast<uint16_t>(enable | 1u << line);
        hoplink_write(0x0061, enable);
        ++accesses;
    }
    bool Sample(int line) {
        uint16_t value = 0xFFFF;
        hoplink_read(0xFFC2, &value);
        ++accesses;
        return (value >> line) & 1;
    }
    void Start() {
        Release(kData);
        Release(kClock);
        PullLow(kData);
        PullLow(kClock);
    }
    void Stop() {
        PullLow(kData);
        Release(kClock);
        Release(kData);
    }
    bool WriteByte(uint8_t value) {
        for (int bit = 7; bit >= 0; --bit) {
            if ((value >> bit) & 1)
                Release(kData);
            else
                PullLow(kData);
            Release(kClock);
            PullLow(kClock);
        }
        Release(kData);
        Release(kClock);
        const bool acknowledged = !Sample(kData);
        PullLow(kClock);
        return acknowledged;
    }
    uint8_t ReadByte(bool acknowledge) {
        Release(kData);
        uint8_t value = 0;
        for (int bit = 0; bit < 8; ++bit) {
            Release(kClock);
            value = static_cast<uint8_t>(value << 1 | (Sample(kData) ? 1 : 0));
            PullLow(kClock);
        }
        if (acknowledge)
            PullLow(kData);
        else
            Release(kData);
        Release(kClock);
        PullLow(kClock);
        return value;
    }
};

// One random read of address 0 followed by the whole memory.
bool ReadWholeMemory(Master &master, uint32_t &checksum) {
    master.Start();
    bool ok = master.WriteByte(0xA0) && master.WriteByte(0x00) && master.WriteByte(0x00);
    master.Start();
    ok = ok && master.WriteByte(0xA1);
    for (uint32_t i = 0; ok && i < kSize; ++i)
        checksum += master.ReadByte(i + 1 < kSize);
    master.Stop();
    return ok;
}

void RegisterAccessesDuringWholeRead(benchmark::State &state) {
    if (!hoplink_open("SIMPART=24C256", -1, 0)) {
        state.SkipWithError("hoplink_open failed");
        return;
    }
    hoplink_cpu_stop();
    Master master;
    uint32_t checksum = 0;
    for (auto _ : state) {
        if (!ReadWholeMemory(master, checksum)) {
            state.SkipWithError("the EEPROM did not answer");
            break;
        }
    }
    benchmark::DoNotOptimize(checksum);
    if (checksum != 0xFFu * kSize * state.iterations())
        state.SkipWithError("the erased EEPROM did not read back as 0xFF");
    state.counters["accesses/s"] =
        benchmark::Counter(static_cast<double>(master.accesses), benchmark::Counter::kIsRate);
    state.SetItemsProcessed(static_cast<int64_t>(master.accesses));
    hoplink_close();
}
BENCHMARK(RegisterAccessesDuringWholeRead)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
