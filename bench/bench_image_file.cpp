// Image file reading and writing for the largest part of the family: a 64 KiB
// EEPROM is 32768 records.
#include "jobs/image_file.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kLength = 64 * 1024;

std::string ScratchPath() { return (std::filesystem::temp_directory_path() / "zel-bench-image.hex").string(); }

void WriteImageFile64K(benchmark::State &state) {
    const std::vector<uint16_t> image(kLength / 2, 0xA55A);
    const std::string path = ScratchPath();
    for (auto _ : state)
        benchmark::DoNotOptimize(zel::WriteImageFile(path.c_str(), image.data(), kLength));
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLength);
}
BENCHMARK(WriteImageFile64K)->Unit(benchmark::kMillisecond);

void ReadImageFile64K(benchmark::State &state) {
    std::vector<uint16_t> image(kLength / 2, 0xA55A);
    const std::string path = ScratchPath();
    zel::WriteImageFile(path.c_str(), image.data(), kLength);
    for (auto _ : state)
        benchmark::DoNotOptimize(zel::ReadImageFile(path.c_str(), image.data(), kLength));
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLength);
}
BENCHMARK(ReadImageFile64K)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
