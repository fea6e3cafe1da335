#include "cli/device_command.h"

namespace zelprog {

Status RunOnDevice(const Command &command, const DeviceSteps &steps) {
    Status status = steps.before ? steps.before() : Status{};
    if (!status.Ok())
        return status;
    Reporter reporter(command.output);
    Session session(command.link, reporter.Control());
    DeviceContext context{command, session, reporter};
    status = session.Open(steps.size);
    if (status.Ok() && steps.run)
        status = steps.run(context);
    reporter.Finish();
    if (status.Ok() && steps.report)
        steps.report(context);
    return status;
}

} // namespace zelprog
