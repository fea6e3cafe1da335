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
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
extern char **environ;
#endif

namespace zelprog::os {
namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the interrupt flag is set from a signal handler");

const char *NonEmptyEnv(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

bool MakeDirectory(const std::filesystem::path &dir, std::string &error)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!ec)
        return true;
    error = "cannot create the state directory " + dir.string() + ": " + ec.message();
    return false;
}

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event)
{
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

void UseBinaryStdio()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

bool StateDirectory(std::filesystem::path &dir, std::string &error)
{
    const char *base = NonEmptyEnv("LOCALAPPDATA");
    if (base == nullptr) {
        error = "%LOCALAPPDATA% is not set: pass --link to name the link instead";
        return false;
    }
    dir = std::filesystem::path(base) / "zelprog";
    return MakeDirectory(dir, error);
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

bool RandomBytes(unsigned char *bytes, std::size_t count)
{
    return BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

bool OpenBrowser(const std::string &url)
{
    const auto result = reinterpret_cast<intptr_t>(
        ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32; // ShellExecute's own convention: above 32 is success
}

#else

void InstallInterruptHandler()
{
    struct sigaction action {};
    action.sa_handler = OnInterruptSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void UseBinaryStdio() {}

bool StateDirectory(std::filesystem::path &dir, std::string &error)
{
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

bool RandomBytes(unsigned char *bytes, std::size_t count)
{
    while (count > 0) {
        const std::size_t chunk = count < 256 ? count : 256; // getentropy's limit per call
        if (getentropy(bytes, chunk) != 0)
            return false;
        bytes += chunk;
        count -= chunk;
    }
    return true;
}

bool OpenBrowser(const std::string &url)
{
    // xdg-open runs as a child; a thread of its own reaps it, so no zombie
    // is left while the server runs.
    const char *argv[] = {"xdg-open", url.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, const_cast<char **>(argv), environ) != 0)
        return false;
    std::thread([child] { waitpid(child, nullptr, 0); }).detach();
    return true;
}

#endif

bool Interrupted() { return g_interrupted.load(); }

} // namespace zelprog::os
