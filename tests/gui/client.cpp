#include "gui/client.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>

#include <istream>

namespace zelprog::gui::test {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

tcp::socket Connect(asio::io_context &io, unsigned short port) {
    tcp::socket socket(io);
    socket.connect({asio::ip::address_v4::loopback(), port});
    return socket;
}

Reply ReadReply(tcp::socket &socket) {
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> response;
    boost::beast::error_code ec;
    http::read(socket, buffer, response, ec);
    Reply reply;
    if (ec)
        return reply; // status 0: no answer
    reply.status = static_cast<int>(response.result_int());
    reply.body = response.body();
    for (const auto &field : response)
        reply.headers[std::string(field.name_string())] = std::string(field.value());
    return reply;
}

} // namespace

Client::Client(unsigned short port, std::string token) : port_(port), token_(std::move(token)) {}

Reply Client::Send(const Call &call) const {
    asio::io_context io;
    tcp::socket socket = Connect(io, port_);
    http::request<http::string_body> request{call.method, call.target, 11};
    request.set(http::field::host, Host());
    request.set(http::field::cookie, Cookie());
    for (const auto &[name, value] : call.headers) {
        if (value.empty())
            request.erase(name);
        else
            request.set(name, value);
    }
    request.body() = call.body;
    request.prepare_payload();
    http::write(socket, request);
    return ReadReply(socket);
}

Reply Client::SendRaw(const std::string &bytes) const {
    asio::io_context io;
    tcp::socket socket = Connect(io, port_);
    asio::write(socket, asio::buffer(bytes));
    return ReadReply(socket);
}

EventStream::EventStream(const Client &client) : socket_(Connect(io_, client.Port())) {
    const std::string request = "GET /api/events HTTP/1.1\r\nHost: " + client.Host() +
                                "\r\nCookie: " + client.Cookie() + "\r\nAccept: text/event-stream\r\n\r\n";
    asio::write(socket_, asio::buffer(request));
    asio::read_until(socket_, buffer_, "\r\n\r\n");
    std::istream in(&buffer_);
    std::string line;
    while (std::getline(in, line) && line != "\r") {
    }
}

nlohmann::ordered_json EventStream::Next() {
    asio::read_until(socket_, buffer_, "\n\n");
    std::istream in(&buffer_);
    std::string line, data;
    while (std::getline(in, line) && !line.empty())
        if (line.rfind("data: ", 0) == 0)
            data += line.substr(6);
    return nlohmann::ordered_json::parse(data);
}

std::vector<nlohmann::ordered_json> EventStream::UntilJobEnd() {
    std::vector<nlohmann::ordered_json> events;
    while (true) {
        events.push_back(Next());
        const std::string kind = events.back().value("event", "");
        if (kind == "result" || kind == "error")
            return events;
    }
}

} // namespace zelprog::gui::test
