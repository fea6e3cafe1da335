// The GUI's HTTP server: accepts connections on 127.0.0.1 and hands each
// request to the router; the event stream's connections go to the hub.
#pragma once

#include "gui/http.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include <chrono>
#include <cstddef>
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

// What one local program can take of the server: a flood of connections
// slows the page at worst, it never ends the server.
struct ServerLimits {
    std::size_t maxConnections = 48; // more are closed as soon as they come
    std::chrono::milliseconds idleTimeout{
        5000}; // for each request's header, from the connection or the last answer
    std::chrono::milliseconds acceptPause{100}; // after an accept failed (no descriptor left, say)
};

class Server {
public:
    // Binds 127.0.0.1:port (0: a free port). Throws boost::system::system_error.
    Server(boost::asio::io_context &io, unsigned short port, ServerLimits limits = {});

    unsigned short Port() const { return port_; }
    // Serves until Stop; `router` outlives the server's connections.
    void Start(Router &router);
    void Stop();

private:
    void Accept();
    void Take(boost::asio::ip::tcp::socket socket);

    boost::asio::io_context &io_;
    ServerLimits limits_;
    Router *router_ = nullptr;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer pause_;
    // Connections still open; each holds it, as they may outlive the server.
    std::shared_ptr<std::size_t> open_ = std::make_shared<std::size_t>(0);
    unsigned short port_ = 0;
};

} // namespace zelprog::gui
