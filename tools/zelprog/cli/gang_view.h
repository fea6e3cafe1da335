// What a gang shows: with --json every event tagged with its site; on a
// terminal one line a site, redrawn in place; otherwise a plain line when a
// site's state changes. Then a summary.
#pragma once

#include "cli/output.h"
#include "core/events.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zelprog {

struct SiteView {
    int site = 0; // from 1, in the order of the command line
    std::string link;
    unsigned long pid = 0;          // of its worker process
    std::string state = "starting"; // starting, ready, writing, passed, failed, stopped, done
    std::string serial;             // the number it writes or last wrote
    std::string step;               // the worker's job state: "Writing...", "Verifying..."
    int percent = 0;
    std::string last; // what came of its last unit: "passed", or why it failed
    int passed = 0, failed = 0;
};

struct GangSummary {
    int passed = 0, failed = 0;
    std::vector<std::string> written, lost, givenBack; // serial numbers by their fate
};

class GangView {
public:
    // `terminal`: standard output is a terminal, so lines are redrawn.
    GangView(const Output &output, bool terminal, std::vector<SiteView> sites);

    // An event of a site's worker, as --json prints it, tagged with its site.
    void Forward(int site, const Event &event);
    // The site's view changed.
    void Changed(const SiteView &site);
    void Note(const std::string &text);
    void Summary(const GangSummary &summary);

    const SiteView &Site(int site) const { return sites_[static_cast<std::size_t>(site - 1)]; }

private:
    std::string Line(const SiteView &site) const;
    void Redraw();

    const Output output_;
    const bool terminal_;
    std::vector<SiteView> sites_;
    bool drawn_ = false;
};

// The event with "site" put right after "event".
Event SiteEvent(int site, const Event &event);

} // namespace zelprog
