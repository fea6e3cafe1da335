// Runs a program with arguments and collects its exit code, standard output
// and standard error, for end-to-end tests of the command-line tool.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace zelprog::test {

struct ProcessResult {
    int exitCode = -1; // 128 + signal number when a signal ended it
    std::string out;
    std::string err;
};

ProcessResult RunProcess(const std::vector<std::string> &args, const std::string &input = "");

// Runs the program and, as soon as a line of its standard error contains
// `trigger`, sends it SIGINT (Ctrl-C). Only where signals exist.
bool CanInterrupt();
ProcessResult RunAndInterrupt(const std::vector<std::string> &args, const std::string &trigger);

// Runs the program and, as soon as a line of its standard error contains
// `trigger`, stops it (SIGSTOP), calls `action` and lets it go on
// (SIGCONT): the action happens at that point of the program's run. Only
// where signals exist.
ProcessResult RunAndAct(const std::vector<std::string> &args, const std::string &trigger,
                        const std::function<void()> &action);

// Runs the program and sends it SIGKILL `after` its start (or reaps it, if
// it ended before). Only where signals exist.
ProcessResult RunAndKill(const std::vector<std::string> &args, std::chrono::microseconds after);

// Runs the program and hands each line of its standard output to
// `onLine` as soon as it comes (the result's `out` holds them all). POSIX only.
ProcessResult RunWatching(const std::vector<std::string> &args,
                          const std::function<void(const std::string &line)> &onLine);
// SIGKILL to the process. POSIX only.
void KillProcess(long pid);

// Runs the program with its files limited to `bytes` (RLIMIT_FSIZE). Only
// where signals exist.
ProcessResult RunWithFileSizeLimit(const std::vector<std::string> &args, unsigned long bytes);

void SetEnv(const std::string &name, const std::string &value);
void UnsetEnv(const std::string &name);

} // namespace zelprog::test
