// Units per minute on a production line: a 4 KiB image and a serial number
// into virtual 24C256s over a link whose every call takes 125 us
// (SIMLATENCY, in real time), batched as zelprog batches. Three ways: a gang
// of four sites (a supervisor and a worker process a site), a gang of one
// site, and one `zelprog program --serial-at` a unit, as a station with one
// adapter ran before gangs. Every unit arrives erased (a new backing file),
// as a new board does: a unit that already holds the image programs several
// times faster (0.45 s erased, 0.1 s again here), so it would not count. A gang command is
// one round (a unit a site), then the boards are changed. The sites' waits
// on their links overlap; their processor time shares this machine's cores.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

namespace fs = std::filesystem;

constexpr int kRounds = 3;
constexpr std::size_t kImageBytes = 4096;
constexpr const char *kLatencyUs = "125";

fs::path Folder() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("zelprog-bench-gang-" + std::to_string(getpid()));
        fs::create_directories(d);
        std::mt19937 random(4096);
        std::string image(kImageBytes, '\0');
        for (char &c : image)
            c = static_cast<char>(random());
        std::ofstream(d / "fw.bin", std::ios::binary) << image;
        return d;
    }();
    return dir;
}

// A new, erased unit on the site.
std::string NewUnit(int site, int round) {
    const fs::path file = Folder() / ("site-" + std::to_string(site) + "-" + std::to_string(round) + ".bin");
    fs::remove(file);
    return "SIMPART=24c256 SIMTWR=5 SIMLATENCY=" + std::string(kLatencyUs) + " SIMFILE=" + file.string();
}

bool Run(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const bool started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return started && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Report(benchmark::State &state, int units, std::chrono::duration<double> took) {
    state.SetIterationTime(took.count());
    state.counters["units"] = units;
    state.counters["units_per_minute"] = units / took.count() * 60.0;
}

// range(0): sites in the gang; 0: one zelprog program a unit.
void BM_UnitsPerMinute(benchmark::State &state) {
    const int sites = static_cast<int>(state.range(0));
    const fs::path counter = Folder() / ("counter-" + std::to_string(sites));
    const std::vector<std::string> serial = {"--serial-at", "0x20", "--counter", counter.string()};
    const std::string image = (Folder() / "fw.bin").string();
    for (auto _ : state) {
        fs::remove(counter);
        fs::remove(counter.string() + ".log");
        const auto began = std::chrono::steady_clock::now();
        bool ok = true;
        int units = 0;
        for (int round = 0; round < kRounds && ok; ++round) {
            std::vector<std::string> args = {ZELPROG_PATH, "--part", "24c256", "-q"};
            if (sites == 0)
                args.insert(args.end(), {"--link", NewUnit(0, round), "program"});
            else
                args.push_back("gang");
            args.insert(args.end(), {image, "--offset", "0"});
            args.insert(args.end(), serial.begin(), serial.end());
            if (round == 0)
                args.insert(args.end(), {"--first", "1000"}); // a new counter each run
            for (int site = 1; site <= sites; ++site)
                args.insert(args.end(), {"--site", NewUnit(site, round)});
            ok = Run(args);
            units += sites == 0 ? 1 : sites;
        }
        const auto took = std::chrono::steady_clock::now() - began;
        if (!ok) {
            state.SkipWithError("zelprog failed");
            return;
        }
        Report(state, units, took);
    }
    state.SetLabel(sites == 0 ? "one zelprog program a unit" : std::to_string(sites) + "-site gang");
}
BENCHMARK(BM_UnitsPerMinute)
    ->Arg(4)
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
