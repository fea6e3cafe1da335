// Jobs on a 24C256 over the emulated FT232H at standard mode, in the
// emulator's time: zelprog runs them against the stand-in libftdi1 and the
// emulator's report gives the time the bus and the USB took. Against the
// bus's own limit: 9 clocks a byte at 100 kHz.
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr double kBusHz = 100000;
constexpr uint32_t kBytes = 32768, kChunk = 64, kPage = 64;
// The emulated EEPROM's write cycles take no time: they would run in
// emulated time while the library's polling limit (20 ms) runs in real
// time, and a descheduled zelprog outlasts it. With real cycles of t each,
// a program in pages takes t a page more, plus at most one poll (about
// 0.45 ms) after each cycle, and its limit t a page more.

struct Report {
    double elapsedS = 0;
    double roundTrips = 0;
    double violations = -1;
};

fs::path Scratch() {
    const fs::path dir = fs::temp_directory_path() / ("zel-bench-ftdi-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    return dir;
}

// One zelprog command over the emulated adapter; the report of its run.
Report Zelprog(const fs::path &dir, const std::string &command) {
    const fs::path report = dir / "report.json";
    fs::remove(report);
    setenv("LD_LIBRARY_PATH", FTDI_EMU_DIR, 1);
    const std::string world =
        "device=FT232H:BENCH1;part=24C256;sim=SIMTWR=0;file=" + (dir / "eeprom.bin").string();
    setenv("ZEL_FTDI_EMU", world.c_str(), 1);
    setenv("ZEL_FTDI_EMU_REPORT", report.string().c_str(), 1);
    const std::string line =
        std::string(ZELPROG_PATH) + " --link SPITRANS=FTDI --part 24c256 " + command + " >/dev/null";
    Report r;
    if (std::system(line.c_str()) != 0)
        return r;
    std::ifstream in(report);
    std::stringstream text;
    text << in.rdbuf();
    const nlohmann::json json = nlohmann::json::parse(text.str(), nullptr, false);
    if (!json.is_object())
        return r;
    r.elapsedS = json.value("elapsed_ns", 0.0) / 1e9;
    r.roundTrips = json.value("round_trips", 0.0);
    r.violations = json.value("violations_total", -1.0);
    return r;
}

void Erase(const fs::path &dir) {
    std::ofstream(dir / "eeprom.bin", std::ios::binary) << std::string(kBytes, '\xFF');
}

// Round trips per chunk leave out those of the open (`opening`: an info
// command's, which opens, finds the device and reads nothing else).
void Count(benchmark::State &state, const Report &r, const Report &opening, double limitS, double chunks) {
    state.counters["emulated_s"] = r.elapsedS;
    state.counters["limit_s"] = limitS;
    state.counters["ratio"] = r.elapsedS / limitS;
    state.counters["round_trips_per_chunk"] = (r.roundTrips - opening.roundTrips) / chunks;
    state.counters["violations"] = r.violations;
    if (r.elapsedS <= 0)
        state.SkipWithError("zelprog or the emulator's report failed");
}

void BM_Read24C256(benchmark::State &state) {
    const fs::path dir = Scratch();
    Erase(dir);
    Report r;
    for (auto _ : state) {
        r = Zelprog(dir, "dump " + (dir / "dump.bin").string());
        state.SetIterationTime(r.elapsedS);
    }
    Count(state, r, Zelprog(dir, "info"), kBytes * 9 / kBusHz, kBytes / kChunk);
    fs::remove_all(dir);
}

// From erased. The library reads each page before it writes it (bytes that
// agree are not written): the bus time of a page is that read (device
// address twice, two address bytes, the page) and the write (device
// address, two address bytes, the page), 9 clocks a byte.
void BM_ProgramPages24C256(benchmark::State &state) {
    const fs::path dir = Scratch();
    std::string image(kBytes, '\0');
    std::mt19937 random(1);
    for (char &c : image)
        c = static_cast<char>(random());
    std::ofstream(dir / "image.bin", std::ios::binary) << image;
    Report r;
    for (auto _ : state) {
        state.PauseTiming();
        Erase(dir);
        state.ResumeTiming();
        r = Zelprog(dir, "program --no-verify " + (dir / "image.bin").string());
        state.SetIterationTime(r.elapsedS);
    }
    const double pages = kBytes / kPage;
    Count(state, r, Zelprog(dir, "info"), pages * (4 + kPage + 3 + kPage) * 9 / kBusHz, pages);
    state.counters["ratio_write_only"] = r.elapsedS / (pages * (3 + kPage) * 9 / kBusHz);
    fs::remove_all(dir);
}

} // namespace

BENCHMARK(BM_Read24C256)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ProgramPages24C256)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
