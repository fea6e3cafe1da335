// The GUI's requests: the page's files, the JSON API over the EEPROM and the
// event stream, each request screened by the guard first.
#pragma once

#include "gui/device.h"
#include "gui/events.h"
#include "gui/guard.h"
#include "gui/production.h"
#include "gui/server.h"

namespace zelprog::gui {

class Api final : public Router {
public:
    // `commandLink`: the link given on the command line, which the page may
    // open as it stands ("" for none).
    Api(const Guard &guard, Device &device, Production &production, EventHub &hub, std::string commandLink)
        : guard_(guard), device_(device), production_(production), hub_(hub),
          commandLink_(std::move(commandLink)) {}

    std::optional<Response> Screen(const Request &header) override;
    Reply Handle(Request &request) override;
    void Stream(boost::beast::tcp_stream stream, const Request &request) override;

private:
    Response Get(const Request &request, std::string_view path);
    Response Post(const Request &request, std::string_view path);
    Response Open(const Request &request);
    Response Job(const Request &request, const Status &started);
    Response Decode(const Request &request);
    Response Encode(const Request &request);
    Response StartProduction(const Request &request);
    Response Records(const Request &request);

    const Guard &guard_;
    Device &device_;
    Production &production_;
    EventHub &hub_;
    std::string commandLink_;
};

} // namespace zelprog::gui
