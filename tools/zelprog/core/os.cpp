#include "core/os.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
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

#endif

bool Interrupted() { return g_interrupted.load(); }

} // namespace zelprog::os
