// Apart from the job object's own file, so that a test of the block
// transfers can stand in for it.
#include "jobs/progress.h"

#include "jobs/worker.h"

namespace zel {

bool ReportProgress(int percent) {
    ZelWorker *worker = ZelWorker::Instance();
    return worker != nullptr && worker->SetProgress(percent);
}

} // namespace zel
