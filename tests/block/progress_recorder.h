// The block transfers' one upward call, recorded. This suite links its own
// ReportProgress in place of the job object's, so a test sees every value
// and can ask for a stop at a chosen report.
#pragma once

#include <cstddef>
#include <vector>

namespace blocktest {

struct ProgressRecorder {
    std::vector<int> seen;
    std::size_t stopAtReport = 0;   // 1-based report that answers "stop"; 0 = never
};

ProgressRecorder &Progress();

} // namespace blocktest
