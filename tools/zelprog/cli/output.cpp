#include "cli/output.h"

#include <cstdio>

namespace zelprog {

void PrintEvent(const Event &event) {
    // invalid UTF-8 in a text (a file name, say) is replaced, never thrown about
    const std::string line = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

void PrintError(const Output &output, const Status &status) {
    std::fprintf(stderr, "zelprog: error: %s\n", status.message.c_str());
    if (output.json)
        PrintEvent(ErrorEvent(status.message, status.code));
}

void PrintNote(const Output &output, const std::string &text) {
    if (!output.quiet && !output.json)
        std::fprintf(stderr, "zelprog: %s\n", text.c_str());
}

} // namespace zelprog
