// Using the ledger's next serial value in a command: reserved, written by
// the command's own job, recorded, and the unit's record kept.
#pragma once

#include "cli/commands.h"
#include "cli/reporter.h"
#include "core/session.h"

#include <functional>

namespace zelprog {

struct SerialUse {
    uint64_t number = 0;
    Bytes bytes;      // as written
    std::string text; // the decimal number, or the list's entry
};

// What a unit's record tells of the image besides its serial value.
struct UnitImage {
    std::string name{}; // the image file's name; empty: none
    std::string sha256{};
    // The ranges the unit's write covers with these serial bytes: "0x0000..0x00ff, ...".
    std::function<std::string(const Bytes &serial)> ranges;
};

// The site of a unit: the link as the command line named it.
std::string SiteName(const LinkOptions &link);

// Takes the ledger's next value and lets `write` put its bytes at the
// serial address through jobs that follow the control it is given; the
// ledger records what came of it, and the unit's record.
Status UseSerial(const Command &c, const Session &session, Reporter &reporter, const UnitImage &image,
                 const std::function<Status(const Bytes &, const JobControl &)> &write, SerialUse &use);
// The value on standard output (or in the result event), `text` as a note.
void PrintSerialResult(const Command &c, const char *command, const SerialUse &use, const std::string &text);

} // namespace zelprog
