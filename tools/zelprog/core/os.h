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

// Fills `bytes` from the system's cryptographic random source.
bool RandomBytes(unsigned char *bytes, std::size_t count);

// Opens `url` in the user's default browser (xdg-open; the Windows shell)
// without waiting for it. False when that could not be started.
bool OpenBrowser(const std::string &url);

} // namespace zelprog::os
