#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "thread/lock.h"

namespace zel {
namespace {

// Returns only once another thread could take and release `lock`.
void TakeOnOtherThread(Lock lock) {
    std::thread other([lock] { ScopedLock guard(lock); });
    other.join();
}

TEST(Lock, HolderMayTakeItAgainAndOthersGetItAfterTheLastRelease) {
    Lock lock = CreateLock();
    EnterLock(lock);
    EnterLock(lock);
    LeaveLock(lock);
    LeaveLock(lock);
    TakeOnOtherThread(lock);
    DestroyLock(lock);
}

TEST(Lock, ScopedLockReleasesWhenTheScopeIsLeftByAnException) {
    Lock lock = CreateLock();
    EXPECT_THROW(
        {
            ScopedLock guard(lock);
            throw std::runtime_error("leaves the scope");
        },
        std::runtime_error);
    TakeOnOtherThread(lock);
    DestroyLock(lock);
}

} // namespace
} // namespace zel
