// Dump, verify and program in pages of a 24C256 and a 24C1024 over a link
// whose every call takes 0, 125 us or 1 ms (SIMLATENCY), batched and access
// by access. Rows that finish in seconds run in real time: the target waits
// out each call on its steady clock and the library polls on the system
// tick, as over such a link. The rest (access by access over a slow link:
// minutes to hours) run in virtual time: the clock moves by the latency of
// each call and by nothing else, and the 5 ms write cycles are in the same
// clock, so the time is that of the link and the device alone.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include <hoplink/sim.h>

#include "hoplink.h"
#include "platform/tick.h"
#include "zelapi.h"

namespace {

hoplink::sim::Link theLink;
hoplink::sim::VirtualClock virtualClock{0}; // only the latency moves it

uint32_t VirtualTick(void *) { return virtualClock.NowMillis(); }

struct Part {
    const char *name;
    int sizeBits;
    int blockBits;
    int pageBytes;
};
constexpr Part kParts[] = {{"24C256", 15, 0, 64}, {"24C1024", 17, 1, 256}};

enum Job { kDump, kVerify, kProgram };
constexpr const char *kJobNames[] = {"dump", "verify", "program in pages"};

std::string TempPath(const std::string &name) {
    return (std::filesystem::temp_directory_path() / ("zel_bench_batching_" + name)).string();
}

uint8_t PatternByte(size_t k) { return static_cast<uint8_t>((k * 7 + k / 251) & 0xFE); }

// The image of the whole part: no byte is erased (0xff), every byte is written.
std::string PatternFile(const Part &part) {
    const std::string path = TempPath(std::string(part.name) + ".txt");
    if (std::FILE *file = std::fopen(path.c_str(), "w")) {
        for (size_t k = 0; k < (size_t{1} << part.sizeBits); k += 2) {
            std::fprintf(file, "@%04zx  %02x%02x\n", k / 2, PatternByte(k + 1), PatternByte(k));
        }
        std::fclose(file);
    }
    return path;
}

// Arguments: part, job, latency in us, batched, virtual time.
void BM_OverALink(benchmark::State &state) {
    const Part &part = kParts[state.range(0)];
    const auto job = static_cast<Job>(state.range(1));
    const auto latency = static_cast<uint32_t>(state.range(2));
    const bool batched = state.range(3) != 0;
    const bool virtualTime = state.range(4) != 0;
    const std::string image = PatternFile(part);
    const std::string config = std::string("SIMPART=") + part.name + " SIMLATENCY=" + std::to_string(latency);
    zel::platform::SetTickSource(virtualTime ? &VirtualTick : nullptr, nullptr);
    if (zelInitTrans(config.c_str(), 0, part.sizeBits, part.blockBits) != 1 ||
        zelSetPageWrite(part.pageBytes) != 1 || zelSetBatching(batched ? 1 : 0) != (batched ? 1 : 0)) {
        state.SkipWithError("the virtual EEPROM could not be attached");
        return;
    }
    hoplink::sim::Target *target = theLink.Current();
    target->SetClock(virtualTime ? &virtualClock : nullptr);
    uint64_t calls = 0, batches = 0;
    for (auto _ : state) {
        // verify and dump find the image in place, the program finds it erased
        target->Fill(0xFF);
        if (job != kProgram) {
            for (size_t k = 0; k < target->Memory().size(); ++k) {
                target->Memory()[k] = PatternByte(k);
            }
        }
        const hoplink::sim::Counters before = target->GetCounters();
        const uint64_t virtualStart = virtualClock.NowMicros();
        const auto start = std::chrono::steady_clock::now();
        int result = 0;
        switch (job) {
        case kDump:
            result = zelDump(TempPath("dump.txt").c_str(), 1, 0);
            break;
        case kVerify:
            result = zelVerify(image.c_str(), 1);
            break;
        case kProgram:
            result = zelProgram(image.c_str(), 1, 0);
            break;
        }
        const std::chrono::duration<double> real = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(virtualTime ? static_cast<double>(virtualClock.NowMicros() - virtualStart) / 1e6
                                           : real.count());
        calls += target->GetCounters().calls - before.calls;
        batches += target->GetCounters().batches - before.batches;
        if (result != 1) {
            state.SkipWithError("the job failed");
            break;
        }
    }
    zelClose();
    const auto n = static_cast<double>(state.iterations());
    state.SetLabel(std::string(part.name) + " " + kJobNames[job]);
    state.counters["latency_us"] = latency;
    state.counters["batched"] = batched ? 1 : 0;
    state.counters["virtual_time"] = virtualTime ? 1 : 0;
    state.counters["round_trips"] = static_cast<double>(calls) / n;
    state.counters["batches"] = static_cast<double>(batches) / n;
}

// Access by access over a slow link runs in virtual time (at 1 ms a 24C1024
// dump alone would take over an hour); so does a batched 24C1024 at 1 ms.
void Rows(benchmark::internal::Benchmark *b) {
    for (int part = 0; part < 2; ++part) {
        for (int job = 0; job < 3; ++job) {
            for (const int latency : {0, 125, 1000}) {
                for (const int batched : {0, 1}) {
                    const bool slow = latency != 0 && (batched == 0 || (part == 1 && latency == 1000));
                    b->Args({part, job, latency, batched, slow ? 1 : 0});
                }
            }
        }
    }
}
BENCHMARK(BM_OverALink)->Apply(Rows)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

extern "C" {

int hoplink_open(const char *config, int reserved, uint16_t linkParam) {
    return theLink.Open(config, reserved, linkParam);
}
int hoplink_close(void) { return theLink.Close(); }
int hoplink_cpu_stop(void) { return theLink.CpuStop(); }
int hoplink_enumerate_strings(intptr_t, intptr_t, intptr_t, intptr_t) { return 0; }
int hoplink_write(uint32_t address, uint32_t value) { return theLink.Write(address, value); }
int hoplink_read(uint32_t address, uint16_t *value) { return theLink.Read(address, value); }
int32_t hoplink_batch(hoplink_access *accesses, int32_t count) { return theLink.Batch(accesses, count); }

} // extern "C"

BENCHMARK_MAIN();
