// Hundreds of background jobs on a 24C02, each stopped with zelStop after a
// random number of progress callbacks (seeded, the seed is printed). The
// handler calls zelGetProgress, zelGetResult and zelIsBusy from inside every
// callback. Every job must end (no deadlock, no forced end), a stopped job
// must report 0, a job that completed before the stop was asked may report
// its real result, and after every job a blocking program must succeed.
// ZEL_STRESS_SEED=<seed> repeats a run.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "support/test_data.h"
#include "support/test_transport.h"
#include "zelapi.h"

#ifndef ZEL_STRESS_JOBS
#define ZEL_STRESS_JOBS 500
#endif

namespace zeltest {
namespace {

constexpr int kJobs = ZEL_STRESS_JOBS;
constexpr uint32_t kBytes = 256;
constexpr uint8_t kErased = 0xFF;
// A poll of about 40 accesses takes 0.8 ms: two polls per 1 ms write cycle.
constexpr uint32_t kMicrosPerAccess = 20;

enum class Kind { ProgramOther, ProgramOtherVerified, VerifySame, VerifyOther, Dump, DumpVerified, Clear };
constexpr std::array<Kind, 7> kKinds = {
    Kind::ProgramOther, Kind::ProgramOtherVerified, Kind::VerifySame, Kind::VerifyOther,
    Kind::Dump,         Kind::DumpVerified,         Kind::Clear};

// Two images, erased but for a handful of bytes each, so that programming
// one over the other and clearing either write only those bytes.
std::vector<uint8_t> Image(uint32_t seed) {
    std::vector<uint8_t> bytes(kBytes, kErased);
    for (uint32_t k = 0; k < 6; ++k) {
        bytes[(seed * 41 + k * 43) % kBytes] = static_cast<uint8_t>(seed + k * 17);
    }
    return bytes;
}

std::string ImageText(const std::vector<uint8_t> &bytes) {
    std::string text;
    char line[32];
    for (uint32_t k = 0; k < kBytes; k += 2) {
        std::snprintf(line, sizeof line, "@%04x  %04x\n", k / 2,
                      static_cast<unsigned>(bytes[k] | bytes[k + 1] << 8));
        text += line;
    }
    return text;
}

// text mode: the library writes its lines with the platform's line ends
std::string ReadText(const std::string &path) { return zeltest::ReadFile(path, std::ios::in); }

// The callbacks of one job, as the worker thread saw them. Every callback
// also checks the status exports against what it was given.
class StressHandler : public ZelHandler {
public:
    // Before each job: stop after this many progress callbacks (0: at once).
    void Arm(int stopAfter, int transfers) {
        std::lock_guard<std::mutex> guard(mutex_);
        stopAfter_ = stopAfter;
        transfers_ = transfers;
        progressSeen_ = 0;
        completeTransfers_ = 0;
        workerResult_ = -1;
        resultBeforeStop_ = false;
        stopAsked_ = false;
    }

    // Waits until the stop point or the job's own end, whichever comes first.
    void WaitForStopPoint() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return progressSeen_ >= stopAfter_ || workerResult_ >= 0; });
    }

    // Marks the moment zelStop is called: had the job told its result by then?
    // Lets a worker that waits at the stop point go on.
    void StopAsked() {
        std::lock_guard<std::mutex> guard(mutex_);
        resultBeforeStop_ = workerResult_ >= 0;
        stopAsked_ = true;
        changed_.notify_all();
    }

    void OnProgressChange(int progress) override {
        Check(zelGetProgress() == progress, "zelGetProgress differs inside OnProgressChange");
        // a blocking job runs on the caller's thread and does not make the library busy
        const bool background = std::this_thread::get_id() != caller_;
        Check(zelIsBusy() == (background ? 1 : 0), "zelIsBusy inside OnProgressChange");
        Check(!background || zelGetResult() == 0, "a result before the background job ended");
        std::unique_lock<std::mutex> guard(mutex_);
        ++progressSeen_;
        completeTransfers_ += progress == 100 ? 1 : 0;
        changed_.notify_all();
        if (progressSeen_ == stopAfter_) {
            // the worker waits at its stop point until the host thread is awake and
            // about to stop it, so that fast jobs do not run to their end meanwhile
            changed_.wait_for(guard, std::chrono::seconds(1), [this] { return stopAsked_; });
        }
    }

    void OnStateChange(const char *) override { Check(zelGetProgress() >= 0, "progress below 0"); }
    void OnMessage(const char *) override {
        Check(zelIsBusy() == (std::this_thread::get_id() != caller_ ? 1 : 0), "zelIsBusy inside OnMessage");
    }

    void OnResult(int result) override {
        Check(zelGetResult() == result, "zelGetResult differs inside OnResult");
        if (std::this_thread::get_id() == caller_) {
            return; // the OnResult(0) of the start
        }
        std::lock_guard<std::mutex> guard(mutex_);
        workerResult_ = result;
        changed_.notify_all();
    }

    void SetCaller(std::thread::id caller) { caller_ = caller; }
    int WorkerResult() const {
        std::lock_guard<std::mutex> g(mutex_);
        return workerResult_;
    }
    bool ResultBeforeStop() const {
        std::lock_guard<std::mutex> g(mutex_);
        return resultBeforeStop_;
    }
    // Every transfer of the job reached 100: it had nothing left that a stop could cut off.
    bool Complete() const {
        std::lock_guard<std::mutex> g(mutex_);
        return completeTransfers_ == transfers_;
    }
    int ProgressSeen() const {
        std::lock_guard<std::mutex> g(mutex_);
        return progressSeen_;
    }
    std::string Trouble() const {
        std::lock_guard<std::mutex> g(mutex_);
        return trouble_;
    }

private:
    void Check(bool ok, const char *what) {
        if (!ok) {
            std::lock_guard<std::mutex> guard(mutex_);
            if (trouble_.empty()) {
                trouble_ = what;
            }
        }
    }

    mutable std::mutex mutex_; // guards everything below; never held while calling the library
    std::condition_variable changed_;
    std::thread::id caller_;
    int stopAfter_ = 0;
    int transfers_ = 0; // transfers of the job: each ends with a progress of 100
    int progressSeen_ = 0;
    int completeTransfers_ = 0;
    int workerResult_ = -1; // -1: none yet
    bool resultBeforeStop_ = false;
    bool stopAsked_ = false; // the host thread is about to call zelStop
    std::string trouble_;
};

class StopStress : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        // a folder of this run's own: the suites of other builds may run at the same time
        folder_ = std::filesystem::path(testing::TempDir()) /
                  ("zel_stop_stress_" + std::to_string(std::random_device{}()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        same_ = Image(1);
        other_ = Image(2);
        WriteFile(Path("same.txt"), ImageText(same_));
        WriteFile(Path("other.txt"), ImageText(other_));
        transport().Clock().SetStep(kMicrosPerAccess);
        ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=1", 8, 0));
        handler_.SetCaller(std::this_thread::get_id());
        SetZelHandler(&handler_);
    }

    void TearDown() override {
        zelStop();
        SetZelHandler(nullptr);
        std::filesystem::remove_all(folder_);
        LinkTest::TearDown();
    }

    static void WriteFile(const std::string &path, const std::string &text) {
        std::ofstream(path, std::ios::trunc) << text;
    }

    std::string Path(const char *name) const { return (folder_ / name).string(); }

    std::vector<uint8_t> Memory() {
        const std::span<uint8_t> cells = Target().Memory();
        return {cells.begin(), cells.end()};
    }

    // Starts the job in the background: 1 when it started.
    int Start(Kind kind) {
        switch (kind) {
        case Kind::ProgramOther:
            return zelProgram(Path("other.txt").c_str(), 0, 0);
        case Kind::ProgramOtherVerified:
            return zelProgram(Path("other.txt").c_str(), 0, 1);
        case Kind::VerifySame:
            return zelVerify(Path("same.txt").c_str(), 0);
        case Kind::VerifyOther:
            return zelVerify(Path("other.txt").c_str(), 0);
        case Kind::Dump:
            return zelDump(Path("dump.txt").c_str(), 0, 0);
        case Kind::DumpVerified:
            return zelDump(Path("dump.txt").c_str(), 0, 1);
        case Kind::Clear:
            return zelClear(kErased, 0, 0);
        }
        return 0;
    }

    static int Transfers(Kind kind) {
        return kind == Kind::ProgramOtherVerified || kind == Kind::DumpVerified ? 2 : 1;
    }

    static int RealResult(Kind kind) { return kind == Kind::VerifyOther ? 0 : 1; }

    // What the EEPROM may hold once the job ended, stopped or not, and what
    // it holds when the job ran to its end.
    std::vector<uint8_t> Wanted(Kind kind) const {
        switch (kind) {
        case Kind::ProgramOther:
        case Kind::ProgramOtherVerified:
            return other_;
        case Kind::Clear:
            return std::vector<uint8_t>(kBytes, kErased);
        default:
            return same_;
        }
    }

    // Every byte holds its value from before the job or the one it writes.
    std::string Stray(Kind kind, const std::vector<uint8_t> &memory) const {
        const std::vector<uint8_t> target = Wanted(kind);
        for (uint32_t i = 0; i < kBytes; ++i) {
            if (memory[i] != same_[i] && memory[i] != target[i]) {
                return "byte " + std::to_string(i) + " holds " + std::to_string(memory[i]);
            }
        }
        return "";
    }

    // The job ran to its end: the EEPROM and the output file show it.
    bool Finished(Kind kind, const std::vector<uint8_t> &memory) {
        if (memory != Wanted(kind)) {
            return false;
        }
        return (kind != Kind::Dump && kind != Kind::DumpVerified) ||
               ReadText(Path("dump.txt")) == ImageText(same_);
    }

    std::filesystem::path folder_;
    std::vector<uint8_t> same_, other_;
    StressHandler handler_;
};

struct Tally {
    int stopped = 0;        // ended with 0 after the stop was asked
    int finishedBefore = 0; // OnResult came before zelStop was called
    int completeAtStop = 0; // told after zelStop was called, but every transfer had reached 100
};

TEST_F(StopStress, RandomStopsOfBackgroundJobsNeverDeadlockAndLeaveTheNextJobWorking) {
    // ZEL_STRESS_SEED repeats a run
    const char *given = std::getenv("ZEL_STRESS_SEED");
    const uint32_t seed =
        given != nullptr ? static_cast<uint32_t>(std::strtoul(given, nullptr, 10)) : std::random_device{}();
    std::cout << "stop stress: " << kJobs << " background jobs, seed " << seed << "\n";
    std::mt19937 random(seed);

    // progress callbacks of each kind when it runs to its end, as the range to stop in
    ASSERT_EQ(zelProgram(Path("same.txt").c_str(), 1, 1), 1);
    std::array<int, kKinds.size()> callbacks{};
    for (size_t k = 0; k < kKinds.size(); ++k) {
        handler_.Arm(1 << 30, Transfers(kKinds[k]));
        ASSERT_EQ(Start(kKinds[k]), 1);
        handler_.WaitForStopPoint();
        zelStop();
        ASSERT_EQ(handler_.WorkerResult(), RealResult(kKinds[k])) << int(k);
        callbacks[k] = handler_.ProgressSeen();
        ASSERT_EQ(zelProgram(Path("same.txt").c_str(), 1, 1), 1);
    }

    Tally tally;
    const auto began = std::chrono::steady_clock::now();
    for (int job = 0; job < kJobs; ++job) {
        const size_t k = random() % kKinds.size();
        const Kind kind = kKinds[k];
        const int stopAfter = static_cast<int>(random() % (callbacks[k] + callbacks[k] / 10 + 2));
        SCOPED_TRACE("job " + std::to_string(job) + ", kind " + std::to_string(k) + ", stop after " +
                     std::to_string(stopAfter) + " progress callbacks");
        handler_.Arm(stopAfter, Transfers(kind));
        ASSERT_EQ(Start(kind), 1);
        handler_.WaitForStopPoint();
        handler_.StopAsked();
        ASSERT_EQ(zelStop(), 1);

        ASSERT_EQ(zelIsBusy(), 0);
        const int result = handler_.WorkerResult();
        ASSERT_NE(result, -1) << "the job was ended forcibly: it sent no result";
        ASSERT_EQ(zelGetResult(), result);
        ASSERT_EQ(handler_.Trouble(), "");
        const std::vector<uint8_t> memory = Memory();
        ASSERT_EQ(Stray(kind, memory), "");
        if (handler_.ResultBeforeStop()) {
            ++tally.finishedBefore;
            ASSERT_EQ(result, RealResult(kind));
            ASSERT_TRUE(Finished(kind, memory));
        } else if (result != 0) {
            // told after the stop was asked: only a job that the stop reached too late may
            ASSERT_TRUE(handler_.Complete()) << "a stopped job reported " << result;
            ASSERT_EQ(result, RealResult(kind));
            ASSERT_TRUE(Finished(kind, memory));
            ++tally.completeAtStop;
        } else {
            ++tally.stopped;
        }
        // the next job: a blocking program back to the starting image
        transport().ClearLog();
        ASSERT_EQ(zelProgram(Path("same.txt").c_str(), 1, 1), 1);
        ASSERT_EQ(Memory(), same_);
        transport().ClearLog();
    }
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    std::cout << "stop stress: " << kJobs << " jobs in " << took.count() << " ms: " << tally.stopped
              << " stopped with result 0, " << tally.finishedBefore << " finished before zelStop, "
              << tally.completeAtStop << " completed every transfer while zelStop was on its way\n";
    EXPECT_GT(tally.stopped, kJobs / 4) << "too few stops landed while a job ran";
}

} // namespace
} // namespace zeltest
