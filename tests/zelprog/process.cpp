#include "process.h"

#include "support/test_data.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

namespace zelprog::test {
namespace {

std::filesystem::path ScratchFile(const char *tag) {
    static std::atomic<int> serial{0}; // the tests run processes from several threads
    return std::filesystem::temp_directory_path() / ("zelprog-process-" +
                                                     std::to_string(
#ifdef _WIN32
                                                         GetCurrentProcessId()
#else
                                                         getpid()
#endif
                                                             ) +
                                                     "-" + std::to_string(serial++) + "-" + tag);
}

void Spill(const std::filesystem::path &path, const std::string &data) {
    std::ofstream(path, std::ios::binary) << data;
}

// Removes the scratch files of one run.
struct Scratch {
    std::filesystem::path in = ScratchFile("in"), out = ScratchFile("out"), err = ScratchFile("err");
    ~Scratch() {
        std::error_code ec;
        for (const auto &p : {in, out, err})
            std::filesystem::remove(p, ec);
    }
};

} // namespace

#ifdef _WIN32

namespace {

// Wine maps the Unix root to drive Z:.
std::string NativePath(const std::string &path) {
    if (path.empty() || path[0] != '/')
        return path;
    std::string p = "Z:" + path;
    for (char &c : p)
        if (c == '/')
            c = '\\';
    return p;
}

std::string Quote(const std::string &arg) {
    std::string q = "\"";
    for (char c : arg) {
        if (c == '"')
            q += '\\';
        q += c;
    }
    return q + "\"";
}

HANDLE Inheritable(const std::filesystem::path &path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(path.wstring().c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, write ? CREATE_ALWAYS : OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string> &args, const std::string &input) {
    Scratch scratch;
    Spill(scratch.in, input);
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i)
        line += (i ? " " : "") + Quote(i == 0 ? NativePath(args[i]) : args[i]);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = Inheritable(scratch.in, false);
    si.hStdOutput = Inheritable(scratch.out, true);
    si.hStdError = Inheritable(scratch.err, true);
    PROCESS_INFORMATION pi{};
    ProcessResult result;
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        result.exitCode = static_cast<int>(code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError})
        CloseHandle(h);
    result.out = zeltest::ReadFile(scratch.out);
    result.err = zeltest::ReadFile(scratch.err);
    return result;
}

bool CanInterrupt() { return false; }

ProcessResult RunAndInterrupt(const std::vector<std::string> &, const std::string &) { return {}; }

ProcessResult RunAndAct(const std::vector<std::string> &, const std::string &, const std::function<void()> &) {
    return {};
}

ProcessResult RunAndKill(const std::vector<std::string> &, std::chrono::microseconds) { return {}; }

ProcessResult RunWithFileSizeLimit(const std::vector<std::string> &, unsigned long) { return {}; }

void SetEnv(const std::string &name, const std::string &value) { _putenv_s(name.c_str(), value.c_str()); }

void UnsetEnv(const std::string &name) { _putenv_s(name.c_str(), ""); }

#else

namespace {

int ExitCodeOf(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

std::vector<char *> Argv(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

pid_t Spawn(const std::vector<std::string> &args, const Scratch &scratch, int errFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, scratch.in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, scratch.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, scratch.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    std::vector<char *> argv = Argv(args);
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return ExitCodeOf(status);
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string> &args, const std::string &input) {
    Scratch scratch;
    Spill(scratch.in, input);
    ProcessResult result;
    const pid_t pid = Spawn(args, scratch, -1);
    if (pid < 0)
        return result;
    result.exitCode = Wait(pid);
    result.out = zeltest::ReadFile(scratch.out);
    result.err = zeltest::ReadFile(scratch.err);
    return result;
}

bool CanInterrupt() { return true; }

namespace {

// Reads the pipe until its writer closes it, appending to `into` and
// calling `onRead` after each read; closes the pipe.
void Drain(int fd, std::string &into, const std::function<void()> &onRead) {
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        into.append(buffer, static_cast<std::size_t>(n));
        onRead();
    }
    close(fd);
}

// Runs the program, its standard error through a pipe, and calls `action`
// with its pid once a line of it contains `trigger`.
ProcessResult RunWatching(const std::vector<std::string> &args, const std::string &trigger,
                          const std::function<void(pid_t)> &action) {
    Scratch scratch;
    Spill(scratch.in, "");
    int pipeFds[2];
    ProcessResult result;
    if (pipe(pipeFds) != 0)
        return result;
    const pid_t pid = Spawn(args, scratch, pipeFds[1]);
    close(pipeFds[1]);
    bool acted = false;
    Drain(pipeFds[0], result.err, [&] {
        if (!acted && pid > 0 && result.err.find(trigger) != std::string::npos) {
            action(pid);
            acted = true;
        }
    });
    if (pid < 0)
        return result;
    result.exitCode = Wait(pid);
    result.out = zeltest::ReadFile(scratch.out);
    return result;
}

} // namespace

ProcessResult RunAndInterrupt(const std::vector<std::string> &args, const std::string &trigger) {
    return RunWatching(args, trigger, [](pid_t pid) { kill(pid, SIGINT); });
}

ProcessResult RunAndAct(const std::vector<std::string> &args, const std::string &trigger,
                        const std::function<void()> &action) {
    return RunWatching(args, trigger, [&](pid_t pid) {
        kill(pid, SIGSTOP);
        action();
        kill(pid, SIGCONT);
    });
}

ProcessResult RunAndKill(const std::vector<std::string> &args, std::chrono::microseconds after) {
    Scratch scratch;
    Spill(scratch.in, "");
    ProcessResult result;
    const pid_t pid = Spawn(args, scratch, -1);
    if (pid < 0)
        return result;
    // not a wait for something to happen: the moment of the kill is the random input
    std::this_thread::sleep_for(after);
    kill(pid, SIGKILL);
    result.exitCode = Wait(pid);
    result.out = zeltest::ReadFile(scratch.out);
    result.err = zeltest::ReadFile(scratch.err);
    return result;
}

ProcessResult RunWatching(const std::vector<std::string> &args,
                          const std::function<void(const std::string &line)> &onLine) {
    Scratch scratch;
    Spill(scratch.in, "");
    ProcessResult result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, scratch.in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, scratch.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    std::vector<char *> argv = Argv(args);
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::size_t shown = 0;
    Drain(pipeFds[0], result.out, [&] {
        for (std::size_t end; (end = result.out.find('\n', shown)) != std::string::npos; shown = end + 1)
            onLine(result.out.substr(shown, end - shown));
    });
    if (pid < 0)
        return result;
    result.exitCode = Wait(pid);
    result.err = zeltest::ReadFile(scratch.err);
    return result;
}

void KillProcess(long pid) { kill(static_cast<pid_t>(pid), SIGKILL); }

ProcessResult RunWithFileSizeLimit(const std::vector<std::string> &args, unsigned long bytes) {
    // the limit is this process's while the child starts, which inherits it
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
    ProcessResult result = RunProcess(args);
    setrlimit(RLIMIT_FSIZE, &saved);
    return result;
}

void SetEnv(const std::string &name, const std::string &value) { setenv(name.c_str(), value.c_str(), 1); }

void UnsetEnv(const std::string &name) { unsetenv(name.c_str()); }

#endif

} // namespace zelprog::test
