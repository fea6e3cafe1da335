#include "core/job.h"

#include <zelapi.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zelprog {
namespace {

constexpr std::chrono::milliseconds kPollPeriod{50};

std::string Trimmed(const char *text) {
    std::string s = text != nullptr ? text : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

// The handler of one job. Callbacks come on the library's worker thread;
// the runner's thread only waits here and reads the count after the job.
class JobEvents final : public ZelHandler {
public:
    JobEvents(uint64_t bytes, const EventSink &sink) : bytes_(bytes), sink_(sink) {}

    void OnProgressChange(int progress) override {
        std::lock_guard<std::mutex> hold(mutex_);
        if (progress == 0 && lastPercent_ > 0)
            phaseStart_ = Clock::now(); // the read-back pass begins
        if (progress != lastPercent_) {
            lastPercent_ = progress;
            Tell(Progress(progress));
        }
        Wake();
    }
    void OnStateChange(const char *state) override {
        std::lock_guard<std::mutex> hold(mutex_);
        state_ = Trimmed(state);
        phaseStart_ = Clock::now();
        lastPercent_ = -1;
        Tell(StateEvent(state_));
    }
    void OnResult(int) override {
        std::lock_guard<std::mutex> hold(mutex_);
        Wake();
    }
    void OnMessage(const char *message) override {
        const std::string text = Trimmed(message);
        if (text.empty())
            return; // the separator line before each message
        const std::vector<Event> mismatches = MismatchEvents(text);
        std::lock_guard<std::mutex> hold(mutex_);
        for (const Event &mismatch : mismatches)
            Tell(mismatch);
        mismatches_ += static_cast<int>(mismatches.size());
        if (mismatches.empty()) {
            failure_ = text;
            Tell(MessageEvent(text));
        }
    }

    // Returns after `timeout` or as soon as a callback arrives.
    void WaitForActivity(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> hold(mutex_);
        activity_.wait_for(hold, timeout, [this] { return woken_; });
        woken_ = false;
    }
    // What the job told, after it ended.
    JobReport Report(JobOutcome outcome) const {
        std::lock_guard<std::mutex> hold(mutex_);
        return {outcome, mismatches_, failure_};
    }

private:
    using Clock = std::chrono::steady_clock;

    Event Progress(int percent) const {
        const double elapsed = std::chrono::duration<double>(Clock::now() - phaseStart_).count();
        if (percent <= 0 || elapsed <= 0.0 || bytes_ == 0)
            return ProgressEvent(state_, percent, 0.0, 0.0);
        const double done = static_cast<double>(bytes_) * percent / 100.0;
        return ProgressEvent(state_, percent, done / elapsed, elapsed * (100 - percent) / percent);
    }
    void Tell(const Event &event) const {
        if (sink_)
            sink_(event);
    }
    void Wake() {
        woken_ = true;
        activity_.notify_all();
    }

    const uint64_t bytes_;
    const EventSink &sink_;

    mutable std::mutex mutex_; // guards every field below and the calls of the sink
    std::condition_variable activity_;
    bool woken_ = false;
    std::string state_ = "Working...";
    Clock::time_point phaseStart_ = Clock::now();
    int lastPercent_ = -1;
    int mismatches_ = 0;
    std::string failure_;
};

// The handler is installed only while the job runs, so that no callback can
// reach a handler that is gone.
class HandlerScope {
public:
    explicit HandlerScope(ZelHandler &handler) { SetZelHandler(&handler); }
    ~HandlerScope() { SetZelHandler(nullptr); }
    HandlerScope(const HandlerScope &) = delete;
    HandlerScope &operator=(const HandlerScope &) = delete;
};

// "ERROR: the EEPROM did not ..." reads as "the EEPROM did not ..." after "writing failed: ".
std::string WithoutErrorMark(const std::string &text) {
    constexpr std::string_view kMark = "ERROR: ";
    return text.rfind(kMark, 0) == 0 ? text.substr(kMark.size()) : text;
}

bool StopRequested(const JobControl &control) { return control.stopRequested && control.stopRequested(); }

} // namespace

JobReport RunJob(const std::function<int()> &start, uint64_t bytes, const JobControl &control) {
    if (StopRequested(control))
        return {JobOutcome::Interrupted}; // the stop came before the job began
    if (control.starting) {
        Status held = control.starting();
        if (!held.Ok())
            return {.outcome = JobOutcome::Refused, .held = std::move(held)};
    }
    JobEvents events(bytes, control.sink);
    JobOutcome outcome;
    {
        HandlerScope scope(events);
        if (start() == 0)
            return {JobOutcome::Refused};
        if (control.started)
            control.started();
        while (true) {
            if (StopRequested(control)) {
                zelStop();
                outcome = JobOutcome::Interrupted;
                break;
            }
            if (zelIsBusy() == 0) {
                outcome = zelGetResult() == 1 ? JobOutcome::Succeeded : JobOutcome::Failed;
                zelStop(); // with the job over this only joins the ended worker thread
                break;
            }
            events.WaitForActivity(kPollPeriod);
        }
    }
    return events.Report(outcome);
}

std::string DifferingBytes(int count) {
    return std::to_string(count) + (count == 1 ? " byte differs" : " bytes differ");
}

Status JobStatus(const JobReport &report, const std::string &what) {
    switch (report.outcome) {
    case JobOutcome::Succeeded:
        return {};
    case JobOutcome::Interrupted:
        return Status::Fail(kExitInterrupted,
                            "interrupted: stopped " + what + "; the EEPROM may be partly changed");
    case JobOutcome::Refused:
        if (!report.held.Ok())
            return report.held;
        return Status::Fail(kExitJobFailed, "the library refused to start " + what);
    case JobOutcome::Failed:
        break;
    }
    if (report.mismatches > 0)
        return Status::Fail(kExitJobFailed, what + " failed: " + DifferingBytes(report.mismatches));
    if (!report.failure.empty())
        return Status::Fail(kExitJobFailed, what + " failed: " + WithoutErrorMark(report.failure));
    return Status::Fail(kExitJobFailed, what + " failed (the EEPROM did not answer as expected)");
}

} // namespace zelprog
