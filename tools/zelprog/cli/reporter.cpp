#include "cli/reporter.h"

#include "core/os.h"

#include <cstdio>

namespace zelprog {
namespace {

constexpr int kBarWidth = 30;
constexpr int kBarLineWidth = 13 + 2 + kBarWidth + 2 + 4 + 2 + 28; // state [bar] pct  rate, as printed
constexpr int kPlainStep = 10;                                     // plain progress lines every 10 percent

std::string Rate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024.0 * 1024.0)
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    else if (bytesPerSecond >= 1024.0)
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
}

std::string Duration(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

std::string RateText(const Event &progress) {
    const double rate = progress.value("bytesPerSecond", 0.0);
    return rate > 0.0 ? Rate(rate) + ", " + Duration(progress.value("secondsLeft", 0.0)) + " left" : "";
}

} // namespace

JobControl Reporter::Control() {
    return {[this](const Event &event) { Show(event); }, [] { return os::Interrupted(); }};
}

void Reporter::Show(const Event &event) {
    std::lock_guard<std::mutex> hold(mutex_);
    const std::string kind = event.value("event", "");
    if (kind == "message") {
        ++messages_;
        if (output_.all || messages_ <= kShownMessages)
            ShowMessage(event.value("text", ""));
        return;
    }
    if (kind == "note") {
        if (!output_.quiet && !output_.json)
            std::fprintf(stderr, "zelprog: %s\n", event.value("text", "").c_str());
        return;
    }
    if (output_.quiet)
        return;
    if (kind == "state") {
        lastPlainStep_ = -1;
        if (output_.json)
            PrintEvent(event);
    } else if (kind == "progress") {
        ShowProgress(event);
    } else if (output_.json) {
        PrintEvent(event);
    }
}

void Reporter::Finish() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (barDrawn_) {
        std::fputc('\n', stderr);
        barDrawn_ = false;
    }
    const int messages = messages_;
    messages_ = 0;
    if (output_.all || messages <= kShownMessages)
        return;
    const std::string more = std::to_string(messages - kShownMessages) + " more of " + std::to_string(messages) +
                             " messages not shown (--all shows every one)";
    if (output_.json)
        PrintEvent(MessageEvent("... " + more));
    else
        std::fprintf(stderr, "... %s\n", more.c_str());
}

void Reporter::ShowProgress(const Event &event) {
    if (output_.json) {
        PrintEvent(event);
        return;
    }
    const std::string state = event.value("state", "");
    const int percent = event.value("percent", 0);
    if (output_.terminal) {
        const int filled = percent * kBarWidth / 100;
        const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, ' ');
        std::fprintf(stderr, "\r%-13s [%s] %3d%%  %-28s", state.c_str(), bar.c_str(), percent,
                     RateText(event).c_str());
        std::fflush(stderr);
        barDrawn_ = true;
        return;
    }
    const int step = percent / kPlainStep;
    if (step == lastPlainStep_)
        return;
    lastPlainStep_ = step;
    const std::string rate = RateText(event);
    std::fprintf(stderr, "%s %d%%%s\n", state.c_str(), percent, rate.empty() ? "" : (" (" + rate + ")").c_str());
    std::fflush(stderr);
}

void Reporter::ClearBar() {
    if (!barDrawn_)
        return;
    std::fprintf(stderr, "\r%*s\r", kBarLineWidth, "");
    barDrawn_ = false;
}

void Reporter::ShowMessage(const std::string &text) {
    if (output_.json) {
        PrintEvent(MessageEvent(text));
        return;
    }
    ClearBar();
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace zelprog
