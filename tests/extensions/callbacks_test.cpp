// C callbacks installed with zelSetCallbacks: the same sequence as a
// ZelHandler, on the same threads; each of the two kinds replaces the other;
// the struct is a copy; null members are skipped.
#include <gmock/gmock.h>

#include <atomic>

#include "jobs/job_fixture.h"

namespace zeltest {
namespace {

// Records C callbacks as HandlerEvents: `user` is the recorder.
struct CallbackRecorder {
    RecordingHandler events; // reused for its recording and summaries

    static void Progress(void *user, int progress) {
        static_cast<CallbackRecorder *>(user)->events.OnProgressChange(progress);
    }
    static void State(void *user, const char *state) {
        static_cast<CallbackRecorder *>(user)->events.OnStateChange(state);
    }
    static void Result(void *user, int result) { static_cast<CallbackRecorder *>(user)->events.OnResult(result); }
    static void Message(void *user, const char *message) {
        static_cast<CallbackRecorder *>(user)->events.OnMessage(message);
    }
    static constexpr ZelCallbacks kAll = {Progress, State, Result, Message};
};

class Callbacks : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    }
    void TearDown() override {
        zelStop();
        zelSetCallbacks(nullptr, nullptr);
        JobTest::TearDown();
    }
};

TEST_F(Callbacks, SameSequenceAsAHandlerOnTheSameThreads) {
    Target().GetFaults().wornBytes = {0x10};
    const std::thread::id caller = std::this_thread::get_id();
    ASSERT_EQ(zelClear(0x00, 1, 1), 0); // blocking, with one compare message pair
    const std::vector<HandlerEvent> asHandler = handler_.Events();

    CallbackRecorder recorder;
    ASSERT_EQ(zelSetCallbacks(&CallbackRecorder::kAll, &recorder), 1);
    Target().Fill(0xFF);
    ASSERT_EQ(zelClear(0x00, 1, 1), 0);
    ASSERT_EQ(zelClear(0x00, 0, 1), 1); // background
    EXPECT_EQ(recorder.events.WaitForWorkerResult(caller), 0);
    WaitUntilIdle();

    const std::vector<HandlerEvent> events = recorder.events.Events();
    const std::vector<HandlerEvent> blocking(events.begin(), events.begin() + asHandler.size());
    EXPECT_EQ(Summarize(blocking), Summarize(asHandler));
    EXPECT_EQ(Messages(blocking), Messages(asHandler));
    for (const HandlerEvent &event : blocking) {
        EXPECT_EQ(event.thread, caller);
    }
    ASSERT_GT(events.size(), asHandler.size() + 1);
    EXPECT_EQ(events[asHandler.size()].thread, caller); // the OnResult(0) of the start
    for (size_t k = asHandler.size() + 1; k < events.size(); ++k) {
        EXPECT_NE(events[k].thread, caller);
        EXPECT_EQ(events[k].busy, 1);
    }
    EXPECT_TRUE(handler_.Events().size() == asHandler.size()); // the handler was replaced
}

TEST_F(Callbacks, SetZelHandlerReplacesThemAndNullRemovesThem) {
    CallbackRecorder recorder;
    ASSERT_EQ(zelSetCallbacks(&CallbackRecorder::kAll, &recorder), 1);
    SetZelHandler(&handler_);
    ASSERT_EQ(zelClear(0x00, 1, 0), 1);
    EXPECT_TRUE(recorder.events.Events().empty());
    EXPECT_EQ(Summarize(handler_.Events()), "state:Clearing... progress result:1");

    const size_t heard = handler_.Events().size();
    ASSERT_EQ(zelSetCallbacks(&CallbackRecorder::kAll, &recorder), 1); // replaces the handler
    ASSERT_EQ(zelSetCallbacks(nullptr, &recorder), 1);                 // removes the callbacks
    ASSERT_EQ(zelClear(0xFF, 1, 0), 1);
    EXPECT_TRUE(recorder.events.Events().empty());
    EXPECT_EQ(handler_.Events().size(), heard);
}

TEST_F(Callbacks, TheStructIsCopiedAndNullMembersAreSkipped) {
    CallbackRecorder recorder;
    ZelCallbacks onlyResult = {nullptr, nullptr, CallbackRecorder::Result, nullptr};
    ASSERT_EQ(zelSetCallbacks(&onlyResult, &recorder), 1);
    onlyResult.onResult = nullptr; // the library holds its own copy
    onlyResult.onStateChange = CallbackRecorder::State;

    ASSERT_EQ(zelClear(0x00, 1, 1), 1);

    EXPECT_EQ(Summarize(recorder.events.Events()), "result:1");
}

TEST_F(Callbacks, EachUserPointerGetsItsOwnCalls) {
    CallbackRecorder first, second;
    ASSERT_EQ(zelSetCallbacks(&CallbackRecorder::kAll, &first), 1);
    ASSERT_EQ(zelClear(0x00, 1, 0), 1);
    ASSERT_EQ(zelSetCallbacks(&CallbackRecorder::kAll, &second), 1);
    ASSERT_EQ(zelClear(0xFF, 1, 0), 1);
    ASSERT_EQ(zelSetCallbacks(&CallbackRecorder::kAll, &first), 1); // the same set again
    ASSERT_EQ(zelClear(0x00, 1, 0), 1);

    EXPECT_EQ(Summarize(first.events.Events()),
              "state:Clearing... progress result:1 state:Clearing... progress result:1");
    EXPECT_EQ(Summarize(second.events.Events()), "state:Clearing... progress result:1");
}

// Once zelSetCallbacks has returned, the callbacks it replaced are not
// running and never run again: the host may free their user data.
TEST_F(Callbacks, NoReplacedCallbackRunsAfterTheCallReturned) {
    struct Guarded {
        std::atomic<bool> gone{false};
        std::atomic<int> lateCalls{0};
        Signal firstProgress;
        std::atomic<bool> signalled{false};
    };
    Guarded guarded;
    const ZelCallbacks callbacks = {[](void *user, int) {
                                        auto *g = static_cast<Guarded *>(user);
                                        if (g->gone.load()) {
                                            ++g->lateCalls;
                                        }
                                        if (!g->signalled.exchange(true)) {
                                            g->firstProgress.Set();
                                        }
                                    },
                                    nullptr, nullptr, nullptr};
    ASSERT_EQ(zelSetCallbacks(&callbacks, &guarded), 1);
    ASSERT_EQ(zelClear(0x00, 0, 1), 1);
    guarded.firstProgress.Wait();

    ASSERT_EQ(zelSetCallbacks(nullptr, nullptr), 1);
    guarded.gone.store(true);
    WaitUntilIdle();

    EXPECT_EQ(guarded.lateCalls.load(), 0);
    EXPECT_EQ(zelGetResult(), 1);
}

} // namespace
} // namespace zeltest
