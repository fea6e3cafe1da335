// The one process-wide job object: the worker thread of background jobs,
// the parameters of the current image job, its progress and result, and the
// host's handler.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "eeprom/block.h"
#include "jobs/dispatch.h"
#include "thread/lock.h"
#include "thread/threadable.h"

namespace zel {

class ZelWorker final : public Threadable {
public:
    static constexpr std::size_t kPathSize = 248;   // path characters with the terminator
    static constexpr std::size_t kMessageSize = 64; // compare message with the terminator
    static constexpr uint32_t kStopTimeoutMs = 1000;

    // What the exports set for the next job. Each job takes its own copy at
    // its start, so that a thread that a stop gave up on never reads what
    // the host sets for a later job.
    struct Settings {
        char path[kPathSize] = {};
        uint8_t fillByte = 0;
        bool verifyAfter = false;
        uint32_t pageBytes = 0; // 0: byte writes
        // the memory jobs' range; the read job's buffer is the host's,
        // written once the whole range was read
        uint32_t memoryAddress = 0;
        uint32_t memoryLength = 0;
        uint8_t *readBuffer = nullptr;
        bool verifyWrite = false; // read the written range back and compare
    };
    struct Job : Settings {
        std::vector<uint8_t> writeData; // copied from the host when the job is accepted
    };

    // A job body: runs the job on the calling thread and returns its result
    // (1 or 0). The runner stores and tells it once the job has ended, so
    // a body never calls SetResult itself.
    using Body = int (ZelWorker::*)(const Job &job);

    // The job object, created on first use and never destroyed; null when
    // it cannot be allocated.
    static ZelWorker *Instance();

    // The worker thread runs a background job; always true on that thread.
    bool BackgroundJobRunning();
    // No job runs (a blocking one on any thread, or a background one) and
    // the calling thread is not inside a background start (a handler that
    // starts a job from such a callback is refused; from the final OnResult
    // of a blocking job it may).
    bool MayStartJob();
    // A job runs, or this thread is inside one or a background start: the
    // single device routines refuse then.
    bool JobOwnsBus();

    // Blocking: runs the body here and returns its result. Background:
    // StartJob, 1 when the worker thread started.
    int RunJob(Body body, bool blocking);
    // Result 0 (told on this thread), progress 0, then the worker thread.
    bool StartJob(Body body);
    // Asks the background job to end and waits for it; the forced end is
    // the last resort. From the worker thread itself it only asks.
    void StopJob();

    // Store under the lock, then tell the handler with the lock still held.
    // Every callback goes through the handler dispatch.
    // SetProgress is false when the job on this thread is to end early.
    bool SetProgress(int percent);
    // What the job bodies hand their block transfers: SetProgress.
    ProgressSink JobProgress();
    void SetResult(int result);
    // Handler texts, passed on without the lock.
    void ReportState(const char *state);
    void ReportMessage(const char *text);

    int GetProgress();
    int GetResult();

    // Once it has returned (called outside a callback), no callback of the
    // earlier handler runs or is still running.
    // False on a thread that a stop gave up on: it installs nothing.
    bool SetHandler(ZelHandler *handler);

    // Job parameters; written only while no background job runs.
    static bool PathFits(const char *path); // not null and shorter than kPathSize
    void SetPath(const char *path);         // the caller has checked PathFits
    void SetFillByte(uint8_t fill) { settings_.fillByte = fill; }
    void SetVerifyAfter(bool verify) { settings_.verifyAfter = verify; }
    // The text of the last compare error; written only by the job that runs.
    const char *Message() const { return message_; }

    // The image jobs.
    int RunProgram(const Job &job);
    int RunVerify(const Job &job);
    int RunDump(const Job &job);
    int RunClear(const Job &job);
    // 1 when the first size / 2 words agree; each differing word is told to
    // the handler as "\n" and its compare message.
    int CompareImages(const uint16_t *expected, const uint16_t *readBack, int32_t size);

    // Page size of the program, clear and write-memory jobs' writes; 0: byte
    // writes. Set only while no job runs.
    void SetPageBytes(uint32_t pageBytes) { settings_.pageBytes = pageBytes; }

    // The memory jobs (memory_jobs.cpp). A range must be non-empty and lie
    // inside the attached EEPROM; the caller has checked it with RangeFits.
    static bool RangeFits(uint32_t address, uint32_t length);
    void SetReadMemory(uint32_t address, uint8_t *buffer, uint32_t length);
    void SetWriteMemory(uint32_t address, const uint8_t *data, uint32_t length, bool verify);
    int RunReadMemory(const Job &job);
    int RunWriteMemory(const Job &job);

private:
    using Steps = int (ZelWorker::*)(const Job &job, uint16_t *first, uint16_t *second, int32_t size);

    ZelWorker();

    uint32_t Run() override;
    // Runs the body, then stores and tells its result (0 when it threw);
    // the job counts as ended before that result is told.
    int RunGuarded(Body body);
    // Moves the settings and the write data into `job`; false, with nothing
    // taken, once the owner has given up on this thread.
    bool TakeSettings(Job *job);
    // False once the job on this thread has been asked to stop or abandoned.
    bool KeepGoing() const;
    // Copies a compare message into message_ and tells it as "\n" and the
    // text; false, with nothing stored or told, on a thread given up on.
    bool TellMismatch(const char *text);
    void RetireLock();

    int RunWithImages(const Job &job, Steps steps);
    int ProgramSteps(const Job &job, uint16_t *image, uint16_t *readBack, int32_t size);
    int VerifySteps(const Job &job, uint16_t *image, uint16_t *readBack, int32_t size);
    int DumpSteps(const Job &job, uint16_t *image, uint16_t *readBack, int32_t size);
    int ClearSteps(const Job &job, uint16_t *image, uint16_t *readBack, int32_t size);
    int ReadBackAndCompare(const uint16_t *expected, uint16_t *readBack, int32_t size);
    bool WriteImage(const Job &job, const uint16_t *image, int32_t size);
    // The writes of the page-write and range paths; a write cycle that
    // outlasts the acknowledge polling is told as an error message.
    bool WriteChecked(const Job &job, uint32_t address, const uint16_t *words, uint32_t length);
    int CompareBytes(uint32_t address, const std::vector<uint8_t> &expected, const uint16_t *readBack);

    Settings settings_;
    char message_[kMessageSize] = {};
    std::vector<uint8_t> writeData_;      // the write-memory job's bytes, until it takes them
    Body job_ = &ZelWorker::RunProgram;   // what the worker thread runs; set before its start
    std::atomic<uint64_t> startedJob_{0}; // serial of the last background start
    std::atomic<uint64_t> activeJob_{0};  // serial of the background job not yet ended, 0: none
    std::atomic<int> blockingJobs_{0};    // blocking jobs whose result is not yet told
    // Guards the stores of progress_ and result_ together with their
    // callbacks. Replaced after a forced end, which may leave it held for
    // ever; retired locks are kept, never destroyed.
    std::atomic<Lock> lock_;
    std::vector<Lock> retiredLocks_;
    std::atomic<int> progress_{0}; // 0..100
    std::atomic<int> result_{0};   // 1 success, 0 failure or not yet known
    HandlerDispatch dispatch_;     // the installed handler; replaced at any time
};

// A job owns the bus (see JobOwnsBus): the single device routines refuse then.
bool JobRunning();

} // namespace zel
