// The HTTP types of the GUI server (Boost.Beast) and small response makers.
#pragma once

#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace zelprog::gui {

namespace http = boost::beast::http;

using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

inline constexpr std::size_t kMaxBodyBytes = 4u << 20; // an image is 128 KiB at most; its Intel HEX about 360 KiB

// {"error": message} with the status; every refusal reads this way.
Response ErrorResponse(const Request &request, http::status status, std::string_view message);
Response JsonResponse(const Request &request, const nlohmann::json &body, http::status status = http::status::ok);
Response BytesResponse(const Request &request, std::string bytes, std::string_view type);

// The value of one query parameter of the request target ("" when absent).
std::string QueryParameter(std::string_view target, std::string_view name);
// The target without its query.
std::string_view TargetPath(std::string_view target);

} // namespace zelprog::gui
