// Runs one library job in the background and follows it: the main thread
// polls zelIsBusy and, after Ctrl-C, calls zelStop.
#pragma once

#include "reporter.h"

#include <functional>

namespace zelprog {

enum class JobOutcome { Succeeded, Failed, Refused, Interrupted };

// `start` calls one job export with blocking = 0 and returns what it returned.
JobOutcome RunJob(const std::function<int()> &start, Reporter &reporter);

// The library takes paths of at most this many characters.
inline constexpr std::size_t kMaxLibraryPath = 247;

} // namespace zelprog
