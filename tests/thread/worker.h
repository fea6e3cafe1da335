// A Threadable whose Run is a test-supplied body, chosen per start.
#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "thread/threadable.h"

namespace zel::test {

class Worker : public Threadable {
public:
    using Body = std::function<uint32_t(Worker &)>;

    // Start n runs the n-th body (the last one once they run out).
    explicit Worker(std::vector<Body> bodies) : bodies_(std::move(bodies)) {}

    uint32_t Run() override {
        const int run = runs.fetch_add(1);
        const size_t index = std::min<size_t>(static_cast<size_t>(run), bodies_.size() - 1);
        return bodies_[index](*this);
    }

    // Returns once the thread has ended, without reaping it.
    void AwaitEnd() {
        while (IsRunning())
            std::this_thread::yield();
    }

    using Threadable::ExitCode;
    using Threadable::HoldsThread;
    using Threadable::StopRequested;

    std::atomic<int> runs{0};

private:
    const std::vector<Body> bodies_;
};

} // namespace zel::test
