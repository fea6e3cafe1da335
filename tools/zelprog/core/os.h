// The few things the tool needs from the operating system, each a small
// function; os.cpp is the one file with per-OS code.
#pragma once

#include <cstdint>
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

// The per-user folder for files that last one run: $XDG_RUNTIME_DIR/zelprog
// where the system gives one, else the state directory; made when missing.
bool RuntimeDirectory(std::filesystem::path &dir, std::string &error);

// A new file at `path` holding `data` that only this user may read: mode
// 0600 on POSIX, made afresh (whatever stood there is removed first, a link
// is never followed); on Windows the user's own folder keeps it theirs.
bool WritePrivateFile(const std::filesystem::path &path, const std::string &data, std::string &error);

// Opens `file` (a page on this disk) in the user's default browser
// (xdg-open; the Windows shell) without waiting for it. False when that
// could not be started.
bool OpenBrowser(const std::filesystem::path &file);

// Replaces the file at `path` with one holding `data`: written beside it,
// flushed to disk, renamed over it and (on POSIX) the directory flushed, so
// that whenever the process or the machine stops, `path` holds the old
// contents or the new ones, whole.
bool ReplaceWholeFile(const std::filesystem::path &path, const std::string &data, std::string &error);

// Appends `data` to the file at `path` (made when missing) and flushes it to disk.
bool AppendToFile(const std::filesystem::path &path, const std::string &data, std::string &error);

// An exclusive lock on a lock file, between processes. The system lets it go
// when the process ends, however it ends.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Takes the lock if no one holds it: true; `busy` when another holds it.
    bool TryLock(const std::filesystem::path &path, bool &busy, std::string &error);

private:
    intptr_t handle_ = -1;
};

} // namespace zelprog::os
