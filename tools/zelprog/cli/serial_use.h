// Using the counter's next serial number in a command: reserved, written
// by the command's own job, recorded.
#pragma once

#include "cli/commands.h"
#include "cli/reporter.h"
#include "core/session.h"

#include <functional>

namespace zelprog {

struct SerialUse {
    uint64_t number = 0;
    Bytes bytes; // as written
};

// Takes the counter's next number and lets `write` put its bytes at the
// serial address through jobs that follow the control it is given; the
// counter records what came of it.
Status UseSerial(const Command &c, const Session &session, Reporter &reporter,
                 const std::function<Status(const Bytes &, const JobControl &)> &write, SerialUse &use);
// The number on standard output (or in the result event), `text` as a note.
void PrintSerialResult(const Command &c, const char *command, const SerialUse &use, const std::string &text);

} // namespace zelprog
