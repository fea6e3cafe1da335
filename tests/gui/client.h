// A small HTTP client for the GUI server's tests (Boost.Beast, blocking).
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include <map>
#include <string>

namespace zelprog::gui::test {

namespace http = boost::beast::http;

struct Reply {
    int status = 0;
    std::string body;
    std::map<std::string, std::string> headers;
    nlohmann::json Json() const { return nlohmann::json::parse(body, nullptr, false); }
};

struct Call {
    http::verb method = http::verb::get;
    std::string target = "/api/state";
    std::string body;
    std::map<std::string, std::string> headers; // added to (or replacing) Host and Cookie
};

class Client {
public:
    Client(unsigned short port, std::string token);

    // The request as a browser with the cookie would send it, with `call`'s
    // headers added or replacing those.
    Reply Send(const Call &call) const;
    // Bytes sent as they are; the reply as the server gave it.
    Reply SendRaw(const std::string &bytes) const;

    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Cookie() const { return "zelprog-" + std::to_string(port_) + "=" + token_; }
    unsigned short Port() const { return port_; }

private:
    unsigned short port_;
    std::string token_;
};

// A page's event stream: each Next() is one event object.
class EventStream {
public:
    explicit EventStream(const Client &client);
    nlohmann::ordered_json Next();
    // Events up to and including the job's "result" or "error".
    std::vector<nlohmann::ordered_json> UntilJobEnd();

private:
    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_;
    boost::asio::streambuf buffer_;
};

} // namespace zelprog::gui::test
