// The production view's side of the server: the gang that the command line
// set up (its sites, serial settings and perhaps its image), run as a
// `zelprog gang` process whose events go to every page, and the unit
// records. The page names no file and no link: it may only upload the image.
#pragma once

#include "core/events.h"
#include "core/ledger.h"
#include "core/os.h"
#include "core/status.h"
#include "gui/events.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zelprog::gui {

struct ProductionSetup {
    std::vector<std::string> sites; // as the command line named them; none: no production view
    std::string serial;             // the serial settings in words, for the page; empty: none
    std::string imageFile;          // named on the command line; empty: the page uploads one
    // The gang's command line for an image file; `uploaded`: a binary image
    // of the page's buffer.
    std::function<std::vector<std::string>(const std::string &image, bool uploaded)> command;
    std::optional<LedgerOptions> ledger; // where the unit records are; none without serial numbers
};

class Production {
public:
    Production(ProductionSetup setup, EventHub &hub) : setup_(std::move(setup)), hub_(hub) {}
    ~Production(); // a running gang is stopped, and waited for
    Production(const Production &) = delete;
    Production &operator=(const Production &) = delete;

    nlohmann::json State() const;
    bool Running() const;
    // Starts the gang on `uploaded` (the buffer's bytes), or on the command
    // line's image when that is null.
    Status Start(const Bytes *uploaded);
    // Stops every site; the gang settles every number before it ends.
    void Stop();
    // The unit records that match, oldest first, as `records --json` has them.
    Status Records(const RecordFilter &filter, nlohmann::json &out) const;

private:
    void Follow();
    void Forward(const std::string &line, std::string &failure);

    const ProductionSetup setup_;
    EventHub &hub_;
    std::filesystem::path uploaded_; // the image file made for an upload; removed when the gang ends
    mutable std::mutex mutex_;       // guards gang_ and running_
    std::unique_ptr<os::ChildProcess> gang_;
    bool running_ = false;
    std::thread follower_; // started and joined on the server's thread only
};

} // namespace zelprog::gui
