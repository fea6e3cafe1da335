#include "gui/http.h"

namespace zelprog::gui {
namespace {

Response Base(const Request &request, http::status status, std::string_view type) {
    Response response{status, request.version()};
    response.set(http::field::server, "zelprog");
    response.set(http::field::content_type, type);
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.keep_alive(request.keep_alive());
    return response;
}

} // namespace

Response ErrorResponse(const Request &request, http::status status, std::string_view message) {
    return JsonResponse(request, nlohmann::json{{"error", message}}, status);
}

Response JsonResponse(const Request &request, const nlohmann::json &body, http::status status) {
    Response response = Base(request, status, "application/json");
    response.body() = body.dump();
    response.prepare_payload();
    return response;
}

Response BytesResponse(const Request &request, std::string bytes, std::string_view type) {
    Response response = Base(request, http::status::ok, type);
    response.body() = std::move(bytes);
    response.prepare_payload();
    return response;
}

std::string_view TargetPath(std::string_view target) { return target.substr(0, target.find('?')); }

std::string QueryParameter(std::string_view target, std::string_view name) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos)
        return "";
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t eq = pair.find('=');
        if (pair.substr(0, eq) == name)
            return eq == std::string_view::npos ? std::string() : std::string(pair.substr(eq + 1));
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return "";
}

} // namespace zelprog::gui
