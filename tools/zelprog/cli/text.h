// What the commands tell the user, in words shared by several of them.
#pragma once

#include "cli/commands.h"
#include "cli/output.h"
#include "formats/image.h"

#include <string>

namespace zelprog {

ImageFormat FormatOf(const ImageOptions &image);
std::string FileName(const std::string &file);  // "'a.bin'", or "standard input" for "-"
std::string WritesText(const Session &session); // "pages of 64 bytes (the page of the 24c256)"
// With --json the result event; else `text` as a note.
void PrintResult(const Output &output, const char *command, const std::string &text);
std::string RunsText(const Runs &runs);    // " at 0x10..0x1f", " in 3 runs"
std::string RangesText(const Runs &runs);  // "0x10..0x1f, 0x40..0x47"
std::string BytesText(const Bytes &bytes); // "de ad be ef"

} // namespace zelprog
