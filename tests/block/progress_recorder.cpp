#include "progress_recorder.h"

#include "jobs/progress.h"

namespace blocktest {

ProgressRecorder &Progress() {
    static ProgressRecorder recorder;
    return recorder;
}

} // namespace blocktest

namespace zel {

bool ReportProgress(int percent) {
    blocktest::ProgressRecorder &recorder = blocktest::Progress();
    recorder.seen.push_back(percent);
    return recorder.seen.size() != recorder.stopAtReport;
}

} // namespace zel
