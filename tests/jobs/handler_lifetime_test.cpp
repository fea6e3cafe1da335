// Handler installation as a job runs: a replaced handler may be deleted as
// soon as SetZelHandler returns, and a job's final result lets the host
// start the next job while a start in progress does not.
#include <gtest/gtest.h>

#include "jobs/job_fixture.h"
#include "lock_watch.h"

namespace zeltest {
namespace {

// Holds its first progress callback until released, then touches itself.
class HoldingHandler final : public ZelHandler {
public:
    HoldingHandler(Signal &entered, Signal &release) : entered_(entered), release_(release) {}

    void OnProgressChange(int) override {
        if (held_++ == 0) {
            entered_.Set();
            release_.Wait();
        }
        ++calls_; // freed memory here shows a callback outliving its handler
    }

private:
    Signal &entered_;
    Signal &release_;
    int held_ = 0;
    int calls_ = 0;
};

class HandlerLifetime : public JobTest {};

TEST_F(HandlerLifetime, ReplacedHandlerMayBeDeletedOnceSetZelHandlerReturns) {
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    Signal entered, release;
    auto *old = new HoldingHandler(entered, release);
    SetZelHandler(old);
    ASSERT_EQ(zelClear(0x00, 0, 0), 1);
    entered.Wait();

    WatchedCall host;
    EXPECT_EQ(host.Start([&] {
        SetZelHandler(&handler_);
        delete old;
    }),
              Seen::Waited)
        << "SetZelHandler returned while the old handler's callback ran";
    release.Set();
    host.Join();
    WaitUntilIdle();

    EXPECT_EQ(zelGetResult(), 1);
    const std::vector<HandlerEvent> events = handler_.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, HandlerEvent::Kind::Result);
    EXPECT_EQ(events.back().value, 1);
}

TEST_F(HandlerLifetime, HandlerReplacedFromInsideItsCallbackDoesNotWaitForItself) {
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    RecordingHandler next;
    handler_.hook = [&](const HandlerEvent &event) {
        if (event.kind == HandlerEvent::Kind::Progress && event.value >= 50) {
            SetZelHandler(&next);
        }
    };

    EXPECT_EQ(zelClear(0x00, 1, 0), 1);

    ASSERT_FALSE(next.Events().empty());
    EXPECT_EQ(Summarize(next.Events()), "progress result:1");
}

TEST_F(HandlerLifetime, FinalResultOfABlockingJobMayStartTheNextJob) {
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    const std::string image = TempPath("image.txt");
    WriteImageFile(image, std::vector<uint16_t>(128, 0xFFFF));
    int chained = -1;
    handler_.hook = [&](const HandlerEvent &event) {
        if (event.kind == HandlerEvent::Kind::Result && chained == -1) {
            chained = -2; // the chained job's own OnResult comes through here too
            chained = zelClear(0x11, 1, 1);
        }
    };

    EXPECT_EQ(zelVerify(image.c_str(), 1), 1);

    EXPECT_EQ(chained, 1);
    EXPECT_EQ(Memory(), std::vector<uint8_t>(256, 0x11));
    EXPECT_EQ(Summarize(handler_.Events()),
              "state:Reading... progress result:1 state:Clearing... progress state:Verifying... "
              "progress result:1");
}

TEST_F(HandlerLifetime, StartFromTheOnResultOfABackgroundStartIsRefused) {
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    int nested = -1;
    handler_.hook = [&](const HandlerEvent &event) {
        if (event.kind == HandlerEvent::Kind::Result && nested == -1) {
            nested = -2;
            nested = zelClear(0x22, 0, 0);
        }
    };

    ASSERT_EQ(zelClear(0x33, 0, 0), 1);
    EXPECT_EQ(handler_.WaitForWorkerResult(std::this_thread::get_id()), 1);
    WaitUntilIdle();

    EXPECT_EQ(nested, 0);
    EXPECT_EQ(Memory(), std::vector<uint8_t>(256, 0x33));
    // the stop bookkeeping is the outer job's: the next start and stop work
    handler_.hook = nullptr;
    ASSERT_EQ(zelClear(0x44, 0, 0), 1);
    EXPECT_EQ(zelStop(), 1);
    EXPECT_EQ(zelIsBusy(), 0);
    EXPECT_EQ(zelClear(0x55, 1, 0), 1);
}

} // namespace
} // namespace zeltest
