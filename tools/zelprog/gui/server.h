// The GUI's HTTP server: accepts connections on 127.0.0.1 and hands each
// request to the router; the event stream's connections go to the hub.
#pragma once

#include "gui/http.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include <functional>
#include <memory>
#include <variant>

namespace zelprog::gui {

// What the router makes of a request: an answer, or "this connection now
// carries the event stream".
struct StreamReply {};
using Reply = std::variant<Response, StreamReply>;

class Router {
public:
    virtual ~Router() = default;
    // Before the body is read: a refusal ends the request unread.
    virtual std::optional<Response> Screen(const Request &header) = 0;
    virtual Reply Handle(Request &request) = 0;
    virtual void Stream(boost::beast::tcp_stream stream, const Request &request) = 0;
};

class Server {
public:
    // Binds 127.0.0.1:port (0: a free port). Throws boost::system::system_error.
    Server(boost::asio::io_context &io, unsigned short port);

    unsigned short Port() const { return port_; }
    // Serves until Stop; `router` outlives the server's connections.
    void Start(Router &router);
    void Stop();

private:
    void Accept();

    boost::asio::io_context &io_;
    Router *router_ = nullptr;
    boost::asio::ip::tcp::acceptor acceptor_;
    unsigned short port_ = 0;
};

} // namespace zelprog::gui
