// The tool's ZelHandler: turns a job's callbacks into a progress bar (on a
// terminal), plain progress lines, or JSON lines, and prints the mismatch
// messages. Callbacks come on the library's worker thread; the main thread
// only waits here and reads the counts after the job.
#pragma once

#include "output.h"

#include <zelapi.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace zelprog {

inline constexpr int kShownMessages = 20; // mismatch messages printed without --all

class Reporter final : public ZelHandler {
public:
    Reporter(const Output &output, uint64_t jobBytes); // jobBytes 0: no rate shown

    void OnProgressChange(int progress) override;
    void OnStateChange(const char *state) override;
    void OnResult(int result) override;
    void OnMessage(const char *message) override;

    // Returns after `timeout` or as soon as a callback arrives.
    void WaitForActivity(std::chrono::milliseconds timeout);
    // Ends the progress bar's line and tells how many messages were not shown.
    void Finish();
    int Messages() const;

private:
    using Clock = std::chrono::steady_clock;

    void ShowProgress(int percent);
    void ShowMessage(const std::string &text);
    std::string RateText(int percent) const;
    double Elapsed() const;
    void ClearBar();

    const Output output_;
    const uint64_t jobBytes_; // bytes one pass of the job moves

    mutable std::mutex mutex_; // guards every field below and the output of the callbacks
    std::condition_variable activity_;
    bool woken_ = false;
    std::string state_ = "Working...";
    Clock::time_point phaseStart_ = Clock::now();
    int lastPercent_ = -1;
    int lastPlainStep_ = -1;
    bool barDrawn_ = false;
    int messages_ = 0;
};

} // namespace zelprog
