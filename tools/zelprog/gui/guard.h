// Who may talk to the GUI server: only a browser on this machine that was
// given the per-run token. The server listens on 127.0.0.1 alone; on top of
// that every request must name this server in its Host header (a page of
// another site that rebinds its name to 127.0.0.1 names its own host), must
// not come from another Origin, and must carry the token: once in the URL
// the server printed, from then on in a SameSite=Strict cookie.
#pragma once

#include "gui/http.h"

#include <optional>
#include <string>

namespace zelprog::gui {

struct Refusal {
    http::status status;
    std::string message;
};

class Guard {
public:
    Guard(std::string token, unsigned short port);

    // Nothing when the request may go on.
    std::optional<Refusal> Check(const Request &request) const;

    // GET /?token=TOKEN: the address the server prints. Its answer sets the
    // cookie and sends the browser on to "/", so the token leaves the URL.
    bool IsEntry(const Request &request) const;
    std::string SetCookieValue() const;

    const std::string &Token() const { return token_; }
    std::string Url() const; // http://127.0.0.1:PORT/?token=TOKEN

private:
    bool HostAllowed(std::string_view host) const;
    bool OriginAllowed(std::string_view origin) const;
    bool CookieHoldsToken(std::string_view cookies) const;

    std::string token_;
    unsigned short port_;
    std::string cookieName_; // cookies ignore ports, so the name carries it
};

// 128 random bits as 32 lowercase hex digits, from the system's random source.
std::string NewToken();

// Equal strings, in a time that does not depend on where they differ.
bool SameSecret(std::string_view a, std::string_view b);

} // namespace zelprog::gui
