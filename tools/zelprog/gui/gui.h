// `zelprog gui`: serves the page on 127.0.0.1 until Ctrl-C.
#pragma once

#include "core/status.h"
#include "gui/production.h"
#include "gui/server.h"

#include <memory>
#include <string>

namespace zelprog::gui {

struct GuiOptions {
    int port = 0; // 0: a free port
    bool openBrowser = true;
    std::string link; // --link: a link the page may open as it stands (it may name files)
    ServerLimits limits;
    ProductionSetup production; // the sites and serial settings of the command line
};

// The server with everything behind it, bound to its port from the start.
class App {
public:
    // Throws boost::system::system_error when the port cannot be had, and
    // std::runtime_error when the system gives no random token.
    // `options.port` must be 0 to 65535.
    explicit App(const GuiOptions &options);
    ~App();

    unsigned short Port() const;
    const std::string &Token() const;
    std::string Url() const;

    // Serves until Ctrl-C or Quit; a running job is stopped first.
    void Run();
    void Quit(); // any thread

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

Status RunGui(const GuiOptions &options);

} // namespace zelprog::gui
