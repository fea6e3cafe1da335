#include "job.h"

#include "os.h"

#include <zelapi.h>

namespace zelprog {
namespace {

constexpr std::chrono::milliseconds kPollPeriod{50};

// The handler is installed only while the job runs, so that no callback can
// reach a reporter that is gone.
class HandlerScope {
public:
    explicit HandlerScope(Reporter &reporter) { SetZelHandler(&reporter); }
    ~HandlerScope() { SetZelHandler(nullptr); }
    HandlerScope(const HandlerScope &) = delete;
    HandlerScope &operator=(const HandlerScope &) = delete;
};

} // namespace

JobOutcome RunJob(const std::function<int()> &start, Reporter &reporter)
{
    if (os::Interrupted())
        return JobOutcome::Interrupted; // Ctrl-C came before the job began
    JobOutcome outcome;
    {
        HandlerScope scope(reporter);
        if (start() == 0)
            return JobOutcome::Refused;
        while (true) {
            if (os::Interrupted()) {
                zelStop();
                outcome = JobOutcome::Interrupted;
                break;
            }
            if (zelIsBusy() == 0) {
                outcome = zelGetResult() == 1 ? JobOutcome::Succeeded : JobOutcome::Failed;
                zelStop(); // with the job over this only joins the ended worker thread
                break;
            }
            reporter.WaitForActivity(kPollPeriod);
        }
    }
    reporter.Finish();
    return outcome;
}

} // namespace zelprog
