// Register accesses of whole image jobs, measured through the exports on an
// in-process virtual target and set against the counts that the table of
// bus operation costs gives; with wall time per job and per access, and the
// virtual target's own rate of accesses. Write cycles take no time here
// (SIMTWR=0: every byte write is followed by one acknowledged poll), so the
// time of a real link can be computed from the counts. Programs run in byte
// mode and in page mode (each part's own page size).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <hoplink/sim.h>

#include "counting_transport.h"
#include "zelapi.h"

namespace {

struct PartSetup {
    const char *name;
    int sizeBits;
    int blockBits;
    uint64_t addressBytes; // memory-address bytes after the device address
    uint64_t pageBytes;    // the part's page buffer
};
constexpr PartSetup kParts[] = {{"24C02", 8, 0, 1, 8}, {"24C256", 15, 0, 2, 64}, {"24C1024", 17, 1, 2, 256}};

// Transport accesses of each bus operation (writes, reads), a start and a
// stop that find their lines high at once.
struct Cost {
    uint64_t writes, reads;
    Cost operator+(Cost o) const { return {writes + o.writes, reads + o.reads}; }
    Cost operator*(uint64_t n) const { return {writes * n, reads * n}; }
};
constexpr Cost kRelease{4, 0};
constexpr Cost kStart{6, 4}; // 3 reads + one sample of the 10 ms clock check
constexpr Cost kStop{5, 6};  // both lines read high at the end: their level bits are set
constexpr Cost kWriteByte{27, 3};
constexpr Cost kReadByte{17, 8};
constexpr Cost kAck{3, 2};
constexpr Cost kNoAck{3, 4};
constexpr Cost kWriteProtect{2, 0}; // level, then enable

// One random read of n bytes: S W address-bytes Sr R n-bytes P.
Cost RandomRead(uint64_t addressBytes, uint64_t n) {
    return kRelease + kStart + kWriteByte * (1 + addressBytes) + kStart + kWriteByte + kReadByte * n +
           kAck * (n - 1) + kNoAck + kStop;
}

Cost ReadBlockCost(uint64_t addressBytes, uint64_t length) {
    Cost cost{0, 0};
    for (uint64_t c = 0; c < length; c += 64) {
        cost = cost + RandomRead(addressBytes, std::min<uint64_t>(64, length - c));
    }
    return cost;
}

// Write-protect low, S W address-bytes n-bytes P, one acknowledged poll S W P, write-protect high.
Cost WriteCost(uint64_t addressBytes, uint64_t n) {
    const Cost write = kRelease + kStart + kWriteByte * (1 + addressBytes + n) + kStop;
    const Cost poll = kRelease + kStart + kWriteByte + kStop;
    return kWriteProtect + write + poll + kWriteProtect;
}

using zelbench::transport;
using zelbench::VirtualTick;
std::string openPart; // the part of the open target

std::string BenchPath(const std::string &name) {
    return (std::filesystem::temp_directory_path() / ("zel_bench_costs_" + name)).string();
}

// No byte of the pattern is erased (0xff), so a program from erased writes every byte.
uint8_t PatternByte(size_t k) { return static_cast<uint8_t>(k % 2 == 0 ? (k / 2) & 0x7F : 0x5A); }

bool WritePatternFile(const std::string &path, size_t bytes) {
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    for (size_t i = 0; i < bytes / 2; ++i) {
        std::fprintf(file, "@%04zx  %04x\n", i,
                     static_cast<unsigned>(PatternByte(2 * i) | PatternByte(2 * i + 1) << 8));
    }
    return std::fclose(file) == 0;
}

// Opens the link to the part unless it is open already.
hoplink::sim::Target *Attach(const PartSetup &part) {
    zel::platform::SetTickSource(VirtualTick, nullptr);
    if (openPart != part.name) {
        const std::string config = std::string("SIMPART=") + part.name + " SIMTWR=0";
        if (zelInitTrans(config.c_str(), 0, part.sizeBits, part.blockBits) != 1 ||
            !WritePatternFile(BenchPath(std::string(part.name) + ".txt"), size_t{1} << part.sizeBits)) {
            return nullptr;
        }
        openPart = part.name;
    }
    return transport.link.Current();
}

void FillPattern(hoplink::sim::Target &target) {
    const std::span<uint8_t> cells = target.Memory();
    for (size_t k = 0; k < cells.size(); ++k) {
        cells[k] = PatternByte(k);
    }
}

enum class JobKind { Dump, Verify, ProgramFromErased, ProgramFromErasedInPages };

// What the cost table gives for one job on `part`. Page mode compares in the
// same 64-byte chunks and writes every page whole, in one transaction.
Cost Expected(JobKind kind, const PartSetup &part) {
    const uint64_t size = uint64_t{1} << part.sizeBits;
    const Cost read = ReadBlockCost(part.addressBytes, size);
    switch (kind) {
    case JobKind::ProgramFromErased:
        return read + WriteCost(part.addressBytes, 1) * size;
    case JobKind::ProgramFromErasedInPages:
        return read + WriteCost(part.addressBytes, part.pageBytes) * (size / part.pageBytes);
    case JobKind::Dump:
    case JobKind::Verify:
        break;
    }
    return read;
}

int RunJob(JobKind kind, const PartSetup &part) {
    const std::string image = BenchPath(std::string(part.name) + ".txt");
    switch (kind) {
    case JobKind::Dump:
        return zelDump(BenchPath("dump.txt").c_str(), 1, 0);
    case JobKind::Verify:
        return zelVerify(image.c_str(), 1);
    case JobKind::ProgramFromErased:
        return zelProgram(image.c_str(), 1, 0);
    case JobKind::ProgramFromErasedInPages: {
        if (zelSetPageWrite(static_cast<int>(part.pageBytes)) != 1) {
            return 0;
        }
        const int result = zelProgram(image.c_str(), 1, 0);
        return zelSetPageWrite(0) == 1 ? result : 0;
    }
    }
    return 0;
}

// One job per iteration, the EEPROM prepared outside the timing. Counters
// per job: the accesses measured and expected, and the write cycles.
void Job(benchmark::State &state, JobKind kind) {
    const PartSetup &part = kParts[state.range(0)];
    hoplink::sim::Target *target = Attach(part);
    if (target == nullptr) {
        state.SkipWithError("the virtual part could not be attached");
        return;
    }
    uint64_t writes = 0, reads = 0, cycles = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (kind == JobKind::ProgramFromErased || kind == JobKind::ProgramFromErasedInPages) {
            target->Fill(0xFF);
        } else {
            FillPattern(*target);
        }
        const uint64_t writesBefore = transport.writes, readsBefore = transport.reads;
        const uint64_t cyclesBefore = target->GetCounters().writeCycles;
        state.ResumeTiming();
        const int result = RunJob(kind, part);
        state.PauseTiming();
        writes += transport.writes - writesBefore;
        reads += transport.reads - readsBefore;
        cycles += target->GetCounters().writeCycles - cyclesBefore;
        state.ResumeTiming();
        if (result != 1) {
            state.SkipWithError("the job failed");
            return;
        }
    }
    const auto n = static_cast<double>(state.iterations());
    const Cost expected = Expected(kind, part);
    state.SetLabel(part.name);
    state.counters["bytes"] = static_cast<double>(uint64_t{1} << part.sizeBits);
    state.counters["writes"] = static_cast<double>(writes) / n;
    state.counters["reads"] = static_cast<double>(reads) / n;
    state.counters["expected_writes"] = static_cast<double>(expected.writes);
    state.counters["expected_reads"] = static_cast<double>(expected.reads);
    state.counters["write_cycles"] = static_cast<double>(cycles) / n;
    state.counters["accesses_per_second"] =
        benchmark::Counter(static_cast<double>(writes + reads), benchmark::Counter::kIsRate);
}

void BM_Dump(benchmark::State &state) { Job(state, JobKind::Dump); }
void BM_Verify(benchmark::State &state) { Job(state, JobKind::Verify); }
void BM_ProgramFromErased(benchmark::State &state) { Job(state, JobKind::ProgramFromErased); }
void BM_ProgramFromErasedInPages(benchmark::State &state) { Job(state, JobKind::ProgramFromErasedInPages); }
BENCHMARK(BM_Dump)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Verify)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramFromErased)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramFromErasedInPages)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// The virtual target alone: a clock pulse and a sample, as a bit of a read.
void BM_TargetAccesses(benchmark::State &state) {
    std::string error;
    hoplink::sim::Config config;
    config.part = "24C02";
    const std::unique_ptr<hoplink::sim::Target> target = hoplink::sim::Target::Create(config, error);
    if (!target) {
        state.SkipWithError(error.c_str());
        return;
    }
    hoplink::sim::VirtualClock clock;
    target->SetClock(&clock);
    uint16_t lines = 0;
    for (auto _ : state) {
        target->Write(hoplink::sim::kRegOutputEnable, 0x0000);
        target->Read(hoplink::sim::kRegInputLevel, &lines);
        target->Write(hoplink::sim::kRegOutputEnable, 0x0040);
        benchmark::DoNotOptimize(lines);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 3);
}
BENCHMARK(BM_TargetAccesses);

} // namespace

BENCHMARK_MAIN();
