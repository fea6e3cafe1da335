// One JSON object per line on standard output, for scripts and GUIs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelprog {

std::string JsonQuote(std::string_view text);

// Builds {"event":"...", ...} field by field.
class JsonLine {
public:
    explicit JsonLine(std::string_view event);
    JsonLine &Add(std::string_view key, std::string_view value);
    JsonLine &Add(std::string_view key, const char *value) { return Add(key, std::string_view(value)); }
    JsonLine &Add(std::string_view key, int64_t value);
    JsonLine &Add(std::string_view key, int value) { return Add(key, static_cast<int64_t>(value)); }
    JsonLine &Add(std::string_view key, double value);
    JsonLine &Add(std::string_view key, bool value);
    std::string Text() const { return text_ + "}"; }
    void Print() const; // to standard output, flushed

private:
    std::string text_;
};

} // namespace zelprog
