// Several adapters at once: one supervisor and one worker process per site
// (the library holds one link per process). The supervisor draws every
// serial number from the ledger and settles it; a worker only writes the
// bytes it is handed.
//
// Between them, lines of text. The worker (zelprog --json gang-worker) prints
// the events of --json on its standard output, and {"event":"ready"} when it
// can take a unit, {"event":"written"} when a unit is in its EEPROM and
// verified. The supervisor answers a ready with one line on the worker's
// standard input: the unit's serial bytes in hexadecimal ("e8 03 00 00"), or
// "-" for a unit without a serial number. The end of its input tells the
// worker to end.
#pragma once

#include "cli/commands.h"

#include <string>
#include <vector>

namespace zelprog {

struct GangOptions {
    std::vector<std::string> sites; // one transport configuration a site, as --link takes it
    int units = 1;                  // units each site programs, one after another
};

Status RunGang(const Command &command, const GangOptions &gang);
// The command line of a gang on `image` (`binary`: a whole-EEPROM binary
// image) with the command's link and serial options: what the GUI starts.
std::vector<std::string> GangCommandLine(const Command &command, const std::vector<std::string> &sites,
                                         const std::string &image, bool binary);
Status RunGangWorker(const Command &command);

} // namespace zelprog
