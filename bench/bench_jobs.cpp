// Whole image jobs on a virtual 24C256 (32 KiB, two address bytes) with no
// write-cycle time: wall time and register accesses per job. The transport
// forwards to an in-process virtual target and counts every access; the
// library's tick follows the target's virtual clock.
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
using zelbench::VirtualTick;

std::string BenchPath(const char *name) { return zelbench::BenchPath("zel_bench_jobs_", name); }
using zelbench::PatternWord;
using zelbench::WritePatternFile;

void FillPattern(hoplink::sim::Target &target) {
    const std::span<uint8_t> cells = target.Memory();
    for (size_t k = 0; k < cells.size(); ++k) {
        const uint16_t word = PatternWord(k / 2);
        cells[k] = static_cast<uint8_t>(k % 2 == 0 ? word : word >> 8);
    }
}

// The link opens once per process; every benchmark then works on its target.
hoplink::sim::Target *Attached() {
    static const bool attached = [] {
        zel::platform::SetTickSource(VirtualTick, nullptr);
        return zelInitTrans("SIMPART=24C256 SIMTWR=0", 0, kSizeBits, 0) == 1 &&
               WritePatternFile(BenchPath("pattern.txt"));
    }();
    return attached ? transport.link.Current() : nullptr;
}

enum class Before { Keep, Erase, Pattern };

// Runs `job` once per iteration, the EEPROM prepared outside the timing;
// reports the register accesses of one job.
template <typename Job> void RunJob(benchmark::State &state, Before before, Job job) {
    hoplink::sim::Target *target = Attached();
    if (target == nullptr) {
        state.SkipWithError("the virtual 24C256 could not be attached");
        return;
    }
    uint64_t writes = 0;
    uint64_t reads = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (before == Before::Erase) {
            target->Fill(0xFF);
        } else if (before == Before::Pattern) {
            FillPattern(*target);
        }
        const uint64_t writesBefore = transport.writes;
        const uint64_t readsBefore = transport.reads;
        state.ResumeTiming();
        const int result = job();
        state.PauseTiming();
        writes += transport.writes - writesBefore;
        reads += transport.reads - readsBefore;
        state.ResumeTiming();
        if (result != 1) {
            state.SkipWithError("the job failed");
            return;
        }
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["writes"] = static_cast<double>(writes) / iterations;
    state.counters["reads"] = static_cast<double>(reads) / iterations;
}

void BM_Dump(benchmark::State &state) {
    const std::string path = BenchPath("dump.txt");
    RunJob(state, Before::Pattern, [&] { return zelDump(path.c_str(), 1, 0); });
}
BENCHMARK(BM_Dump)->Unit(benchmark::kMillisecond);

void BM_Verify(benchmark::State &state) {
    const std::string path = BenchPath("pattern.txt");
    RunJob(state, Before::Pattern, [&] { return zelVerify(path.c_str(), 1); });
}
BENCHMARK(BM_Verify)->Unit(benchmark::kMillisecond);

void BM_ProgramFromErased(benchmark::State &state) {
    const std::string path = BenchPath("pattern.txt");
    RunJob(state, Before::Erase, [&] { return zelProgram(path.c_str(), 1, 0); });
}
BENCHMARK(BM_ProgramFromErased)->Unit(benchmark::kMillisecond);

void BM_ProgramIdentical(benchmark::State &state) {
    const std::string path = BenchPath("pattern.txt");
    RunJob(state, Before::Pattern, [&] { return zelProgram(path.c_str(), 1, 0); });
}
BENCHMARK(BM_ProgramIdentical)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
