#include <gtest/gtest.h>

#include "latch.h"
#include "platform/abandon.h"
#include "platform/thread.h"
#include "worker.h"

namespace zel::test {
namespace {

uint32_t UntilStopRequested(Worker &worker, Latch &running, uint32_t result) {
    running.count_down();
    while (!worker.StopRequested())
        std::this_thread::yield();
    return result;
}

TEST(Threadable, FreshObjectIsIdleAndWaitAndStopReturnAtOnce) {
    for (uint32_t timeout : {0u, 5u, 1000u}) {
        Worker worker({[](Worker &) { return 0u; }});
        EXPECT_FALSE(worker.IsRunning());
        EXPECT_TRUE(worker.Wait(timeout)) << timeout;
        EXPECT_TRUE(worker.Stop(timeout)) << timeout;
        EXPECT_FALSE(worker.HoldsThread());
        EXPECT_EQ(worker.runs, 0);
    }
}

TEST(Threadable, StopWhileIdleDoesNotAffectTheNextStart) {
    Worker worker({[](Worker &w) { return w.StopRequested() ? 1u : 2u; }});
    worker.RequestStop();
    EXPECT_TRUE(worker.Stop(1000));
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Wait(0));
    EXPECT_EQ(worker.runs, 1);
    EXPECT_EQ(worker.ExitCode(), 2u);
}

TEST(Threadable, StartWhileRunIsWorkingIsRefused) {
    Latch running{1}, release{1};
    Worker worker({[&](Worker &) {
        running.count_down();
        release.wait();
        return 3u;
    }});
    ASSERT_TRUE(worker.Start());
    running.wait();
    EXPECT_FALSE(worker.Start());
    release.count_down();
    EXPECT_TRUE(worker.Wait(0));
    EXPECT_EQ(worker.runs, 1);
    EXPECT_EQ(worker.ExitCode(), 3u);
}

TEST(Threadable, StartAfterRunReturnedReapsTheOldThreadAndStartsAgain) {
    Worker worker({[](Worker &) { return 10u; }, [](Worker &) { return 11u; }});
    ASSERT_TRUE(worker.Start());
    worker.AwaitEnd();
    EXPECT_TRUE(worker.HoldsThread());
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Wait(0));
    EXPECT_EQ(worker.runs, 2);
    EXPECT_EQ(worker.ExitCode(), 11u);
}

TEST(Threadable, StopOfARunThatEndsByItselfKeepsItsExitCode) {
    struct Case {
        const char *name;
        bool endsBeforeStop;
        uint32_t result;
    };
    for (const Case c : {Case{"ends on the request", false, 42}, Case{"already ended", true, 7}}) {
        Latch running{1};
        Worker worker(
            {[&](Worker &w) { return c.endsBeforeStop ? c.result : UntilStopRequested(w, running, c.result); }});
        ASSERT_TRUE(worker.Start());
        if (c.endsBeforeStop)
            worker.AwaitEnd();
        else
            running.wait();
        EXPECT_TRUE(worker.Stop(1000)) << c.name;
        EXPECT_FALSE(worker.IsRunning()) << c.name;
        EXPECT_FALSE(worker.HoldsThread()) << c.name;
        EXPECT_EQ(worker.ExitCode(), c.result) << c.name;
    }
}

TEST(Threadable, StopOfARunThatNeverEndsEndsItAndLeavesTheObjectUsable) {
    Latch running{1};
    Worker worker({[&](Worker &) {
                       running.count_down();
                       // never ends by itself; only a thread given up on sees this turn true
                       while (!platform::CurrentThreadAbandoned())
                           std::this_thread::yield();
                       return 1u;
                   },
                   [](Worker &) { return 5u; }});
    ASSERT_TRUE(worker.Start());
    running.wait();
    EXPECT_TRUE(worker.Stop(1000));
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.HoldsThread());
    EXPECT_EQ(worker.ExitCode(), 0u); // a forced end leaves the exit code alone
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.Wait(0));
    EXPECT_EQ(worker.ExitCode(), 5u);
}

// Holds every new thread before its entry until `release`; runs `onCreated`
// on the creating thread right after creation.
struct HeldStart {
    std::function<void()> onCreated;
    Latch release{1};
    platform::ThreadHook hook{[](platform::ThreadHookPoint point, void *context) {
                                  auto *held = static_cast<HeldStart *>(context);
                                  if (point == platform::ThreadHookPoint::Created)
                                      held->onCreated();
                                  else
                                      held->release.wait();
                              },
                              this};
    explicit HeldStart(std::function<void()> created) : onCreated(std::move(created)) {
        platform::SetThreadHook(&hook);
    }
    ~HeldStart() { platform::SetThreadHook(nullptr); }
};

TEST(Threadable, StopBeforeTheThreadMarksItselfStartedSkipsRun) {
    struct Case {
        const char *name;
        bool stopInsideStart; // between creation and Start marking the thread started
        int runs;
        uint32_t exitCode;
    };
    const Case cases[] = {
        {"stop between creation and start", true, 0, kExitStoppedBeforeStart},
        {"stop after Start returned", false, 1, 9},
    };
    for (const Case &c : cases) {
        Worker worker({[](Worker &w) { return w.StopRequested() ? 9u : 8u; }});
        {
            HeldStart held([&] {
                if (c.stopInsideStart)
                    worker.RequestStop();
            });
            ASSERT_TRUE(worker.Start()) << c.name;
            if (!c.stopInsideStart)
                worker.RequestStop();
            held.release.count_down();
            EXPECT_TRUE(worker.Wait(0)) << c.name;
        }
        EXPECT_EQ(worker.runs, c.runs) << c.name;
        EXPECT_EQ(worker.ExitCode(), c.exitCode) << c.name;
    }
}

TEST(Threadable, ShortWaitOnALongRunFailsAndKeepsTheThread) {
    Latch running{1}, release{1};
    Worker worker({[&](Worker &) {
        running.count_down();
        release.wait();
        return 4u;
    }});
    ASSERT_TRUE(worker.Start());
    running.wait();
    EXPECT_FALSE(worker.Wait(5));
    EXPECT_TRUE(worker.HoldsThread());
    EXPECT_TRUE(worker.IsRunning());
    release.count_down();
    EXPECT_TRUE(worker.Wait(0));
    EXPECT_FALSE(worker.HoldsThread());
    EXPECT_EQ(worker.ExitCode(), 4u);
}

TEST(Threadable, IsRunningTurnsFalseWhenTheThreadEndsBeforeAnyoneReapsIt) {
    Latch running{1}, release{1};
    Worker worker({[&](Worker &) {
        running.count_down();
        release.wait();
        return 6u;
    }});
    ASSERT_TRUE(worker.Start());
    running.wait();
    EXPECT_TRUE(worker.IsRunning());
    release.count_down();
    worker.AwaitEnd();
    EXPECT_TRUE(worker.HoldsThread());
    EXPECT_EQ(worker.ExitCode(), 6u);
}

// Its Run touches nothing of the subclass once it runs, so the base
// destructor may stop it.
class Probe : public Threadable {
public:
    Probe(Latch &running, std::atomic<bool> &sawStop) : running_(running), sawStop_(sawStop) {}
    uint32_t Run() override {
        std::atomic<bool> &sawStop = sawStop_;
        running_.count_down();
        while (!StopRequested())
            std::this_thread::yield();
        sawStop = true;
        return 0;
    }

private:
    Latch &running_;
    std::atomic<bool> &sawStop_;
};

TEST(Threadable, DestroyingARunningObjectStopsItsThreadFirst) {
    Latch running{1};
    std::atomic<bool> sawStop{false};
    auto *probe = new Probe(running, sawStop);
    ASSERT_TRUE(probe->Start());
    running.wait();
    delete probe;
    EXPECT_TRUE(sawStop);
}

} // namespace
} // namespace zel::test
