// A thread that its owner ends forcibly may be anywhere: also inside its own
// beginning or its own stop request. Start and Stop stay usable afterwards:
// the next thread runs and the owner never waits for ever.
//
// The program watches the stand-in recursive lock: a thread marked to be held
// is held inside its next acquisition, the lock taken, until the process
// ends, as a thread ended there (Windows) or given up on there (POSIX)
// leaves it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "latch.h"
#include "support/stand_in_lock.h"
#include "platform/thread.h"
#include "worker.h"

namespace {

thread_local bool holdNextLock = false;

zel::test::Latch &Reached() {
    static auto *reached = new zel::test::Latch(1); // the held thread got where it was to be held
    return *reached;
}

[[noreturn]] void HoldForEver() {
    static auto *never = new zel::test::Latch(1);
    never->wait();
    std::abort();
}

// A thread marked to be held is held once it has taken the lock.
class HoldMarked : public zeltest::LockObserver {
    void Taken() override {
        if (holdNextLock) {
            Reached().count_down();
            HoldForEver();
        }
    }
};

} // namespace

namespace zel::test {
namespace {

enum class HeldIn { Beginning, OwnStopRequest };

struct HeldCase {
    const char *name;
    HeldIn where;
};

void PrintTo(const HeldCase &c, std::ostream *os) { *os << c.name; }

// Marks the first thread at its beginning, before the object's own code runs.
void MarkFirstThread(platform::ThreadHookPoint point, void *) {
    static std::atomic<bool> marked{false};
    if (point == platform::ThreadHookPoint::Beginning && !marked.exchange(true))
        holdNextLock = true;
}

class ForcedEnd : public testing::TestWithParam<HeldCase> {};

TEST_P(ForcedEnd, OfAThreadInsideItsOwnBookkeepingLeavesTheObjectUsable) {
    const HeldIn where = GetParam().where;
    static auto *const holder = new HoldMarked;
    zeltest::ObserveLocks(holder);
    static const platform::ThreadHook hook{MarkFirstThread, nullptr};
    if (where == HeldIn::Beginning)
        platform::SetThreadHook(&hook);
    Worker worker({[where](Worker &w) -> uint32_t {
                       if (where == HeldIn::OwnStopRequest) {
                           holdNextLock = true;
                           w.RequestStop();
                       }
                       holdNextLock = false;
                       Reached().count_down();
                       HoldForEver();
                   },
                   [](Worker &) { return 7u; }});
    ASSERT_TRUE(worker.Start());
    Reached().wait();
    platform::SetThreadHook(nullptr);

    EXPECT_TRUE(worker.Stop(100)); // ends the held thread forcibly
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Wait(0));
    EXPECT_EQ(worker.ExitCode(), 7u);
}

const HeldCase kHeldCases[] = {
    {"AtItsBeginning", HeldIn::Beginning},
    {"InItsOwnStopRequest", HeldIn::OwnStopRequest},
};

INSTANTIATE_TEST_SUITE_P(HeldThread, ForcedEnd, testing::ValuesIn(kHeldCases),
                         [](const testing::TestParamInfo<HeldCase> &info) { return info.param.name; });

} // namespace
} // namespace zel::test
