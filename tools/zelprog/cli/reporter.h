// Shows the events of a command's jobs: a progress bar (on a terminal),
// plain progress lines, or JSON lines, and the mismatch messages (the first
// ones, or with --all every one). Job events come on the library's worker
// thread, the rest on the main thread.
#pragma once

#include "cli/output.h"
#include "core/job.h"

#include <mutex>
#include <string>

namespace zelprog {

inline constexpr int kShownMessages = 20; // mismatch messages printed without --all

class Reporter {
public:
    explicit Reporter(const Output &output) : output_(output) {}
    Reporter(const Reporter &) = delete;
    Reporter &operator=(const Reporter &) = delete;

    void Show(const Event &event);
    // The sink and, for Ctrl-C, the stop request of the jobs.
    JobControl Control();
    // After a job: ends the progress bar's line and tells how many messages
    // were not shown.
    void Finish();

private:
    void ShowProgress(const Event &event);
    void ShowMessage(const std::string &text);
    void ClearBar();

    const Output output_;

    std::mutex mutex_; // guards every field below and the output of the events
    int lastPlainStep_ = -1;
    bool barDrawn_ = false;
    int messages_ = 0;
};

} // namespace zelprog
