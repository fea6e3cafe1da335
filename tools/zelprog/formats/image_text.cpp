#include "formats/image.h"

#include "formats/line_reader.h"

#include <cstdio>

namespace zelprog {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view SkipBlanks(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

// One hexadecimal token at the start of `s` (after blanks); consumes it.
// Values above `limit` are refused rather than cut.
bool TakeHex(std::string_view &s, uint32_t limit, uint32_t &value)
{
    s = SkipBlanks(s);
    std::size_t n = 0;
    uint64_t v = 0;
    for (; n < s.size() && !IsBlank(s[n]); ++n) {
        const int d = HexDigit(s[n]);
        if (d < 0)
            return false;
        v = v * 16 + static_cast<uint64_t>(d);
        if (v > limit)
            return false;
    }
    if (n == 0)
        return false;
    value = static_cast<uint32_t>(v);
    s.remove_prefix(n);
    return true;
}

std::string LineError(std::size_t line, const std::string &what)
{
    return "line " + std::to_string(line) + ": " + what;
}

} // namespace

bool ParseTextImage(std::string_view text, std::size_t deviceSize, Bytes &bytes, std::string &error,
                    std::vector<bool> *named)
{
    Bytes image(deviceSize, kErasedByte);
    std::vector<bool> cells(named != nullptr ? deviceSize : 0, false);
    const std::size_t words = deviceSize / 2;
    std::size_t records = 0;
    LineReader reader(text);
    std::string_view line;
    while (reader.Next(line)) {
        if (line.empty() || line.front() != '@')
            continue;
        std::string_view rest = line.substr(1);
        uint32_t index = 0, value = 0;
        if (!TakeHex(rest, UINT32_MAX, index)) {
            error = LineError(reader.Number(), "the word index after '@' is not a hexadecimal number");
            return false;
        }
        if (!TakeHex(rest, 0xFFFF, value) || !SkipBlanks(rest).empty()) {
            error = LineError(reader.Number(), "expected \"@index  value\" with a value of at most four hexadecimal digits");
            return false;
        }
        if (index >= words) {
            error = LineError(reader.Number(), "word 0x" + ToHex(index) + " lies beyond the end of the " +
                                                   std::to_string(deviceSize) + "-byte EEPROM");
            return false;
        }
        image[2 * index] = static_cast<uint8_t>(value & 0xFF);
        image[2 * index + 1] = static_cast<uint8_t>(value >> 8);
        if (named != nullptr)
            cells[2 * index] = cells[2 * index + 1] = true;
        ++records;
    }
    if (records == 0) {
        error = "holds no image records (lines of the form \"@0000  ffff\")";
        return false;
    }
    bytes = std::move(image);
    if (named != nullptr)
        *named = std::move(cells);
    return true;
}

std::string EmitTextImage(std::span<const uint8_t> bytes, std::size_t firstWord)
{
    std::string out;
    out.reserve(bytes.size() / 2 * 12);
    char line[32];
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned word = bytes[i] | (bytes[i + 1] << 8);
        const int n = std::snprintf(line, sizeof line, "@%04zx  %04x\n", firstWord + i / 2, word);
        out.append(line, static_cast<std::size_t>(n));
    }
    return out;
}

} // namespace zelprog
