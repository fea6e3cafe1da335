// Where the tool's words go: data to standard output, messages and progress
// to standard error, or everything as JSON lines on standard output.
#pragma once

#include <string>

namespace zelprog {

// Exit codes, also listed in --help and the README.
enum ExitCode : int {
    kExitOk = 0,
    kExitJobFailed = 1,   // verify mismatch, write failure, check failed
    kExitUsage = 2,       // bad arguments, or a geometry that must be given
    kExitNoLink = 3,      // the link could not be opened or no EEPROM answered
    kExitFile = 4,        // a file could not be read, parsed or written
    kExitInterrupted = 130,
};

struct Output {
    bool json = false;
    bool quiet = false;
    bool all = false;      // every mismatch message, not only the first ones
    bool terminal = false; // standard error is a terminal: draw a progress bar
};

// A command's outcome: an exit code and, for a failure, one line naming what
// to fix.
struct Status {
    int code = kExitOk;
    std::string message;

    bool Ok() const { return code == kExitOk; }
    static Status Fail(int code, std::string message) { return {code, std::move(message)}; }
};

void PrintError(const Output &output, const Status &status);
void PrintNote(const Output &output, const std::string &text);  // not with --quiet or --json

} // namespace zelprog
