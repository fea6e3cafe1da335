// A command's or a job's outcome: an exit code and, for a failure, one line
// naming what to fix.
#pragma once

#include <string>

namespace zelprog {

// Exit codes, also listed in --help, the manual page and the README.
enum ExitCode : int {
    kExitOk = 0,
    kExitJobFailed = 1, // verify mismatch, write failure, check failed
    kExitUsage = 2,     // bad arguments, or a geometry that must be given
    kExitNoLink = 3,    // the link could not be opened or no EEPROM answered
    kExitFile = 4,      // a file could not be read, parsed or written
    kExitInterrupted = 130,
};

struct Status {
    int code = kExitOk;
    std::string message;

    bool Ok() const { return code == kExitOk; }
    static Status Fail(int code, std::string message) { return {code, std::move(message)}; }
};

} // namespace zelprog
