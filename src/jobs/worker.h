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

    static constexpr std::size_t kPathSize = 248;    // path characters with the terminator
    static constexpr std::size_t kMessageSize = 64;  // compare message with the terminator

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

    // Job parameters; written only while no background job runs.
    static bool PathFits(const char *path);  // not null and shorter than kPathSize
    void SetPath(const char *path);          // the caller has checked PathFits
    void SetFillByte(uint8_t fill) { fillByte_ = fill; }
    void SetVerifyAfter(bool verify) { verifyAfter_ = verify; }
    const char *Message() const { return message_; }

    // The image jobs.
    int RunProgram();
    int RunVerify();
    int RunDump();
    int RunClear();
    // 1 when the first size / 2 words agree; each differing word is told to
    // the handler as "\n" and its compare message.
    int CompareImages(const uint16_t *expected, const uint16_t *readBack, int32_t size);

private:
    using Steps = int (ZelWorker::*)(uint16_t *first, uint16_t *second, int32_t size);

    ZelWorker() = default;

    // False once the job on this thread has been asked to stop or abandoned.
    bool KeepGoing() const;

    int RunWithImages(Steps steps);
    int ProgramSteps(uint16_t *image, uint16_t *readBack, int32_t size);
    int VerifySteps(uint16_t *image, uint16_t *readBack, int32_t size);
    int DumpSteps(uint16_t *image, uint16_t *readBack, int32_t size);
    int ClearSteps(uint16_t *image, uint16_t *readBack, int32_t size);
    int ReadBackAndCompare(const uint16_t *expected, uint16_t *readBack, int32_t size);

    char path_[kPathSize] = {};
    char message_[kMessageSize] = {};
    uint8_t fillByte_ = 0;
    bool verifyAfter_ = false;
    std::recursive_mutex lock_;          // guards the stores of progress_ and result_ with their callbacks
    std::atomic<int> progress_{0};       // 0..100
    std::atomic<int> result_{0};         // 1 success, 0 failure or not yet known
    std::atomic<ZelHandler *> handler_{nullptr}; // not owned; replaced at any time
};

} // namespace zel
