// The one process-wide job object: parameters of the current image job, its
// progress and result, and the host's handler.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

class ZelHandler;

namespace zel {

class ZelWorker {
public:
    // A job body: runs the job on the calling thread, reports the result
    // through SetResult and returns it (1 or 0).
    using Body = int (ZelWorker::*)();

    // The job object, created on first use; null when it cannot be allocated.
    static ZelWorker *Instance();

    ZelWorker(const ZelWorker &) = delete;
    ZelWorker &operator=(const ZelWorker &) = delete;

    // Store under the lock, then tell the handler with the lock still held.
    // SetProgress is false when the job on this thread is to end early.
    bool SetProgress(int percent);
    void SetResult(int result);
    // Handler texts, passed on without the lock.
    void ReportState(const char *state);
    void ReportMessage(const char *text);

    int GetProgress();
    int GetResult();

    void SetHandler(ZelHandler *handler);

private:
    ZelWorker() = default;

    std::recursive_mutex lock_;          // guards the stores of progress_ and result_ with their callbacks
    std::atomic<int> progress_{0};       // 0..100
    std::atomic<int> result_{0};         // 1 success, 0 failure or not yet known
    std::atomic<ZelHandler *> handler_{nullptr}; // not owned; replaced at any time
};

} // namespace zel
