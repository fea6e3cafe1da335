// The one way a command reaches the EEPROM: it checks what it can before
// the link opens, opens the session, runs its jobs with the reporter showing
// them, ends the reporter's output on every path, and prints its result only
// after that, when all went well. A new command is its steps.
#pragma once

#include "cli/commands.h"
#include "cli/reporter.h"
#include "core/session.h"

#include <functional>

namespace zelprog {

// What the steps of one command work with while the link is open.
struct DeviceContext {
    const Command &command;
    Session &session;
    Reporter &reporter;

    JobControl Control() { return reporter.Control(); }
};

struct DeviceSteps {
    SizeNeed size = SizeNeed::Required;
    // Before the link opens: what can fail without touching the EEPROM
    // (an image file read, an output file checked). Null: nothing.
    std::function<Status()> before = nullptr;
    // On the open link: the checks that need the device, and the jobs.
    std::function<Status(DeviceContext &)> run = nullptr;
    // After the jobs' progress and messages have ended, when all went well.
    std::function<void(DeviceContext &)> report = nullptr;
};

Status RunOnDevice(const Command &command, const DeviceSteps &steps);

} // namespace zelprog
