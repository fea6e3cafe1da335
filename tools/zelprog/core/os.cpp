#include "core/os.h"

#include <atomic>
#include <cstdio>
#include <cstdint>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>
#else
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
extern char **environ;
#endif

namespace zelprog::os {
namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the interrupt flag is set from a signal handler");

const char *NonEmptyEnv(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

bool MakeDirectory(const std::filesystem::path &dir, std::string &error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!ec)
        return true;
    error = "cannot create the state directory " + dir.string() + ": " + ec.message();
    return false;
}

// Whether a symbolic link at `path` is followed: on POSIX only a link of
// this user's (or root's), so that a link that someone else left in a shared
// folder such as /tmp never points a write at a file of ours.
bool MayFollow(const std::filesystem::path &path) {
#ifdef _WIN32
    (void)path;
    return true;
#else
    struct stat link {};
    return lstat(path.c_str(), &link) == 0 && (link.st_uid == geteuid() || link.st_uid == 0);
#endif
}

// The file a symbolic link names, so that replacing it keeps the link;
// else the path itself (a link not followed is replaced as it is).
std::filesystem::path Resolved(const std::filesystem::path &path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec) || !MayFollow(path))
        return path;
    const std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : target;
}

// A name beside `path` for the file that will replace it: "NAME.tmp-" and
// eight random hexadecimal digits, so that no two writers meet.
bool NameBeside(const std::filesystem::path &path, std::filesystem::path &next) {
    unsigned char random[4];
    if (!RandomBytes(random, sizeof random))
        return false;
    char tag[16];
    std::snprintf(tag, sizeof tag, ".tmp-%02x%02x%02x%02x", random[0], random[1], random[2], random[3]);
    next = path;
    next += tag;
    return true;
}

constexpr int kNameAttempts = 16; // new names tried while each is taken already

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    g_interrupted.store(true);
    return TRUE;
}

#else
extern "C" void OnInterruptSignal(int) { g_interrupted.store(true); }
#endif

} // namespace

#ifdef _WIN32

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
bool StdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

void InstallTerminateHandler() {}
void IgnoreBrokenPipe() {}

bool SelfPath(std::filesystem::path &, std::string &error) {
    error = "starting more of zelprog is not built for Windows";
    return false;
}

bool CanStartChildren() { return false; }

ChildProcess::~ChildProcess() = default;
bool ChildProcess::Start(const std::vector<std::string> &, std::string &error) {
    error = "worker processes are not built for Windows";
    return false;
}
bool ChildProcess::Send(std::string_view) { return false; }
void ChildProcess::CloseInput() {}
bool ChildProcess::Receive(std::string &) { return false; }
void ChildProcess::Stop() {}
void ChildProcess::Kill() {}
int ChildProcess::Wait() { return -1; }
unsigned long ChildProcess::Id() const { return 0; }
void WaitForOutput(const std::vector<intptr_t> &outputs, int, std::vector<bool> &ready) {
    ready.assign(outputs.size(), true);
}

void UseBinaryStdio() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

bool StateDirectory(std::filesystem::path &dir, std::string &error) {
    const char *base = NonEmptyEnv("LOCALAPPDATA");
    if (base == nullptr) {
        error = "%LOCALAPPDATA% is not set: pass --link to name the link instead";
        return false;
    }
    dir = std::filesystem::path(base) / "zelprog";
    return MakeDirectory(dir, error);
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string("localhost");
}

bool RandomBytes(unsigned char *bytes, std::size_t count) {
    return BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

bool RuntimeDirectory(std::filesystem::path &dir, std::string &error) { return StateDirectory(dir, error); }

bool OpenBrowser(const std::filesystem::path &file) {
    const auto result = reinterpret_cast<intptr_t>(
        ShellExecuteW(nullptr, L"open", file.wstring().c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32; // ShellExecute's own convention: above 32 is success
}

namespace {

std::string LastError(const std::string &what, const std::filesystem::path &path) {
    return "cannot " + what + " '" + path.string() + "' (Windows error " + std::to_string(GetLastError()) + ")";
}

// Writes all of `data` to the open file and flushes it to disk.
bool WriteAndFlush(HANDLE file, std::string_view data) {
    DWORD written = 0;
    return WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
           written == data.size() && FlushFileBuffers(file);
}

} // namespace

void IgnoreFileSizeSignal() {}

FileKind KindOf(const std::filesystem::path &path) {
    HANDLE file = CreateFileW(path.wstring().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FileKind::Missing;
    BY_HANDLE_FILE_INFORMATION info{};
    FileKind kind = FileKind::Special; // a console, NUL, a pipe, a serial port
    if (GetFileType(file) == FILE_TYPE_DISK)
        kind = GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                   ? FileKind::Directory
                   : FileKind::Regular;
    CloseHandle(file);
    return kind;
}

namespace {

bool ReadOnly(const std::filesystem::path &path) {
    const DWORD attributes = GetFileAttributesW(path.wstring().c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

HANDLE CreateBeside(const std::filesystem::path &path, std::filesystem::path &next) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!NameBeside(path, next))
            return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileW(next.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

// The new file beside the one `given` names, which resolves to `path`; on
// failure INVALID_HANDLE_VALUE and `error`.
HANDLE OpenReplacement(const std::filesystem::path &given, std::filesystem::path &path,
                       std::filesystem::path &next, std::string &error) {
    path = Resolved(given);
    if (ReadOnly(path)) {
        error = "cannot open '" + given.string() + "' for writing: the file is read-only";
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateBeside(path, next);
    if (file == INVALID_HANDLE_VALUE)
        error = LastError("open for writing", given);
    return file;
}

} // namespace

bool ReplaceWholeFile(const std::filesystem::path &given, std::string_view data, std::string &error) {
    std::filesystem::path path;
    std::filesystem::path next;
    HANDLE file = OpenReplacement(given, path, next, error);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool written = WriteAndFlush(file, data);
    const DWORD failure = GetLastError();
    CloseHandle(file);
    if (!written) {
        DeleteFileW(next.wstring().c_str());
        SetLastError(failure);
        error = LastError("write", given);
        return false;
    }
    if (!MoveFileExW(next.wstring().c_str(), path.wstring().c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD refused = GetLastError();
        DeleteFileW(next.wstring().c_str());
        SetLastError(refused);
        error = LastError("replace", given);
        return false;
    }
    return true;
}

bool CanReplaceFile(const std::filesystem::path &given, std::string &error) {
    std::filesystem::path path;
    std::filesystem::path next;
    HANDLE file = OpenReplacement(given, path, next, error);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    DeleteFileW(next.wstring().c_str());
    return true;
}

bool WriteInPlace(const std::filesystem::path &path, std::string_view data, std::string &error) {
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastError("open", path);
        return false;
    }
    DWORD written = 0;
    const bool ok =
        WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size();
    CloseHandle(file);
    if (!ok)
        error = LastError("write", path);
    return ok;
}

bool HeldByAnother(const std::filesystem::path &path) {
    HANDLE file =
        CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

bool AppendToFile(const std::filesystem::path &path, const std::string &data, std::string &error) {
    HANDLE file = CreateFileW(path.wstring().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastError("open", path);
        return false;
    }
    const bool written = WriteAndFlush(file, data);
    CloseHandle(file);
    if (!written)
        error = LastError("append to", path);
    return written;
}

bool WritePrivateFile(const std::filesystem::path &path, const std::string &data, std::string &error) {
    DeleteFileW(path.wstring().c_str());
    HANDLE file =
        CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastError("create", path);
        return false;
    }
    const bool written = WriteAndFlush(file, data);
    CloseHandle(file);
    if (!written)
        error = LastError("write", path);
    return written;
}

FileLock::~FileLock() {
    if (handle_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle_)); // closing the handle lets the lock go
}

bool FileLock::TryLock(const std::filesystem::path &path, bool &busy, std::string &error) {
    busy = false;
    HANDLE file =
        CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastError("open the lock file", path);
        return false;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
        busy = GetLastError() == ERROR_LOCK_VIOLATION;
        if (!busy)
            error = LastError("lock", path);
        CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    return true;
}

#else

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterruptSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }
bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

void InstallTerminateHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterruptSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
}

void IgnoreBrokenPipe() { signal(SIGPIPE, SIG_IGN); }

bool SelfPath(std::filesystem::path &path, std::string &error) {
    std::error_code ec;
    path = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        error = "cannot find zelprog's own file: " + ec.message();
    return !ec;
}

bool CanStartChildren() { return true; }

void UseBinaryStdio() {}

bool StateDirectory(std::filesystem::path &dir, std::string &error) {
    const char *state = NonEmptyEnv("XDG_STATE_HOME");
    const char *home = NonEmptyEnv("HOME");
    if (state != nullptr && state[0] == '/')
        dir = std::filesystem::path(state) / "zelprog";
    else if (home != nullptr)
        dir = std::filesystem::path(home) / ".local" / "state" / "zelprog";
    else {
        error = "neither XDG_STATE_HOME nor HOME is set: set one, or pass --link to name the link";
        return false;
    }
    return MakeDirectory(dir, error);
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

std::string HostName() {
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 && name[0] != '\0' ? std::string(name)
                                                                      : std::string("localhost");
}

bool RandomBytes(unsigned char *bytes, std::size_t count) {
    while (count > 0) {
        const std::size_t chunk = count < 256 ? count : 256; // getentropy's limit per call
        if (getentropy(bytes, chunk) != 0)
            return false;
        bytes += chunk;
        count -= chunk;
    }
    return true;
}

bool RuntimeDirectory(std::filesystem::path &dir, std::string &error) {
    const char *runtime = NonEmptyEnv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/')
        return StateDirectory(dir, error);
    dir = std::filesystem::path(runtime) / "zelprog";
    if (!MakeDirectory(dir, error))
        return false;
    std::error_code ec;
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
    return true;
}

bool OpenBrowser(const std::filesystem::path &file) {
    // xdg-open runs as a child; a thread of its own reaps it, so no zombie
    // is left while the server runs.
    const char *argv[] = {"xdg-open", file.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, const_cast<char **>(argv), environ) != 0)
        return false;
    std::thread([child] { waitpid(child, nullptr, 0); }).detach();
    return true;
}

namespace {

std::string Errno(const std::string &what, const std::filesystem::path &path) {
    return "cannot " + what + " '" + path.string() + "': " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes `data` to the open file, flushes it to disk and closes it.
bool WriteSyncClose(int fd, std::string_view data) {
    const bool written = WriteAll(fd, data) && fsync(fd) == 0;
    return close(fd) == 0 && written;
}

bool SyncDirectory(const std::filesystem::path &dir) {
    const int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

} // namespace

void IgnoreFileSizeSignal() { signal(SIGXFSZ, SIG_IGN); }

FileKind KindOf(const std::filesystem::path &path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return FileKind::Missing;
    if (S_ISREG(info.st_mode))
        return FileKind::Regular;
    return S_ISDIR(info.st_mode) ? FileKind::Directory : FileKind::Special;
}

namespace {

// An existing file that this process may not write is not replaced either.
bool MayWrite(const std::filesystem::path &path, const std::filesystem::path &given, std::string &error) {
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT)
        return true;
    error = Errno("open for writing", given);
    return false;
}

int CreateBeside(const std::filesystem::path &path, std::filesystem::path &next) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (!NameBeside(path, next))
            return -1;
        const int fd = open(next.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The new file beside the one `given` names, which resolves to `path`; on
// failure -1 and `error`.
int OpenReplacement(const std::filesystem::path &given, std::filesystem::path &path, std::filesystem::path &next,
                    std::string &error) {
    path = Resolved(given);
    if (!MayWrite(path, given, error))
        return -1;
    const int fd = CreateBeside(path, next);
    if (fd < 0)
        error = Errno("open for writing", given);
    return fd;
}

// The replaced file's owner (where the system allows it: for root, or a
// group of the user's) and mode go to the new file; the owner first, since a
// change of owner clears the set-id bits. Only the mode must take.
bool TakeOverAttributes(int fd, const std::filesystem::path &path) {
    struct stat old {
    }, made{};
    if (stat(path.c_str(), &old) != 0)
        return errno == ENOENT; // a new file keeps the mode that the umask gave it
    if (fstat(fd, &made) != 0)
        return false;
    if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) && fchown(fd, old.st_uid, old.st_gid) != 0)
        errno = 0; // not allowed: the new file belongs to this user
    return fchmod(fd, old.st_mode & 07777) == 0;
}

// Removes the new file after a failure and keeps the failure's errno.
void Discard(const std::filesystem::path &next) {
    const int failure = errno;
    unlink(next.c_str());
    errno = failure;
}

} // namespace

bool ReplaceWholeFile(const std::filesystem::path &given, std::string_view data, std::string &error) {
    std::filesystem::path path;
    std::filesystem::path next;
    const int fd = OpenReplacement(given, path, next, error);
    if (fd < 0)
        return false;
    if (!TakeOverAttributes(fd, path)) {
        Discard(next);
        close(fd);
        error = Errno("give the new file the mode of", given);
        return false;
    }
    if (!WriteSyncClose(fd, data)) {
        Discard(next);
        error = Errno("write", given);
        return false;
    }
    if (rename(next.c_str(), path.c_str()) != 0) {
        Discard(next);
        error = Errno("replace", given);
        return false;
    }
    if (!SyncDirectory(path.parent_path())) {
        error = Errno("flush the directory of", given);
        return false;
    }
    return true;
}

bool CanReplaceFile(const std::filesystem::path &given, std::string &error) {
    std::filesystem::path path;
    std::filesystem::path next;
    const int fd = OpenReplacement(given, path, next, error);
    if (fd < 0)
        return false;
    close(fd);
    unlink(next.c_str());
    return true;
}

bool WriteInPlace(const std::filesystem::path &path, std::string_view data, std::string &error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        error = Errno("open", path);
        return false;
    }
    const bool written = WriteAll(fd, data);
    if (close(fd) != 0 || !written) {
        error = Errno("write", path);
        return false;
    }
    return true;
}

bool HeldByAnother(const std::filesystem::path &path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd); // lets go of the shared lock, if it was had
    return held;
}

bool AppendToFile(const std::filesystem::path &path, const std::string &data, std::string &error) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) {
        error = Errno("open", path);
        return false;
    }
    if (!WriteSyncClose(fd, data)) {
        error = Errno("append to", path);
        return false;
    }
    return true;
}

bool WritePrivateFile(const std::filesystem::path &path, const std::string &data, std::string &error) {
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = Errno("remove", path);
        return false;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = Errno("create", path);
        return false;
    }
    if (!WriteSyncClose(fd, data)) {
        error = Errno("write", path);
        return false;
    }
    return true;
}

FileLock::~FileLock() {
    if (handle_ != -1)
        close(static_cast<int>(handle_)); // closing the descriptor lets the lock go
}

bool FileLock::TryLock(const std::filesystem::path &path, bool &busy, std::string &error) {
    busy = false;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = Errno("open the lock file", path);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        busy = errno == EWOULDBLOCK;
        if (!busy)
            error = Errno("lock", path);
        close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

namespace {

// In the child between fork and exec: only calls that are safe there.
[[noreturn]] void BecomeChild(int input, int output, char *const *argv, pid_t parent) {
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    if (getppid() != parent) // the parent ended before the line above
        _exit(127);
    const int nowhere = open("/dev/null", O_WRONLY);
    if (dup2(input, STDIN_FILENO) < 0 || dup2(output, STDOUT_FILENO) < 0 || dup2(nowhere, STDERR_FILENO) < 0)
        _exit(127);
    signal(SIGPIPE, SIG_DFL); // ignored here, and exec keeps what is ignored
    execv(argv[0], argv);
    _exit(127);
}

void CloseHandle(intptr_t &fd) {
    if (fd >= 0)
        close(static_cast<int>(fd));
    fd = -1;
}

} // namespace

ChildProcess::~ChildProcess() {
    CloseHandle(input_);
    CloseHandle(output_);
    if (pid_ > 0) {
        Kill();
        Wait();
    }
}

bool ChildProcess::Start(const std::vector<std::string> &args, std::string &error) {
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        close(in[0]);
        close(in[1]);
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        BecomeChild(in[0], out[1], argv.data(), parent);
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        error = std::string("cannot start a process: ") + std::strerror(errno);
        close(in[1]);
        close(out[0]);
        return false;
    }
    pid_ = pid;
    input_ = in[1];
    output_ = out[0];
    return true;
}

bool ChildProcess::Send(std::string_view data) { return input_ >= 0 && WriteAll(static_cast<int>(input_), data); }

void ChildProcess::CloseInput() { CloseHandle(input_); }

bool ChildProcess::Receive(std::string &data) {
    char chunk[4096];
    ssize_t n;
    do
        n = read(static_cast<int>(output_), chunk, sizeof chunk);
    while (n < 0 && errno == EINTR);
    if (n <= 0)
        return false;
    data.append(chunk, static_cast<std::size_t>(n));
    return true;
}

void ChildProcess::Stop() {
    if (pid_ > 0)
        kill(static_cast<pid_t>(pid_), SIGTERM);
}

void ChildProcess::Kill() {
    if (pid_ > 0)
        kill(static_cast<pid_t>(pid_), SIGKILL);
}

int ChildProcess::Wait() {
    int status = 0;
    pid_t ended;
    do
        ended = waitpid(static_cast<pid_t>(pid_), &status, 0);
    while (ended < 0 && errno == EINTR);
    pid_ = -1;
    if (ended < 0)
        return -1;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

unsigned long ChildProcess::Id() const { return pid_ > 0 ? static_cast<unsigned long>(pid_) : 0; }

void WaitForOutput(const std::vector<intptr_t> &outputs, int milliseconds, std::vector<bool> &ready) {
    std::vector<pollfd> fds;
    for (const intptr_t fd : outputs)
        fds.push_back({static_cast<int>(fd), POLLIN, 0});
    ready.assign(outputs.size(), false);
    if (poll(fds.data(), fds.size(), milliseconds) <= 0)
        return;
    for (std::size_t i = 0; i < fds.size(); ++i)
        ready[i] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

#endif

bool Interrupted() { return g_interrupted.load(); }

} // namespace zelprog::os
