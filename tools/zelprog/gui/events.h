// The pages' event streams (Server-Sent Events) and which page has control.
// The first page whose stream connects controls the EEPROM; any other page
// is told that it is in use and only watches. Control ends with the
// controlling page's stream, and the watching pages hear that it is free.
#pragma once

#include "core/events.h"
#include "gui/http.h"

#include <boost/asio/io_context.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include <memory>
#include <string>
#include <vector>

namespace zelprog::gui {

class EventStream;

class EventHub {
public:
    explicit EventHub(boost::asio::io_context &io) : io_(io) {}

    // Takes over the connection of a GET /api/events. Server thread only.
    void Attach(boost::beast::tcp_stream stream, const Request &request);

    // Sends `event` to every page. Any thread: the sending happens on the
    // server's thread, in the order of the calls.
    void Publish(Event event);

    // The page that sent `pageId` has control. Server thread only.
    bool HasControl(std::string_view pageId) const;
    bool Controlled() const { return controller_ != nullptr; }

    void CloseAll();

    // A stream has ended (the page went away). Server thread only.
    void Remove(const EventStream *stream);

private:
    void Send(const Event &event);

    boost::asio::io_context &io_;
    // Both touched only on the server's thread.
    std::vector<std::shared_ptr<EventStream>> streams_;
    std::shared_ptr<EventStream> controller_;
    std::string controllerId_;
};

} // namespace zelprog::gui
