#include "progress_recorder.h"

namespace blocktest {

ProgressRecorder &Progress() {
    static ProgressRecorder recorder;
    return recorder;
}

zel::ProgressSink Recorded() {
    return {[](void *recorder, int percent) {
                auto &r = *static_cast<ProgressRecorder *>(recorder);
                r.seen.push_back(percent);
                return r.seen.size() != r.stopAtReport;
            },
            &Progress()};
}

} // namespace blocktest
