#include "json.h"

#include <cmath>
#include <cstdio>

namespace zelprog {

std::string JsonQuote(std::string_view text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

JsonLine::JsonLine(std::string_view event) : text_("{\"event\":" + JsonQuote(event)) {}

JsonLine &JsonLine::Add(std::string_view key, std::string_view value)
{
    text_ += "," + JsonQuote(key) + ":" + JsonQuote(value);
    return *this;
}

JsonLine &JsonLine::Add(std::string_view key, int64_t value)
{
    text_ += "," + JsonQuote(key) + ":" + std::to_string(value);
    return *this;
}

JsonLine &JsonLine::Add(std::string_view key, double value)
{
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", std::isfinite(value) ? value : 0.0);
    text_ += "," + JsonQuote(key) + ":" + number;
    return *this;
}

JsonLine &JsonLine::Add(std::string_view key, bool value)
{
    text_ += "," + JsonQuote(key) + ":" + (value ? "true" : "false");
    return *this;
}

void JsonLine::Print() const
{
    const std::string line = Text() + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

} // namespace zelprog
