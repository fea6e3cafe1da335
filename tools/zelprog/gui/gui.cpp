#include "gui/gui.h"

#include "core/os.h"
#include "gui/api.h"
#include "gui/device.h"
#include "gui/events.h"
#include "gui/guard.h"
#include "gui/server.h"

#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace zelprog::gui {
namespace {

constexpr std::chrono::milliseconds kQuitPoll{100};

std::string TokenOrThrow() {
    std::string token = NewToken();
    if (token.empty())
        throw std::runtime_error("the system's random source gave no token");
    return token;
}

// The browser is opened on a file of this user's alone that sends it on to
// the address: a command line (xdg-open's, the browser's) is there for any
// local user to read, so the token never stands on one. The file's path, or
// an empty one when no browser was started.
std::filesystem::path OpenBrowserOn(const std::string &url, unsigned short port) {
    std::filesystem::path dir;
    std::string error;
    if (os::RuntimeDirectory(dir, error)) {
        const std::filesystem::path file = dir / ("gui-" + std::to_string(port) + ".html");
        const std::string page =
            "<!DOCTYPE html>\n<meta charset=\"utf-8\">\n<meta http-equiv=\"refresh\" content=\"0; url=" + url +
            "\">\n<title>zelprog gui</title>\n<a href=\"" + url + "\">Open zelprog gui</a>\n";
        if (os::WritePrivateFile(file, page, error) && os::OpenBrowser(file))
            return file;
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
    }
    std::fprintf(stderr, "zelprog gui: could not start a browser%s%s: open the address above yourself\n",
                 error.empty() ? "" : ": ", error.c_str());
    return {};
}

} // namespace

// Declared in the order they must be built; torn down in reverse: the job
// thread (in the device) ends before the hub and the loop it posts to.
struct App::Parts {
    explicit Parts(const GuiOptions &options)
        : hub(io), device(io, hub), production(options.production, hub),
          server(io, static_cast<unsigned short>(options.port), options.limits),
          guard(TokenOrThrow(), server.Port()), api(guard, device, production, hub, options.link), timer(io) {}

    // Ctrl-C or Quit stops a running job; once it has ended the loop ends.
    void Watch() {
        timer.expires_after(kQuitPoll);
        timer.async_wait([this](boost::system::error_code) {
            if ((os::Interrupted() || quit.load()) && !stopping) {
                stopping = true;
                device.Stop();
                production.Stop();
                server.Stop();
            }
            if (stopping && !device.Busy() && !production.Running()) {
                hub.CloseAll();
                io.stop();
                return;
            }
            Watch();
        });
    }

    boost::asio::io_context io;
    EventHub hub;
    Device device;
    Production production; // its gang's events go to the hub
    Server server;
    Guard guard;
    Api api;
    boost::asio::steady_timer timer;
    std::atomic<bool> quit{false};
    bool stopping = false; // server thread only
};

App::App(const GuiOptions &options) : parts_(std::make_unique<Parts>(options)) {}

App::~App() = default;

unsigned short App::Port() const { return parts_->server.Port(); }

const std::string &App::Token() const { return parts_->guard.Token(); }

std::string App::Url() const { return parts_->guard.Url(); }

void App::Run() {
    parts_->server.Start(parts_->api);
    parts_->Watch();
    parts_->io.run();
}

void App::Quit() { parts_->quit = true; }

Status RunGui(const GuiOptions &options) {
    if (options.port < 0 || options.port > 65535)
        return Status::Fail(kExitUsage, "--port takes 0 (a free port) to 65535");
    std::unique_ptr<App> app;
    try {
        app = std::make_unique<App>(options);
    } catch (const boost::system::system_error &e) {
        return Status::Fail(kExitUsage, "cannot listen on 127.0.0.1:" + std::to_string(options.port) + ": " +
                                            e.code().message());
    } catch (const std::runtime_error &e) {
        return Status::Fail(kExitFile, e.what());
    }
    os::InstallInterruptHandler();
    std::printf("%s\n", app->Url().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "zelprog gui: serving on 127.0.0.1:%u; open the address above (Ctrl-C ends)\n",
                 static_cast<unsigned>(app->Port()));
    std::filesystem::path opener;
    if (options.openBrowser)
        opener = OpenBrowserOn(app->Url(), app->Port());
    app->Run();
    std::error_code ignored;
    if (!opener.empty())
        std::filesystem::remove(opener, ignored); // its token is dead now
    std::fprintf(stderr, "zelprog gui: ended\n");
    return {};
}

} // namespace zelprog::gui
