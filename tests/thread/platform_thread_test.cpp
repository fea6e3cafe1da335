#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "latch.h"
#include "platform/abandon.h"
#include "platform/thread.h"

namespace zel::platform {
namespace {

using test::Latch;

struct Gate {
    Latch running{1};
    Latch release{1};
};

uint32_t ReturnsAtOnce(void *) { return 0x1234; }

uint32_t WaitsForRelease(void *argument) {
    auto *gate = static_cast<Gate *>(argument);
    gate->running.count_down();
    gate->release.wait();
    return 77;
}

// Never ends by itself; where the owner abandons instead of ending it, it
// ends once it sees that it was given up on.
uint32_t NeverEnds(void *argument) {
    static_cast<Gate *>(argument)->running.count_down();
    while (!CurrentThreadAbandoned())
        std::this_thread::yield();
    return 1;
}

TEST(PlatformThread, EndedThreadReportsWhatItsEntryReturned) {
    uint32_t id = 0;
    Thread *thread = StartThread(ReturnsAtOnce, nullptr, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitThread(thread, kWaitForever), WaitResult::Ended);
    uint32_t code = 0;
    EXPECT_TRUE(ThreadExitCode(thread, &code));
    EXPECT_EQ(code, 0x1234u);
    EXPECT_TRUE(CloseThread(thread));
}

TEST(PlatformThread, LiveThreadTimesOutAndHasNoExitCode) {
    Gate gate;
    uint32_t id = 0;
    Thread *thread = StartThread(WaitsForRelease, &gate, &id);
    ASSERT_NE(thread, nullptr);
    gate.running.wait();
    for (uint32_t timeout : {0u, 5u})
        EXPECT_EQ(WaitThread(thread, timeout), WaitResult::TimedOut);
    uint32_t code = 0;
    EXPECT_FALSE(ThreadExitCode(thread, &code));
    gate.release.count_down();
    EXPECT_EQ(WaitThread(thread, kWaitForever), WaitResult::Ended);
    EXPECT_TRUE(ThreadExitCode(thread, &code));
    EXPECT_EQ(code, 77u);
    EXPECT_TRUE(CloseThread(thread));
}

TEST(PlatformThread, ForcedEndCountsAsEndedWithTheGivenExitCode) {
    Gate gate;
    uint32_t id = 0;
    Thread *thread = StartThread(NeverEnds, &gate, &id);
    ASSERT_NE(thread, nullptr);
    gate.running.wait();
    EXPECT_TRUE(EndThreadForcibly(thread, 0xDEAD2));
    EXPECT_EQ(WaitThread(thread, 0), WaitResult::Ended);
    uint32_t code = 0;
    EXPECT_TRUE(ThreadExitCode(thread, &code));
    EXPECT_EQ(code, 0xDEAD2u);
    EXPECT_TRUE(CloseThread(thread));
}

TEST(PlatformThread, HookRunsOnCreatorAfterCreationAndOnNewThreadBeforeEntry) {
    struct Seen {
        std::atomic<std::thread::id> created, beginning;
    } seen;
    const ThreadHook hook{[](ThreadHookPoint point, void *context) {
                              auto *s = static_cast<Seen *>(context);
                              (point == ThreadHookPoint::Created ? s->created : s->beginning) =
                                  std::this_thread::get_id();
                          },
                          &seen};
    SetThreadHook(&hook);
    uint32_t id = 0;
    Thread *thread = StartThread(ReturnsAtOnce, nullptr, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitThread(thread, kWaitForever), WaitResult::Ended);
    SetThreadHook(nullptr);
    EXPECT_EQ(seen.created.load(), std::this_thread::get_id());
    EXPECT_NE(seen.beginning.load(), std::thread::id());
    EXPECT_NE(seen.beginning.load(), std::this_thread::get_id());
    EXPECT_TRUE(CloseThread(thread));
}

} // namespace
} // namespace zel::platform
