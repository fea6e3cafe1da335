// Which callbacks run with the job's lock held: inside OnProgressChange a
// host thread's zelGetProgress waits for the callback to return; inside
// OnStateChange it returns at once. Seen through the watched lock of this
// program (lock_watch.h), without timing.
#include <gtest/gtest.h>

#include <optional>

#include "lock_watch.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace zeltest {
namespace {

class LockWatchingHandler : public ZelHandler {
public:
    void OnProgressChange(int) override {
        if (!progressSeen) {
            progressSeen = progressReader.Start([] { zelGetProgress(); });
        }
    }
    void OnStateChange(const char *) override {
        if (!stateSeen) {
            stateSeen = stateReader.Start([] { zelGetProgress(); });
            if (stateSeen == Seen::Returned) {
                stateReader.Join(); // it completed while this callback still runs
            }
        }
    }

    WatchedCall progressReader, stateReader;
    std::optional<Seen> progressSeen, stateSeen;
};

class CallbackLock : public LinkTest {};

TEST_F(CallbackLock, ProgressCallbackHoldsTheJobLockAndStateCallbackDoesNot) {
    ASSERT_TRUE(Attach("SIMPART=24C02", 8, 0));
    LockWatchingHandler handler;
    SetZelHandler(&handler);
    uint8_t bytes[16];
    EXPECT_EQ(zelReadMemory(0, bytes, sizeof bytes, 1), 1);
    SetZelHandler(nullptr);
    handler.progressReader.Join(); // it gets the lock once the callback has returned
    handler.stateReader.Join();

    EXPECT_EQ(handler.stateSeen, Seen::Returned) << "zelGetProgress waited inside OnStateChange";
    EXPECT_EQ(handler.progressSeen, Seen::Waited) << "zelGetProgress did not wait inside OnProgressChange";
}

} // namespace
} // namespace zeltest
