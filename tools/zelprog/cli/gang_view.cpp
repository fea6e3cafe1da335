#include "cli/gang_view.h"

#include <algorithm>
#include <cstdio>

namespace zelprog {
namespace {

constexpr int kPlainStep = 25; // plain progress lines every 25 percent

bool IsDecimal(const std::string &text) {
    return !text.empty() && text.size() < 20 && text.find_first_not_of("0123456789") == std::string::npos;
}

// "1000..1003, 1005": runs of decimal numbers in order; other values as they are.
std::string Joined(std::vector<std::string> list) {
    const bool numbers = std::all_of(list.begin(), list.end(), IsDecimal);
    if (numbers)
        std::sort(list.begin(), list.end(),
                  [](const std::string &a, const std::string &b) { return std::stoull(a) < std::stoull(b); });
    std::string text;
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::size_t end = i;
        while (numbers && end + 1 < list.size() && std::stoull(list[end + 1]) == std::stoull(list[end]) + 1)
            ++end;
        text += (text.empty() ? "" : ", ") + list[i] + (end > i ? ".." + list[end] : "");
        i = end;
    }
    return text;
}

Event SiteStateEvent(const SiteView &site) {
    Event event;
    event["event"] = "site";
    event["site"] = site.site;
    event["link"] = site.link;
    event["pid"] = site.pid;
    event["state"] = site.state;
    event["serial"] = site.serial;
    event["percent"] = site.percent;
    event["last"] = site.last;
    event["passed"] = site.passed;
    event["failed"] = site.failed;
    return event;
}

} // namespace

Event SiteEvent(int site, const Event &event) {
    Event tagged;
    tagged["event"] = event.value("event", "");
    tagged["site"] = site;
    for (const auto &[key, value] : event.items())
        if (key != "event" && key != "site")
            tagged[key] = value;
    return tagged;
}

GangView::GangView(const Output &output, bool terminal, std::vector<SiteView> sites)
    : output_(output), terminal_(terminal && !output.json && !output.quiet), sites_(std::move(sites)) {}

void GangView::Forward(int site, const Event &event) {
    if (output_.json)
        PrintEvent(SiteEvent(site, event));
}

void GangView::Changed(const SiteView &site) {
    SiteView &shown = sites_[static_cast<std::size_t>(site.site - 1)];
    const bool stateChanged = shown.state != site.state || shown.serial != site.serial || shown.last != site.last;
    const bool stepChanged = shown.step != site.step;
    const bool stepped = site.percent / kPlainStep != shown.percent / kPlainStep;
    const bool moved = site.percent != shown.percent;
    shown = site;
    if (output_.json) {
        if (stateChanged)
            PrintEvent(SiteStateEvent(site));
    } else if (terminal_) {
        if (stateChanged || stepChanged || moved)
            Redraw();
    } else if (!output_.quiet && (stateChanged || (site.state == "writing" && (stepped || stepChanged)))) {
        std::printf("%s\n", Line(site).c_str());
        std::fflush(stdout);
    }
}

void GangView::Note(const std::string &text) {
    if (!output_.json && !output_.quiet)
        std::fprintf(stderr, "zelprog: %s\n", text.c_str());
}

std::string GangView::Line(const SiteView &site) const {
    char head[128];
    std::snprintf(head, sizeof head, "site %d: %-8s %-12s %-13s %3d%%  %d passed, %d failed", site.site,
                  site.state.c_str(), site.serial.empty() ? "" : ("serial " + site.serial).c_str(),
                  site.state == "writing" ? site.step.c_str() : "", site.percent, site.passed, site.failed);
    return std::string(head) + (site.last.empty() ? "" : "  (" + site.last + ")");
}

void GangView::Redraw() {
    if (drawn_)
        std::printf("\x1b[%zuA", sites_.size()); // back to the first site's line
    for (const SiteView &site : sites_)
        std::printf("\r\x1b[K%s\n", Line(site).c_str());
    std::fflush(stdout);
    drawn_ = true;
}

void GangView::Summary(const GangSummary &summary) {
    const std::size_t used = summary.written.size() + summary.lost.size();
    if (output_.json) {
        Event event;
        event["event"] = "summary";
        event["passed"] = summary.passed;
        event["failed"] = summary.failed;
        event["numbersUsed"] = used;
        event["written"] = summary.written;
        event["lost"] = summary.lost;
        event["givenBack"] = summary.givenBack;
        PrintEvent(event);
        return;
    }
    std::printf("gang: %d passed, %d failed; %zu serial numbers used", summary.passed, summary.failed, used);
    if (!summary.written.empty())
        std::printf("; written: %s", Joined(summary.written).c_str());
    if (!summary.lost.empty())
        std::printf("; lost: %s", Joined(summary.lost).c_str());
    if (!summary.givenBack.empty())
        std::printf("; given back: %s", Joined(summary.givenBack).c_str());
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace zelprog
