#include "cli/arguments.h"

#include "formats/image.h"

namespace zelprog {
namespace {

bool HasHexPrefix(const std::string &text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

std::optional<uint64_t> Digits(const std::string &text, std::size_t from, unsigned base, uint64_t max) {
    if (from >= text.size())
        return std::nullopt;
    uint64_t value = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0 || static_cast<unsigned>(d) >= base || value > (max - static_cast<unsigned>(d)) / base)
            return std::nullopt;
        value = value * base + static_cast<unsigned>(d);
    }
    return value;
}

} // namespace

std::optional<uint64_t> ParseNumber(const std::string &text, uint64_t max) {
    return HasHexPrefix(text) ? Digits(text, 2, 16, max) : Digits(text, 0, 10, max);
}

std::optional<Bytes> ParseHexBytes(const std::vector<std::string> &words) {
    Bytes bytes;
    for (const std::string &word : words) {
        const std::optional<uint64_t> value = Digits(word, HasHexPrefix(word) ? 2 : 0, 16, 0xFF);
        if (!value || word.size() > (HasHexPrefix(word) ? 4u : 2u))
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(*value));
    }
    return bytes;
}

} // namespace zelprog
