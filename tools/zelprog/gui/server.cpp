#include "gui/server.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <chrono>
#include <optional>

namespace zelprog::gui {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

namespace {

constexpr std::chrono::seconds kBodyTimeout{30}; // 4 MiB over the loopback take far less
constexpr std::uint32_t kMaxHeaderBytes = 16 * 1024;

// One connection: requests one after another (keep-alive), each screened on
// its header before its body is read.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, Router &router, std::chrono::milliseconds idleTimeout,
               std::shared_ptr<std::size_t> open)
        : stream_(std::move(socket)), router_(router), idleTimeout_(idleTimeout), open_(std::move(open)) {
        ++*open_;
    }
    ~Connection() { --*open_; }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void Start() { ReadHeader(); }

private:
    void ReadHeader() {
        parser_.emplace();
        parser_->header_limit(kMaxHeaderBytes);
        parser_->body_limit(kMaxBodyBytes);
        stream_.expires_after(idleTimeout_);
        http::async_read_header(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHeader(ec); });
    }

    void OnHeader(beast::error_code ec) {
        if (ec)
            return Fail(ec);
        if (std::optional<Response> refusal = router_.Screen(parser_->get())) {
            refusal->keep_alive(false); // the body, if any, stays unread
            return Send(std::move(*refusal));
        }
        stream_.expires_after(kBodyTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec2, std::size_t) { self->OnBody(ec2); });
    }

    void OnBody(beast::error_code ec) {
        if (ec)
            return Fail(ec);
        Request request = parser_->release();
        Reply reply = router_.Handle(request);
        if (std::holds_alternative<StreamReply>(reply)) {
            stream_.expires_never();
            router_.Stream(std::move(stream_), request);
            return;
        }
        Send(std::move(std::get<Response>(reply)));
    }

    // Malformed or oversized requests get an answer; a connection that went
    // away gets none.
    void Fail(beast::error_code ec) {
        const bool malformed = ec.category() == http::make_error_code(http::error::body_limit).category();
        if (!malformed || ec == http::error::end_of_stream || ec == http::error::partial_message) {
            Close();
            return;
        }
        Request none;
        none.version(11);
        Response response =
            ec == http::error::body_limit || ec == http::error::header_limit
                ? ErrorResponse(none, http::status::payload_too_large,
                                "refused: the request is larger than the server takes (4 MiB)")
                : ErrorResponse(none, http::status::bad_request, "malformed HTTP request: " + ec.message());
        response.keep_alive(false);
        Send(std::move(response));
    }

    void Send(Response response) {
        auto held = std::make_shared<Response>(std::move(response));
        http::async_write(stream_, *held, [self = shared_from_this(), held](beast::error_code ec, std::size_t) {
            if (ec || !held->keep_alive())
                self->Close();
            else
                self->ReadHeader();
        });
    }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.close();
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    Router &router_;
    std::chrono::milliseconds idleTimeout_;
    std::shared_ptr<std::size_t> open_; // the server's count of open connections
};

} // namespace

Server::Server(asio::io_context &io, unsigned short port, ServerLimits limits)
    : io_(io), limits_(limits), acceptor_(io), pause_(io) {
    const tcp::endpoint endpoint{asio::ip::address_v4::loopback(), port};
    acceptor_.open(endpoint.protocol());
    acceptor_.bind(endpoint);
    acceptor_.listen();
    port_ = acceptor_.local_endpoint().port();
}

void Server::Start(Router &router) {
    router_ = &router;
    Accept();
}

void Server::Stop() {
    beast::error_code ignored;
    acceptor_.close(ignored);
    pause_.cancel();
}

// An accept that failed (no descriptor left, or a connection gone before it
// was taken) leaves the others waiting: after a pause the server takes them.
void Server::Accept() {
    acceptor_.async_accept(io_, [this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor_.is_open())
            return; // stopped
        if (!ec) {
            Take(std::move(socket));
            Accept();
            return;
        }
        pause_.expires_after(limits_.acceptPause);
        pause_.async_wait([this](beast::error_code waited) {
            if (!waited && acceptor_.is_open())
                Accept();
        });
    });
}

void Server::Take(tcp::socket socket) {
    if (*open_ >= limits_.maxConnections) {
        beast::error_code ignored;
        socket.close(ignored); // refused at once: the pages' own connections are few
        return;
    }
    std::make_shared<Connection>(std::move(socket), *router_, limits_.idleTimeout, open_)->Start();
}

} // namespace zelprog::gui
