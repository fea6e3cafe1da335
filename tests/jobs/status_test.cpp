// The status exports and the handler's installation.
#include <gtest/gtest.h>

#include "jobs/job_fixture.h"
#include "lock_watch.h"

namespace zeltest {
namespace {

class StatusTest : public JobTest {};

TEST_F(StatusTest, BeforeAnyJobEverythingIsZero) {
    EXPECT_EQ(zelGetProgress(), 0);
    EXPECT_EQ(zelGetResult(), 0);
    EXPECT_EQ(zelIsBusy(), 0);
}

class ProgressInsideCallback : public JobTest, public testing::WithParamInterface<bool> {};

TEST_P(ProgressInsideCallback, HandlerReadsTheValueItWasJustGiven) {
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    std::vector<std::pair<int, int>> seen; // given, read back
    handler_.hook = [&](const HandlerEvent &event) {
        if (event.kind == HandlerEvent::Kind::Progress) {
            seen.emplace_back(event.value, zelGetProgress());
        } else if (event.kind == HandlerEvent::Kind::Result) {
            seen.emplace_back(-event.value - 1, -zelGetResult() - 1);
        }
    };
    const bool blocking = GetParam();

    ASSERT_EQ(zelClear(0x5A, blocking, 1), 1);
    if (!blocking) {
        handler_.WaitForWorkerResult(std::this_thread::get_id());
        WaitUntilIdle();
    }

    ASSERT_GT(seen.size(), 10u);
    for (const auto &[given, readBack] : seen) {
        EXPECT_EQ(readBack, given);
    }
}

INSTANTIATE_TEST_SUITE_P(BothModes, ProgressInsideCallback, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "Blocking" : "Background";
                         });

TEST_F(StatusTest, RemovingTheHandlerMidJobSkipsCallbacksButKeepsTheResult) {
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    Signal midway, release;
    bool held = false;
    handler_.hook = [&](const HandlerEvent &event) {
        if (!held && event.kind == HandlerEvent::Kind::Progress && event.value >= 50) {
            held = true;
            midway.Set();
            release.Wait();
        }
    };
    ASSERT_EQ(zelClear(0x00, 0, 0), 1);
    midway.Wait();
    const size_t eventsHeld = handler_.Events().size();

    // the removal waits for the held callback to return
    WatchedCall remover;
    EXPECT_EQ(remover.Start([] { SetZelHandler(nullptr); }), Seen::Waited);
    release.Set();
    remover.Join();
    WaitUntilIdle();

    EXPECT_EQ(handler_.Events().size(), eventsHeld);
    EXPECT_EQ(zelGetResult(), 1);
    EXPECT_EQ(zelGetProgress(), 100);
    EXPECT_EQ(Memory(), std::vector<uint8_t>(256, 0x00));
}

} // namespace
} // namespace zeltest
