#include "numbers.h"

#include <charconv>
#include <limits>

namespace hoplink::sim {

bool ParseNumber(std::string_view text, uint64_t max, uint64_t &value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty())
        return false;
    uint64_t parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed, base);
    if (ec != std::errc() || end != text.data() + text.size() || parsed > max)
        return false;
    value = parsed;
    return true;
}

bool ParseDecimalInt(std::string_view text, int &value) {
    if (text.empty() || text[0] == '+')
        return false;
    int parsed = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    value = parsed;
    return true;
}

std::string Quoted(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    std::string quoted(1, '\'');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            quoted.push_back(c);
        } else {
            quoted += "\\x";
            quoted.push_back(hex[byte >> 4]);
            quoted.push_back(hex[byte & 0xF]);
        }
    }
    quoted.push_back('\'');
    return quoted;
}

} // namespace hoplink::sim
