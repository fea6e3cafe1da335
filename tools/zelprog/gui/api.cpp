#include "gui/api.h"

#include "core/events.h"
#include "core/parts.h"
#include "formats/image_format.h"
#include "gui/assets.h"
#include "gui/link_config.h"

#include <zelapi.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace zelprog::gui {
namespace {

constexpr std::size_t kPortListBytes = 4096;
constexpr const char *kFormatError = "the format must be text, bin, ihex or srec";

// Requests that change the link or the EEPROM: only the page in control.
constexpr std::array kControlPaths{"/api/open",
                                   "/api/close",
                                   "/api/read",
                                   "/api/write",
                                   "/api/verify",
                                   "/api/erase",
                                   "/api/check-size",
                                   "/api/write-header",
                                   "/api/stop",
                                   "/api/detect",
                                   "/api/production/start",
                                   "/api/production/stop"};
constexpr std::array kOtherPosts{"/api/decode", "/api/encode"};
constexpr std::array kApiGets{"/api/state", "/api/events", "/api/chip", "/api/records"};

template <std::size_t N> bool Among(const std::array<const char *, N> &paths, std::string_view path) {
    for (const char *p : paths)
        if (path == p)
            return true;
    return false;
}

Response BadRequest(const Request &request, std::string_view message) {
    return ErrorResponse(request, http::status::bad_request, message);
}

// A refused job or open: a usage problem is the request's fault (400); the
// others are the link's or the EEPROM's (409: the request was sound, the
// state did not allow it).
Response StatusResponse(const Request &request, const Status &status) {
    if (status.Ok())
        return JsonResponse(request, {{"ok", true}});
    return ErrorResponse(request, status.code == kExitUsage ? http::status::bad_request : http::status::conflict,
                         status.message);
}

Bytes BodyBytes(const Request &request) { return Bytes(request.body().begin(), request.body().end()); }

nlohmann::json PartList() {
    nlohmann::json parts = nlohmann::json::array();
    for (const PartGeometry &p : KnownParts())
        parts.push_back(nlohmann::json::parse(PartEvent(p).dump())); // the same object as zelprog parts --json
    return parts;
}

nlohmann::json PortList() {
    int32_t count = 0;
    std::array<char, kPortListBytes> names{};
    nlohmann::json ports = nlohmann::json::array();
    if (zelGetAvailableSpiPorts(reinterpret_cast<intptr_t>(&count), reinterpret_cast<intptr_t>(names.data()),
                                static_cast<intptr_t>(names.size() - 1), 0) == 0)
        return ports;
    std::string_view list(names.data());
    for (std::size_t end; (end = list.find('\n')) != std::string_view::npos; list.remove_prefix(end + 1))
        ports.push_back(std::string(list.substr(0, end)));
    return ports;
}

bool ParseNumber(std::string_view text, long &value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// The page's link choice as zelprog's link options; an empty string when
// the choice is sound, else what is wrong with it. `commandLink` is the
// link given on the command line ("" for none).
std::string LinkFromJson(const nlohmann::json &body, const std::string &commandLink, OpenRequest &open) {
    const std::string kind = body.value("kind", "");
    LinkOptions &link = open.link;
    link.part = body.value("part", "");
    link.pio = body.value("pio", "");
    const int page = body.value("pageSize", -1); // -1: the part's page; 0: byte writes
    link.byteWrites = page == 0;
    link.pageSize = page == 0 ? -1 : page;
    if (kind == "virtual")
        return "";
    if (kind == "lpt" || kind == "usb") {
        link.transport = kind;
        link.port = body.value("port", -1);
        return link.port >= -1 ? "" : "the port must be a number from 0 up";
    }
    if (kind == "ftdi") {
        link.link = body.value("device", "");
        const nlohmann::json ports = PortList();
        const bool listed = std::find(ports.begin(), ports.end(), link.link) != ports.end();
        return listed && link.link.rfind("SPITRANS=FTDI", 0) == 0
                   ? ""
                   : "that FTDI adapter is not among those found: plug it in and reload the page";
    }
    if (kind == "config") {
        const std::string text = body.value("config", "");
        std::string problem;
        if (text.find_first_not_of(" \t") == std::string::npos)
            return "the configuration string is empty";
        return PageLinkConfig(text, link.part, link.link, problem) ? "" : problem;
    }
    if (kind == "command") {
        link.link = commandLink;
        return commandLink.empty() ? "no link was given on the command line (zelprog gui --link \"...\")" : "";
    }
    return "the link kind must be virtual, lpt, usb, ftdi, config or command";
}

// A query parameter as the page's URLSearchParams wrote it: '+' a space,
// %XX a byte; a broken escape stays as it is.
std::string FormParameter(const Request &request, std::string_view name) {
    const std::string text = QueryParameter(request.target(), name);
    std::string value;
    const auto hex = [&](std::size_t at) {
        return at < text.size() && std::isxdigit(static_cast<unsigned char>(text[at])) != 0;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            value += ' ';
        } else if (text[i] == '%' && hex(i + 1) && hex(i + 2)) {
            value += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            value += text[i];
        }
    }
    return value;
}

} // namespace

std::optional<Response> Api::Screen(const Request &header) {
    if (std::optional<Refusal> refusal = guard_.Check(header))
        return ErrorResponse(header, refusal->status, refusal->message);
    const std::string_view path = TargetPath(header.target());
    if (guard_.IsEntry(header)) {
        Response response{http::status::see_other, header.version()};
        response.set(http::field::location, "/");
        response.set(http::field::set_cookie, guard_.SetCookieValue());
        response.set(http::field::cache_control, "no-store");
        response.prepare_payload();
        return response;
    }
    if (header.method() == http::verb::post) {
        if (Among(kControlPaths, path)) {
            if (!hub_.HasControl(header["X-Zel-Page"]))
                return ErrorResponse(header, http::status::conflict,
                                     "this EEPROM is in use by another page of this zelprog gui");
            return std::nullopt;
        }
        if (Among(kOtherPosts, path))
            return std::nullopt;
    }
    if (header.method() == http::verb::get && (Among(kApiGets, path) || FindAsset(path) != nullptr))
        return std::nullopt;
    if (Among(kControlPaths, path) || Among(kOtherPosts, path) || Among(kApiGets, path))
        return ErrorResponse(header, http::status::method_not_allowed, "method not allowed here");
    return ErrorResponse(header, http::status::not_found, "no such page or request");
}

Reply Api::Handle(Request &request) {
    const std::string_view path = TargetPath(request.target());
    if (request.method() == http::verb::get && path == "/api/events")
        return StreamReply{};
    if (request.method() == http::verb::get)
        return Get(request, path);
    return Post(request, path);
}

void Api::Stream(boost::beast::tcp_stream stream, const Request &request) {
    hub_.Attach(std::move(stream), request);
}

Response Api::Get(const Request &request, std::string_view path) {
    if (path == "/api/state") {
        nlohmann::json state = device_.State();
        state["commandLink"] = commandLink_;
        state["parts"] = PartList();
        state["ports"] = PortList();
        state["production"] = production_.State();
        return JsonResponse(request, state);
    }
    if (path == "/api/records")
        return Records(request);
    if (path == "/api/chip") {
        if (device_.Chip().empty())
            return ErrorResponse(request, http::status::conflict,
                                 "the EEPROM's contents are not known: Read first");
        return BytesResponse(request, std::string(device_.Chip().begin(), device_.Chip().end()),
                             "application/octet-stream");
    }
    const Asset *asset = FindAsset(path);
    Response response =
        BytesResponse(request, std::string(reinterpret_cast<const char *>(asset->data), asset->size), asset->type);
    response.set("Content-Security-Policy",
                 "default-src 'self'; img-src 'self' data: blob:; object-src 'none'; frame-ancestors 'none'");
    return response;
}

Response Api::Post(const Request &request, std::string_view path) {
    if (path == "/api/decode")
        return Decode(request);
    if (path == "/api/encode")
        return Encode(request);
    if (path == "/api/production/start")
        return StartProduction(request);
    if (path == "/api/production/stop") {
        production_.Stop();
        return JsonResponse(request, {{"ok", true}});
    }
    if (path == "/api/open")
        return Open(request);
    if (path == "/api/close")
        return StatusResponse(request, device_.Close());
    if (path == "/api/stop") {
        device_.Stop();
        return JsonResponse(request, {{"ok", true}});
    }
    if (path == "/api/read")
        return Job(request, device_.StartRead());
    if (path == "/api/write")
        return Job(request, device_.StartWrite(BodyBytes(request)));
    if (path == "/api/verify")
        return Job(request, device_.StartVerify(BodyBytes(request)));
    if (path == "/api/check-size")
        return Job(request, device_.StartCheckSize());
    if (path == "/api/write-header")
        return Job(request, device_.StartWriteHeader());
    if (path == "/api/detect")
        return Job(request, device_.StartDetect());
    // erase
    long fill = 0xFF;
    const std::string text = QueryParameter(request.target(), "fill");
    if (!text.empty() && (!ParseNumber(text, fill) || fill < 0 || fill > 0xFF))
        return BadRequest(request, "the fill byte must be 0 to 255");
    return Job(request, device_.StartErase(static_cast<uint8_t>(fill)));
}

Response Api::Open(const Request &request) {
    const nlohmann::json body = nlohmann::json::parse(request.body(), nullptr, false);
    if (!body.is_object())
        return BadRequest(request, "the open request must be a JSON object");
    OpenRequest open;
    std::string problem;
    try {
        problem = LinkFromJson(body, commandLink_, open);
    } catch (const nlohmann::json::exception &) {
        problem = "a field of the open request has the wrong type";
    }
    if (!problem.empty())
        return BadRequest(request, problem);
    const Status status = device_.Open(open);
    if (!status.Ok())
        return StatusResponse(request, status);
    return JsonResponse(request, device_.State());
}

Response Api::Job(const Request &request, const Status &started) {
    if (!started.Ok())
        return StatusResponse(request, started);
    return JsonResponse(request, {{"ok", true}, {"started", true}}, http::status::accepted);
}

// An empty body: the command line's image; else the buffer's bytes. The
// sites' adapters may be the one the page holds open, so not while it is.
Response Api::StartProduction(const Request &request) {
    if (device_.State().value("open", false))
        return ErrorResponse(request, http::status::conflict,
                             "close the link first: a site's adapter may be the one it holds");
    const Bytes bytes = BodyBytes(request);
    return StatusResponse(request, production_.Start(bytes.empty() ? nullptr : &bytes));
}

Response Api::Records(const Request &request) {
    const RecordFilter filter{.serial = FormParameter(request, "serial"),
                              .result = FormParameter(request, "result"),
                              .since = FormParameter(request, "since"),
                              .until = FormParameter(request, "until")};
    nlohmann::json records;
    const Status status = production_.Records(filter, records);
    if (!status.Ok())
        return StatusResponse(request, status);
    return JsonResponse(request, {{"records", records}});
}

Response Api::Decode(const Request &request) {
    const std::string name = QueryParameter(request.target(), "format");
    const std::optional<ImageFormat> format = ParseFormatName(name);
    if (!format)
        return BadRequest(request, kFormatError);
    long size = static_cast<long>(device_.Size());
    const std::string sizeText = QueryParameter(request.target(), "size");
    if (!sizeText.empty() &&
        (!ParseNumber(sizeText, size) || size < 128 || size > (1L << kMaxSizeBits) || (size & (size - 1)) != 0))
        return BadRequest(request, "the size must be a power of two from 128 to 131072");
    if (size == 0)
        return BadRequest(request, "no EEPROM is open: say the buffer's size");
    Bytes bytes;
    std::string error;
    if (!DecodeImage(*format, request.body(), static_cast<std::size_t>(size), true, bytes, error))
        return BadRequest(request, std::string(FormatName(*format)) + " file: " + error);
    return BytesResponse(request, std::string(bytes.begin(), bytes.end()), "application/octet-stream");
}

Response Api::Encode(const Request &request) {
    const std::optional<ImageFormat> format = ParseFormatName(QueryParameter(request.target(), "format"));
    if (!format)
        return BadRequest(request, kFormatError);
    const Bytes bytes = BodyBytes(request);
    if (bytes.empty())
        return BadRequest(request, "nothing to save: the buffer is empty");
    return BytesResponse(request, EncodeImage(*format, bytes), "application/octet-stream");
}

} // namespace zelprog::gui
