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
#include <stdexcept>

namespace zelprog::gui {
namespace {

constexpr std::chrono::milliseconds kQuitPoll{100};

std::string TokenOrThrow()
{
    std::string token = NewToken();
    if (token.empty())
        throw std::runtime_error("the system's random source gave no token");
    return token;
}

} // namespace

// Declared in the order they must be built; torn down in reverse: the job
// thread (in the device) ends before the hub and the loop it posts to.
struct App::Parts {
    explicit Parts(unsigned short port)
        : hub(io), device(io, hub), server(io, port), guard(TokenOrThrow(), server.Port()), api(guard, device, hub),
          timer(io)
    {
    }

    // Ctrl-C or Quit stops a running job; once it has ended the loop ends.
    void Watch()
    {
        timer.expires_after(kQuitPoll);
        timer.async_wait([this](boost::system::error_code) {
            if ((os::Interrupted() || quit.load()) && !stopping) {
                stopping = true;
                device.Stop();
                server.Stop();
            }
            if (stopping && !device.Busy()) {
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
    Server server;
    Guard guard;
    Api api;
    boost::asio::steady_timer timer;
    std::atomic<bool> quit{false};
    bool stopping = false; // server thread only
};

App::App(unsigned short port) : parts_(std::make_unique<Parts>(port)) {}

App::~App() = default;

unsigned short App::Port() const { return parts_->server.Port(); }

const std::string &App::Token() const { return parts_->guard.Token(); }

std::string App::Url() const { return parts_->guard.Url(); }

void App::Run()
{
    parts_->server.Start(parts_->api);
    parts_->Watch();
    parts_->io.run();
}

void App::Quit() { parts_->quit = true; }

Status RunGui(const GuiOptions &options)
{
    if (options.port < 0 || options.port > 65535)
        return Status::Fail(kExitUsage, "--port takes 0 (a free port) to 65535");
    std::unique_ptr<App> app;
    try {
        app = std::make_unique<App>(static_cast<unsigned short>(options.port));
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
    if (options.openBrowser && !os::OpenBrowser(app->Url()))
        std::fprintf(stderr, "zelprog gui: could not start a browser: open the address above yourself\n");
    app->Run();
    std::fprintf(stderr, "zelprog gui: ended\n");
    return {};
}

} // namespace zelprog::gui
