// One site of a gang: programs the image, with the serial bytes the
// supervisor hands it, into each unit it is asked for.
#include "cli/arguments.h"
#include "cli/device_command.h"
#include "cli/gang.h"
#include "cli/output.h"
#include "cli/plan.h"
#include "core/memory_jobs.h"

#include <iostream>
#include <sstream>

namespace zelprog {
namespace {

void Tell(const char *what, const std::string &ranges = "") {
    Event event;
    event["event"] = what;
    if (!ranges.empty())
        event["ranges"] = ranges;
    PrintEvent(event);
}

// "-": no serial number; else its bytes, one hexadecimal word each.
bool ParseUnitLine(const std::string &line, const Command &c, Bytes &serial) {
    serial.clear();
    if (line == "-")
        return !c.serial.at;
    std::istringstream words(line);
    std::vector<std::string> list;
    for (std::string word; words >> word;)
        list.push_back(word);
    const std::optional<Bytes> bytes = ParseHexBytes(list);
    if (!bytes || bytes->empty() || !c.serial.at)
        return false;
    serial = *bytes;
    return true;
}

Status ProgramUnits(const Command &c, DeviceContext &d, const ImagePlan &plan) {
    for (std::string line; !os::Interrupted();) {
        Tell("ready");
        if (!std::getline(std::cin, line))
            break;
        Bytes serial;
        if (!ParseUnitLine(line, c, serial))
            return Status::Fail(kExitUsage,
                                "the supervisor sent a unit line that is not this gang's: '" + line + "'");
        Status status = c.serial.at ? CheckRange(d.session, *c.serial.at, serial.size()) : Status{};
        const ImagePlan unit =
            c.serial.at ? WithSerialBytes(plan, static_cast<uint32_t>(*c.serial.at), serial) : plan;
        if (status.Ok())
            status = WritePlan(d.session, unit, c.verify, d.Control());
        if (!status.Ok())
            return status;
        Tell("written", PlanRanges(unit));
    }
    return os::Interrupted() ? Status::Fail(kExitInterrupted, "interrupted") : Status{};
}

} // namespace

Status RunGangWorker(const Command &c) {
    os::InstallTerminateHandler();
    std::string raw;
    ImagePlan plan;
    return RunOnDevice(c, {.before = [&] { return ReadImageFile(c, raw); },
                           .run =
                               [&](DeviceContext &d) {
                                   const Status status = PlanImage(c, d.session, raw, plan);
                                   return status.Ok() ? ProgramUnits(c, d, plan) : status;
                               }});
}

} // namespace zelprog
