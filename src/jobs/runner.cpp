#include "jobs/runner.h"

#include <cstdio>

#include "platform/abandon.h"
#include "platform/thread.h"
#include "spi/transport.h"

namespace zel {
namespace {

// Set on the worker thread for its whole life: the runner's stop request
// speaks only to that thread.
thread_local bool onWorkerThread = false;
// Jobs in progress on this thread (a blocking job, or the worker's job).
thread_local int jobsOnThisThread = 0;

// A job, or a background start, on this thread; a blocking job also counts
// in `blocking`, which other threads see.
class JobScope {
public:
    explicit JobScope(std::atomic<int> *blocking = nullptr) : blocking_(blocking) {
        ++jobsOnThisThread;
        if (blocking_ != nullptr) {
            ++*blocking_;
        }
    }
    ~JobScope() {
        if (blocking_ != nullptr) {
            --*blocking_;
        }
        --jobsOnThisThread;
    }
    JobScope(const JobScope &) = delete;
    JobScope &operator=(const JobScope &) = delete;

private:
    std::atomic<int> *blocking_;
};

} // namespace

JobRunner::JobRunner() : lock_(CreateLock()) {}

bool JobRunner::BackgroundJobRunning() { return onWorkerThread || IsRunning(); }

bool JobRunner::MayStartJob() { return jobsOnThisThread == 0 && blockingJobs_ == 0 && !BackgroundJobRunning(); }

bool JobRunner::JobOwnsBus() { return jobsOnThisThread > 0 || blockingJobs_ > 0 || BackgroundJobRunning(); }

int JobRunner::RunJob(JobBody body, bool blocking) {
    if (blocking) {
        return RunGuarded(body);
    }
    return StartJob(body) ? 1 : 0;
}

bool JobRunner::StartJob(JobBody body) {
    const JobScope starting; // a job export from the OnResult(0) below is refused
    job_ = body;
    SetResult(0); // told on the calling thread, before the export returns
    progress_.store(0);
    const uint64_t serial = startedJob_.load() + 1;
    startedJob_.store(serial);
    activeJob_.store(serial);
    if (!Start()) {
        activeJob_.store(0);
        return false;
    }
    return true;
}

uint32_t JobRunner::Run() {
    onWorkerThread = true;
    uint64_t serial = startedJob_.load();
    const int result = RunGuarded(job_);
    // a thread given up on leaves a later job's marker alone
    activeJob_.compare_exchange_strong(serial, 0);
    return static_cast<uint32_t>(result);
}

int JobRunner::RunGuarded(JobBody body) {
    int result = 0;
    {
        const JobScope scope(onWorkerThread ? nullptr : &blockingJobs_);
        const JobLinkScope link;
        try {
            Job job;
            result = TakeSettings(&job) ? body(job, *this) : 0;
        } catch (...) {
            result = 0;
        }
        if (LinkChangedUnderJob()) {
            result = 0; // whatever it did, it was not all done on the link it began with
        }
    }
    // the job has ended: its one result is final, and a host may start the
    // next job from the OnResult that tells it
    SetResult(result);
    return result;
}

void JobRunner::StopJob() {
    if (onWorkerThread) {
        RequestStop(); // a handler on the worker thread cannot wait for its own thread
        return;
    }
    Stop(kStopTimeoutMs);
    if (activeJob_.exchange(0) != 0) {
        RetireLock(); // the job did not end by itself: its thread may hold the lock for ever
    }
}

void JobRunner::RetireLock() {
    retiredLocks_.push_back(lock_.exchange(CreateLock()));
    dispatch_.GiveUpOnRunningCallback();
    RetireTransportLock();
}

bool JobRunner::TakeSettings(Job *job) {
    if (!platform::BeginOwnerAccess()) {
        return false;
    }
    static_cast<Settings &>(*job) = pending_;
    job->writeData.swap(pending_.writeData); // no copy: the host's bytes are the job's now
    platform::EndOwnerAccess();
    return true;
}

bool JobRunner::TellMismatch(const char *text) {
    if (!platform::BeginOwnerAccess()) {
        return false;
    }
    std::snprintf(message_, sizeof message_, "%s", text);
    platform::EndOwnerAccess();
    dispatch_.Message("\n");
    dispatch_.Message(message_);
    return true;
}

bool JobRunner::KeepGoing() const {
    return !platform::CurrentThreadAbandoned() && !LinkChangedUnderJob() && !(onWorkerThread && StopRequested());
}

// The one way a job's progress or result reaches the host: stored under the
// lock, then told with the lock still held. A thread that a stop gave up on
// no longer speaks for any job: it stores and tells nothing, and it does not
// take the locks either (they may be the next job's by now). The owner
// cannot give up on the thread between the last check and the store.
bool JobRunner::StoreAndTell(std::atomic<int> &field, int value, void (HandlerDispatch::*tell)(int)) {
    if (platform::CurrentThreadAbandoned()) {
        return false;
    }
    const HandlerDispatch::CallScope calling(dispatch_);
    const ScopedLock guard(lock_.load());
    if (!platform::BeginOwnerAccess()) {
        return false;
    }
    field.store(value);
    platform::EndOwnerAccess();
    (dispatch_.*tell)(value);
    return true;
}

bool JobRunner::SetProgress(int percent) {
    return StoreAndTell(progress_, percent, &HandlerDispatch::Progress) && KeepGoing();
}

void JobRunner::SetResult(int result) { StoreAndTell(result_, result, &HandlerDispatch::Result); }

ProgressSink JobRunner::Progress() {
    return {[](void *runner, int percent) { return static_cast<JobRunner *>(runner)->SetProgress(percent); },
            this};
}

void JobRunner::ReportState(const char *state) { dispatch_.State(state); }

int JobRunner::GetProgress() {
    const ScopedLock guard(lock_.load());
    return progress_.load();
}

int JobRunner::GetResult() {
    const ScopedLock guard(lock_.load());
    return result_.load();
}

bool JobRunner::SetHandler(ZelHandler *handler) { return dispatch_.Install(handler); }

} // namespace zel
