// Program of a virtual 24C256 (32 KiB) from erased, in byte mode and in page
// mode with 64-byte pages, side by side, in real time: the virtual target
// runs on its steady clock and the library on the system tick, so a 5 ms
// write cycle is waited for by acknowledge polling for 5 ms, as on a bench.
// With 5 ms write cycles and with none; wall time per job, register
// accesses and write cycles.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <hoplink/sim.h>

#include "counting_transport.h"
#include "pattern_image.h"
#include "zelapi.h"

namespace {

constexpr int kSizeBits = zelbench::kPatternSizeBits;
constexpr size_t kBytes = zelbench::kPatternBytes;

using zelbench::transport;

std::string BenchPath(const char *name) { return zelbench::BenchPath("zel_bench_pages_", name); }
using zelbench::PatternWord;
using zelbench::WritePatternFile;

// Opens the target with `writeCycleMs` unless it is open with it already;
// the target keeps its own steady clock.
hoplink::sim::Target *Attach(int writeCycleMs) {
    static int openWith = -1;
    static const bool written = WritePatternFile(BenchPath("pattern.txt"));
    if (!written) {
        return nullptr;
    }
    if (openWith != writeCycleMs) {
        const std::string config = "SIMPART=24C256 SIMTWR=" + std::to_string(writeCycleMs);
        if (zelInitTrans(config.c_str(), 0, kSizeBits, 0) != 1) {
            return nullptr;
        }
        transport.link.Current()->SetClock(nullptr);
        openWith = writeCycleMs;
    }
    return transport.link.Current();
}

// Arguments: page size (0: byte mode), write-cycle time in ms.
void BM_Program24C256FromErased(benchmark::State &state) {
    const auto pageBytes = static_cast<int>(state.range(0));
    const auto writeCycleMs = static_cast<int>(state.range(1));
    hoplink::sim::Target *target = Attach(writeCycleMs);
    if (target == nullptr || zelSetPageWrite(pageBytes) != 1) {
        state.SkipWithError("the virtual 24C256 could not be attached");
        return;
    }
    const std::string path = BenchPath("pattern.txt");
    uint64_t accesses = 0, cycles = 0;
    for (auto _ : state) {
        state.PauseTiming();
        target->Fill(0xFF);
        const uint64_t accessesBefore = transport.writes + transport.reads;
        const uint64_t cyclesBefore = target->GetCounters().writeCycles;
        state.ResumeTiming();
        const int result = zelProgram(path.c_str(), 1, 0);
        state.PauseTiming();
        accesses += transport.writes + transport.reads - accessesBefore;
        cycles += target->GetCounters().writeCycles - cyclesBefore;
        state.ResumeTiming();
        if (result != 1) {
            state.SkipWithError("the program failed");
            break;
        }
    }
    zelSetPageWrite(0);
    const auto n = static_cast<double>(state.iterations());
    state.SetLabel(pageBytes == 0 ? "byte mode" : "page mode");
    state.counters["page_bytes"] = pageBytes;
    state.counters["write_cycle_ms"] = writeCycleMs;
    state.counters["accesses"] = static_cast<double>(accesses) / n;
    state.counters["write_cycles"] = static_cast<double>(cycles) / n;
}
// byte mode with 5 ms cycles waits 32768 x 5 ms: one run is enough
BENCHMARK(BM_Program24C256FromErased)->Args({0, 5})->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program24C256FromErased)->Args({64, 5})->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program24C256FromErased)->Args({0, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Program24C256FromErased)->Args({64, 0})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
