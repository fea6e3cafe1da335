#include "reporter.h"

#include "json.h"

#include <cstdio>
#include <cstring>

namespace zelprog {
namespace {

constexpr int kBarWidth = 30;
constexpr int kBarLineWidth = 13 + 2 + kBarWidth + 2 + 4 + 2 + 28; // state [bar] pct  rate, as printed
constexpr int kPlainStep = 10; // plain progress lines every 10 percent

std::string Trimmed(const char *text)
{
    std::string s = text != nullptr ? text : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

std::string Rate(double bytesPerSecond)
{
    char text[32];
    if (bytesPerSecond >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    else if (bytesPerSecond >= 1024.0)
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
}

std::string Duration(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

} // namespace

Reporter::Reporter(const Output &output, uint64_t jobBytes) : output_(output), jobBytes_(jobBytes)
{
}

void Reporter::OnProgressChange(int progress)
{
    std::lock_guard<std::mutex> hold(mutex_);
    if (progress == 0 && lastPercent_ > 0)
        phaseStart_ = Clock::now();
    if (progress != lastPercent_) {
        lastPercent_ = progress;
        ShowProgress(progress);
    }
    woken_ = true;
    activity_.notify_all();
}

void Reporter::OnStateChange(const char *state)
{
    std::lock_guard<std::mutex> hold(mutex_);
    state_ = Trimmed(state);
    phaseStart_ = Clock::now();
    lastPercent_ = -1;
    lastPlainStep_ = -1;
    if (output_.quiet)
        return;
    if (output_.json)
        JsonLine("state").Add("state", state_).Print();
}

void Reporter::OnResult(int)
{
    std::lock_guard<std::mutex> hold(mutex_);
    woken_ = true;
    activity_.notify_all();
}

void Reporter::OnMessage(const char *message)
{
    const std::string text = Trimmed(message);
    if (text.empty())
        return; // the separator line before each message
    std::lock_guard<std::mutex> hold(mutex_);
    ++messages_;
    if (output_.all || messages_ <= kShownMessages)
        ShowMessage(text);
}

void Reporter::WaitForActivity(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> hold(mutex_);
    activity_.wait_for(hold, timeout, [this] { return woken_; });
    woken_ = false;
}

void Reporter::Finish()
{
    std::lock_guard<std::mutex> hold(mutex_);
    if (barDrawn_) {
        std::fputc('\n', stderr);
        barDrawn_ = false;
    }
    if (output_.all || messages_ <= kShownMessages)
        return;
    const std::string more = std::to_string(messages_ - kShownMessages) + " more of " + std::to_string(messages_) +
                             " messages not shown (--all shows every one)";
    if (output_.json)
        JsonLine("message").Add("text", "... " + more).Print();
    else
        std::fprintf(stderr, "... %s\n", more.c_str());
}

int Reporter::Messages() const
{
    std::lock_guard<std::mutex> hold(mutex_);
    return messages_;
}

double Reporter::Elapsed() const { return std::chrono::duration<double>(Clock::now() - phaseStart_).count(); }

std::string Reporter::RateText(int percent) const
{
    const double elapsed = Elapsed();
    if (percent <= 0 || elapsed <= 0.0 || jobBytes_ == 0)
        return "";
    const double done = static_cast<double>(jobBytes_) * percent / 100.0;
    const double left = elapsed * (100 - percent) / percent;
    return Rate(done / elapsed) + ", " + Duration(left) + " left";
}

void Reporter::ShowProgress(int percent)
{
    if (output_.quiet)
        return;
    if (output_.json) {
        const double elapsed = Elapsed();
        const double rate = elapsed > 0.0 ? static_cast<double>(jobBytes_) * percent / 100.0 / elapsed : 0.0;
        const double left = percent > 0 ? elapsed * (100 - percent) / percent : 0.0;
        JsonLine("progress").Add("state", state_).Add("percent", percent).Add("bytesPerSecond", rate)
            .Add("secondsLeft", left).Print();
        return;
    }
    if (output_.terminal) {
        const int filled = percent * kBarWidth / 100;
        const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, ' ');
        std::fprintf(stderr, "\r%-13s [%s] %3d%%  %-28s", state_.c_str(), bar.c_str(), percent, RateText(percent).c_str());
        std::fflush(stderr);
        barDrawn_ = true;
        return;
    }
    const int step = percent / kPlainStep;
    if (step == lastPlainStep_)
        return;
    lastPlainStep_ = step;
    const std::string rate = RateText(percent);
    std::fprintf(stderr, "%s %d%%%s\n", state_.c_str(), percent, rate.empty() ? "" : (" (" + rate + ")").c_str());
    std::fflush(stderr);
}

void Reporter::ClearBar()
{
    if (!barDrawn_)
        return;
    std::fprintf(stderr, "\r%*s\r", kBarLineWidth, "");
    barDrawn_ = false;
}

void Reporter::ShowMessage(const std::string &text)
{
    if (output_.json) {
        JsonLine("message").Add("text", text).Print();
        return;
    }
    ClearBar();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace zelprog
