#include "gui/guard.h"

#include "core/os.h"

#include <array>
#include <cstdio>

namespace zelprog::gui {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::string NewToken() {
    std::array<unsigned char, 16> bits{};
    if (!os::RandomBytes(bits.data(), bits.size()))
        return "";
    std::string token;
    for (unsigned char b : bits) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", b);
        token += digits;
    }
    return token;
}

bool SameSecret(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

Guard::Guard(std::string token, unsigned short port)
    : token_(std::move(token)), port_(port), cookieName_("zelprog-" + std::to_string(port)) {}

std::string Guard::Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/?token=" + token_; }

bool Guard::HostAllowed(std::string_view host) const {
    const std::string port = ":" + std::to_string(port_);
    return host == "127.0.0.1" + port || host == "localhost" + port;
}

bool Guard::OriginAllowed(std::string_view origin) const {
    return origin == "http://127.0.0.1:" + std::to_string(port_) ||
           origin == "http://localhost:" + std::to_string(port_);
}

bool Guard::CookieHoldsToken(std::string_view cookies) const {
    while (!cookies.empty()) {
        const std::size_t semicolon = cookies.find(';');
        const std::string_view pair = Trim(cookies.substr(0, semicolon));
        const std::size_t eq = pair.find('=');
        if (eq != std::string_view::npos && pair.substr(0, eq) == cookieName_ &&
            SameSecret(pair.substr(eq + 1), token_))
            return true;
        if (semicolon == std::string_view::npos)
            break;
        cookies.remove_prefix(semicolon + 1);
    }
    return false;
}

bool Guard::IsEntry(const Request &request) const {
    const std::string_view target = request.target();
    return request.method() == http::verb::get && TargetPath(target) == "/" &&
           SameSecret(QueryParameter(target, "token"), token_);
}

std::string Guard::SetCookieValue() const {
    return cookieName_ + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict";
}

std::optional<Refusal> Guard::Check(const Request &request) const {
    if (request.count(http::field::host) != 1 || !HostAllowed(request[http::field::host]))
        return Refusal{http::status::forbidden,
                       "refused: the Host header must be 127.0.0.1:" + std::to_string(port_) +
                           " or localhost:" + std::to_string(port_)};
    if (request.count(http::field::origin) > 1 ||
        (request.count(http::field::origin) == 1 && !OriginAllowed(request[http::field::origin])))
        return Refusal{http::status::forbidden, "refused: requests from another site are not served"};
    if (IsEntry(request))
        return std::nullopt;
    const auto cookies = request.equal_range(http::field::cookie);
    for (auto it = cookies.first; it != cookies.second; ++it)
        if (CookieHoldsToken(it->value()))
            return std::nullopt;
    return Refusal{http::status::forbidden,
                   "refused: open the address that 'zelprog gui' printed (it carries this run's token)"};
}

} // namespace zelprog::gui
