#include "output.h"

#include "json.h"

#include <cstdio>

namespace zelprog {

void PrintError(const Output &output, const Status &status)
{
    std::fprintf(stderr, "zelprog: error: %s\n", status.message.c_str());
    if (output.json)
        JsonLine("error").Add("message", status.message).Add("exitCode", status.code).Print();
}

void PrintNote(const Output &output, const std::string &text)
{
    if (!output.quiet && !output.json)
        std::fprintf(stderr, "zelprog: %s\n", text.c_str());
}

} // namespace zelprog
