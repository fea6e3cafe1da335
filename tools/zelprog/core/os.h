// The few things the tool needs from the operating system, each a small
// function; os.cpp is the one file with per-OS code.
#pragma once

#include <filesystem>
#include <string>

namespace zelprog::os {

// Ctrl-C (SIGINT, or the console's Ctrl-C/Ctrl-Break event) only sets a flag
// that the main thread polls; the handler never calls into the library.
void InstallInterruptHandler();
bool Interrupted();

bool StderrIsTerminal();

// Standard input and output carry image bytes unchanged.
void UseBinaryStdio();

// The per-user directory for the tool's state: $XDG_STATE_HOME/zelprog or
// ~/.local/state/zelprog on Linux, %LOCALAPPDATA%\zelprog on Windows; made
// when missing. False with a message in `error` when none can be had.
bool StateDirectory(std::filesystem::path &dir, std::string &error);

unsigned long ProcessId();

} // namespace zelprog::os
