// Host calls to the link during a background job, against the real virtual
// target (libhoplink), which has no lock of its own: the library must never
// call it from two threads at once. ThreadSanitizer sees any overlap.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "zelapi.h"

namespace {

constexpr uint32_t kBytes = 4096; // 24C32

// Tells the test once the job's progress has reached 10 %; never waits itself.
class MidwayHandler : public ZelHandler {
public:
    void OnProgressChange(int progress) override {
        if (progress >= 10) {
            std::lock_guard<std::mutex> guard(mutex_);
            midway_ = true;
            changed_.notify_all();
        }
    }
    void OnResult(int) override {
        std::lock_guard<std::mutex> guard(mutex_);
        ++results_;
        changed_.notify_all();
    }
    void WaitMidway() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return midway_; });
    }
    // The OnResult(0) of the start and the job's own.
    void WaitForJobEnd() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return results_ >= 2; });
    }

private:
    std::mutex mutex_; // guards midway_ and results_
    std::condition_variable changed_;
    bool midway_ = false;
    int results_ = 0;
};

struct LinkCall {
    const char *name;
    void (*call)();
    int result; // the job's
};

const LinkCall kCalls[] = {
    {"OpenOtherPart", [] { zelInitTrans("SIMPART=24C02 SIMTWR=0", 0, 8, 0); }, 0},
    {"Close", [] { zelClose(); }, 0},
    {"MoveLines", [] { zelSetPioLines(9, 10, 11); }, 0},
    {"ListPorts",
     [] {
         int32_t count = 0;
         zelGetAvailableSpiPorts(reinterpret_cast<intptr_t>(&count), 0, 0, 0);
     },
     1},
};

class TransportCalls : public testing::TestWithParam<LinkCall> {};

TEST_P(TransportCalls, NeverOverlapAJobsAccesses) {
    ASSERT_EQ(zelInitTrans("SIMPART=24C32 SIMTWR=0", 0, 12, 0), 1);
    MidwayHandler handler;
    SetZelHandler(&handler);
    const std::vector<uint8_t> data(kBytes, 0x5A);
    ASSERT_EQ(zelWriteMemory(0, data.data(), kBytes, 0, 1), 1);
    handler.WaitMidway();

    GetParam().call();

    handler.WaitForJobEnd();
    while (zelIsBusy() != 0) {
        std::this_thread::yield();
    }
    EXPECT_EQ(zelGetResult(), GetParam().result);
    SetZelHandler(nullptr);
    zelStop(); // lets go of the ended worker thread
    zelClose();
}

INSTANTIATE_TEST_SUITE_P(DuringABackgroundJob, TransportCalls, testing::ValuesIn(kCalls),
                         [](const testing::TestParamInfo<LinkCall> &info) { return info.param.name; });

} // namespace
