#include "jobs/text_image.h"

#include <algorithm>
#include <cstdio>

namespace zel {
namespace {

// White space as the C locale has it, whatever locale the host set.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view SkipBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

// One token: the characters up to the next blank or the end of the line.
struct Token {
    uint32_t low = 0;  // the value of its last eight digits
    uint64_t wide = 0; // its value, or anything above 0xffffffff once it is that large
    size_t digits = 0;
    bool clean = true; // no character but digits before its end
};

// Takes the token at the start of `s` (after blanks) off it; a character
// that is neither a digit nor a blank ends it unclean, left in `s`.
Token TakeToken(std::string_view &s) {
    s = SkipBlanks(s);
    Token token;
    for (; !s.empty() && !IsBlank(s.front()); s.remove_prefix(1)) {
        const int digit = HexDigit(s.front());
        if (digit < 0) {
            token.clean = false;
            return token;
        }
        token.low = token.low * 16u + static_cast<uint32_t>(digit);
        if (token.wide <= UINT32_MAX)
            token.wide = token.wide * 16u + static_cast<uint64_t>(digit);
        ++token.digits;
    }
    return token;
}

bool IsNumber(const Token &token, uint32_t limit) {
    return token.clean && token.digits > 0 && token.wide <= limit;
}

struct Record {
    uint32_t index = 0;
    uint16_t value = 0;
};

// Reads the record after the '@' of a line.
TextFault ReadRecord(std::string_view rest, TextMode mode, Record *record) {
    const Token index = TakeToken(rest);
    const Token value = TakeToken(rest);
    if (mode == TextMode::kLenient) {
        if (!index.clean)
            return TextFault::kIndex;
        *record = {index.low, static_cast<uint16_t>(value.low)};
        return TextFault::kNone;
    }
    if (!IsNumber(index, UINT32_MAX))
        return TextFault::kIndex;
    if (!IsNumber(value, 0xFFFF) || !SkipBlanks(rest).empty())
        return TextFault::kValue;
    *record = {index.low, static_cast<uint16_t>(value.low)};
    return TextFault::kNone;
}

// Takes the next line off `text`, as the mode reads lines.
std::string_view TakeLine(std::string_view &text, TextMode mode) {
    const size_t end = text.find('\n');
    std::string_view line;
    if (mode == TextMode::kStrict) {
        line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        return line;
    }
    line = text.substr(0, end == std::string_view::npos ? kLenientLine : std::min(end + 1, kLenientLine));
    text.remove_prefix(line.size());
    return line.substr(0, line.find('\0'));
}

} // namespace

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

TextRead ReadTextImage(std::string_view text, TextMode mode, uint16_t *words, uint32_t count,
                       std::vector<bool> *named) {
    TextRead read;
    size_t records = 0;
    while (!text.empty()) {
        const std::string_view line = TakeLine(text, mode);
        ++read.line;
        if (line.empty() || line.front() != '@')
            continue;
        Record record;
        read.fault = ReadRecord(line.substr(1), mode, &record);
        if (read.fault != TextFault::kNone)
            return read;
        if (record.index >= count) {
            read.index = record.index;
            read.fault = TextFault::kBeyond;
            return read;
        }
        words[record.index] = record.value;
        if (named)
            (*named)[record.index] = true;
        ++records;
    }
    if (mode == TextMode::kStrict && records == 0)
        return {TextFault::kNoRecords, 0, 0};
    return {};
}

size_t WriteTextRecord(char *out, uint32_t index, uint16_t value) {
    const int length = std::snprintf(out, kLongestTextRecord, "@%04x  %04x\n", static_cast<unsigned>(index),
                                     static_cast<unsigned>(value));
    return static_cast<size_t>(length);
}

} // namespace zel
