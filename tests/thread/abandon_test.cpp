#include <gtest/gtest.h>

#include "latch.h"
#include "platform/abandon.h"
#include "registrar.h"
#include "thread/tls_mutex.h"
#include "worker.h"

namespace zel::test {
namespace {

// Returns once no thread record is left, seen under the process-wide mutex:
// every thread has then taken and released the mutex for the last time.
void AwaitNoThreadRecords(const TlsRegistry *registry) {
    for (;;) {
        ModuleTlsMutex().Lock();
        const bool empty = registry->Block()->threads == nullptr;
        ModuleTlsMutex().Unlock();
        if (empty)
            return;
        std::this_thread::yield();
    }
}

// The abandoned thread goes on running after Stop; what it does later must
// not reach the object's newer thread.
TEST(AbandonedThread, EndsLaterWithoutTouchingTheNextRun) {
    const TlsRegistry *registry = InstallRegistry();
    Latch running{1}, mayReturn{1}, abandonedDone{1}, secondRunning{1}, secondRelease{1};
    std::atomic<bool> sawAbandoned{false}, sawStopRequested{false};
    TestKey done{{nullptr, [](void *latch) { static_cast<Latch *>(latch)->count_down(); }}, nullptr};
    Worker worker({[&](Worker &w) {
                       Register(&done, &abandonedDone); // runs as the thread's last step
                       running.count_down();
                       while (!platform::CurrentThreadAbandoned())
                           std::this_thread::yield();
                       sawAbandoned = true;
                       sawStopRequested = w.StopRequested();
                       mayReturn.wait();
                       return 0xBADu;
                   },
                   [&](Worker &) {
                       secondRunning.count_down();
                       secondRelease.wait();
                       return 7u;
                   }});
    ASSERT_TRUE(worker.Start());
    running.wait();
    EXPECT_TRUE(worker.Stop(1000));
    EXPECT_FALSE(worker.IsRunning());

    ASSERT_TRUE(worker.Start()); // while the abandoned thread may still run
    secondRunning.wait();
    mayReturn.count_down();
    abandonedDone.wait();
    EXPECT_TRUE(sawAbandoned);
    EXPECT_TRUE(sawStopRequested);
    EXPECT_FALSE(worker.StopRequested()); // the second run was not asked to stop
    EXPECT_NE(worker.ExitCode(), 0xBADu);
    EXPECT_TRUE(worker.IsRunning());

    secondRelease.count_down();
    EXPECT_TRUE(worker.Wait(0));
    EXPECT_EQ(worker.ExitCode(), 7u);
    EXPECT_FALSE(platform::CurrentThreadAbandoned());
    AwaitNoThreadRecords(registry);
}

} // namespace
} // namespace zel::test
