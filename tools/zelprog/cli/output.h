// Where the tool's words go: data to standard output, messages and progress
// to standard error, or everything as JSON lines (the events of
// core/events.h) on standard output.
#pragma once

#include "core/events.h"
#include "core/status.h"

#include <string>

namespace zelprog {

struct Output {
    bool json = false;
    bool quiet = false;
    bool all = false;      // every mismatch message, not only the first ones
    bool terminal = false; // standard error is a terminal: draw a progress bar
};

void PrintEvent(const Event &event); // one line on standard output, flushed
void PrintError(const Output &output, const Status &status);
void PrintNote(const Output &output, const std::string &text); // not with --quiet or --json

} // namespace zelprog
