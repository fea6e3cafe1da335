// A one-shot latch on a mutex and condition variable. std::latch is not used:
// the MinGW-w64 runtime's atomic wait can miss a wake-up and hang.
#pragma once

#include <condition_variable>
#include <mutex>

namespace zel::test {

class Latch {
public:
    explicit Latch(int count) : count_(count) {}
    Latch(const Latch &) = delete;
    Latch &operator=(const Latch &) = delete;

    void count_down() {
        std::lock_guard<std::mutex> guard(mutex_);
        if (count_ > 0 && --count_ == 0)
            reached_.notify_all();
    }

    void wait() {
        std::unique_lock<std::mutex> guard(mutex_);
        reached_.wait(guard, [this] { return count_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable reached_;
    int count_;
};

} // namespace zel::test
