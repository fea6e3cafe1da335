// The few things the tool needs from the operating system, each a small
// function; os.cpp is the one file with per-OS code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zelprog::os {

// Ctrl-C (SIGINT, or the console's Ctrl-C/Ctrl-Break event) only sets a flag
// that the main thread polls; the handler never calls into the library.
void InstallInterruptHandler();
bool Interrupted();

// SIGTERM as well sets the flag that Interrupted() reads (POSIX; Windows
// has no such signal to catch).
void InstallTerminateHandler();
// A write to a pipe whose reader has gone fails (EPIPE) instead of ending
// the process.
void IgnoreBrokenPipe();

bool StderrIsTerminal();
bool StdoutIsTerminal();

// Standard input and output carry image bytes unchanged.
void UseBinaryStdio();

// The per-user directory for the tool's state: $XDG_STATE_HOME/zelprog or
// ~/.local/state/zelprog on Linux, %LOCALAPPDATA%\zelprog on Windows; made
// when missing. False with a message in `error` when none can be had.
bool StateDirectory(std::filesystem::path &dir, std::string &error);

unsigned long ProcessId();

// This machine's name; "localhost" when it has none.
std::string HostName();

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

// A write past the file-size limit fails (EFBIG) instead of ending the
// process, so that the half-written file can still be removed.
void IgnoreFileSizeSignal();

// What a path names, symbolic links followed. Regular files (and paths that
// name nothing yet) are replaced whole; anything else that is not a
// directory (a device, a FIFO, a console) is written in place.
enum class FileKind { Missing, Regular, Directory, Special };
FileKind KindOf(const std::filesystem::path &path);

// Replaces the regular file at `path` (or makes it) with one holding `data`:
// a new file made exclusively beside it, with the old file's mode (and, where
// the system lets us, its owner), written, flushed to disk, moved over it and
// the directory flushed. Whenever the process or the machine stops, `path`
// holds the old contents or the new ones, whole; on a failure the new file is
// removed. A symbolic link keeps pointing at the file it named, which is the
// one replaced. An existing file this process may not write is refused.
bool ReplaceWholeFile(const std::filesystem::path &path, std::string_view data, std::string &error);
// Whether ReplaceWholeFile could replace `path`: a file is made beside it
// and removed again.
bool CanReplaceFile(const std::filesystem::path &path, std::string &error);
// Writes `data` into the existing device or FIFO at `path`, as it is.
bool WriteInPlace(const std::filesystem::path &path, std::string_view data, std::string &error);

// Whether another process holds the file open as the virtual target holds
// its backing file (locked on POSIX; shared for reading only on Windows).
bool HeldByAnother(const std::filesystem::path &path);

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

// The running program's own file, to start more of itself. False with a
// message in `error` where it cannot be had.
bool SelfPath(std::filesystem::path &path, std::string &error);

// Whether this build can start child processes with pipes (ChildProcess);
// false on Windows, where `gang` is refused.
bool CanStartChildren();

// A child process whose standard input and output are pipes to us; its
// standard error goes nowhere. On Linux it is killed when we end, however
// we end, so a killed supervisor leaves no worker writing on.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess(); // a child still running is killed and reaped
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool Start(const std::vector<std::string> &args, std::string &error);
    // All of `data` to its standard input; false once it no longer reads.
    bool Send(std::string_view data);
    void CloseInput();
    // What its standard output holds now, appended to `data` (up to a few
    // KiB, waiting for none when Readable() said so). False at its end.
    bool Receive(std::string &data);
    // Asks it to stop (SIGTERM), or ends it outright (SIGKILL).
    void Stop();
    void Kill();
    // Waits for its end: its exit code, or 128 + the signal that ended it.
    int Wait();
    unsigned long Id() const;
    intptr_t Output() const { return output_; }

private:
    intptr_t pid_ = -1, input_ = -1, output_ = -1;
};

// Waits up to `milliseconds` until one of `outputs` (ChildProcess::Output)
// has something to read or has ended; `ready` tells which. An interrupt
// ends the wait early.
void WaitForOutput(const std::vector<intptr_t> &outputs, int milliseconds, std::vector<bool> &ready);

} // namespace zelprog::os
