// Runs job bodies: blocking on the caller's thread, or in the background on
// the one worker thread. It owns what every job shares: the settings the
// exports set for the next job, the stop, progress and result with their
// lock, and the handler dispatch. A body sees it only as its JobContext.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "jobs/dispatch.h"
#include "jobs/job.h"
#include "thread/lock.h"
#include "thread/threadable.h"

namespace zel {

// Lives as long as the job object, which is never destroyed: its worker
// thread may run up to the process's end.
class JobRunner final : public Threadable, private JobContext {
public:
    static constexpr uint32_t kStopTimeoutMs = 1000;

    JobRunner();

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
    // result 0 (told on this thread), progress 0, then the worker thread;
    // 1 when it started.
    int RunJob(JobBody body, bool blocking);
    // Asks the background job to end and waits for it; the forced end is
    // the last resort. From the worker thread itself it only asks.
    void StopJob();

    int GetProgress();
    int GetResult();

    // Once it has returned (called outside a callback), no callback of the
    // earlier handler runs or is still running.
    // False on a thread that a stop gave up on: it installs nothing.
    bool SetHandler(ZelHandler *handler);

    // What the next job takes at its start; written only while no job runs.
    Job &Pending() { return pending_; }

private:
    uint32_t Run() override;
    bool StartJob(JobBody body);
    // Runs the body, then stores and tells its result (0 when it threw);
    // the job counts as ended before that result is told.
    int RunGuarded(JobBody body);
    // Moves the settings and the write data into `job`; false, with nothing
    // taken, once the owner has given up on this thread.
    bool TakeSettings(Job *job);
    void RetireLock();

    // False, with nothing stored or told, on a thread given up on.
    bool StoreAndTell(std::atomic<int> &field, int value, void (HandlerDispatch::*tell)(int));
    // SetProgress is false when the job on this thread is to end early.
    bool SetProgress(int percent);
    void SetResult(int result);

    bool KeepGoing() const override;
    ProgressSink Progress() override;
    void ReportState(const char *state) override;
    bool TellMismatch(const char *text) override;

    Job pending_;
    char message_[kMessageSize] = {};     // the last compare message; written only by the job that runs
    JobBody job_ = &RunProgram;           // what the worker thread runs; set before its start
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

} // namespace zel
