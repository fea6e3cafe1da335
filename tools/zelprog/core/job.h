// The job runner: starts one library job in the background and follows it.
// The calling thread polls zelIsBusy and calls zelStop when a stop is asked
// for; the job's callbacks become events (state, progress with rate and time
// left, message) for the caller's sink.
#pragma once

#include "core/events.h"
#include "core/status.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zelprog {

enum class JobOutcome { Succeeded, Failed, Refused, Interrupted };

struct JobControl {
    EventSink sink;                      // null: the events are dropped
    std::function<bool()> stopRequested; // polled while the job runs; null: never
    // Called when the library has taken a job: from then on the job may have
    // reached the bus. Null: not told.
    std::function<void()> started = nullptr;
    // Called before the library is given a job, once it is certain to be
    // given one: from its return on, the job may reach the bus. A failure
    // keeps the job from starting (and is the job's failure). Null: not asked.
    std::function<Status()> starting = nullptr;
};

struct JobReport {
    JobOutcome outcome = JobOutcome::Refused;
    int mismatches = 0;    // bytes that the job's verify found different
    std::string failure{}; // the last message of the job that told no mismatch
    Status held{};         // why `starting` kept the job from starting
};

// `start` calls one job export with blocking = 0 and returns what it
// returned. `bytes` is what one pass of the job moves (0: no rate is told).
// The library's mismatch messages reach the sink as one event a byte
// (MismatchEvents), its other messages as they are. No callback of the job
// reaches the sink after this returns.
JobReport RunJob(const std::function<int()> &start, uint64_t bytes, const JobControl &control);

// The outcome as a command's status: "`what` failed: N bytes differ", or
// the library's own message of the failure, or interrupted, or refused.
Status JobStatus(const JobReport &report, const std::string &what);
// A verify's count of differing bytes: "1 byte differs", "3 bytes differ".
std::string DifferingBytes(int count);

// The library takes paths of at most this many characters.
inline constexpr std::size_t kMaxLibraryPath = 247;

} // namespace zelprog
