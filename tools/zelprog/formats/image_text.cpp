#include "formats/image.h"

#include "formats/line_reader.h"
#include "jobs/text_image.h"

namespace zelprog {
namespace {

std::string Problem(const zel::TextRead &read, std::size_t deviceSize) {
    switch (read.fault) {
    case zel::TextFault::kIndex:
        return "the word index after '@' is not a hexadecimal number";
    case zel::TextFault::kValue:
        return "expected \"@index  value\" with a value of at most four hexadecimal digits";
    case zel::TextFault::kBeyond:
        return "word 0x" + ToHex(read.index) + " lies beyond the end of the " + std::to_string(deviceSize) +
               "-byte EEPROM";
    case zel::TextFault::kNoRecords:
    case zel::TextFault::kNone:
        break;
    }
    return "holds no image records (lines of the form \"@0000  ffff\")";
}

} // namespace

bool ParseTextImage(std::string_view text, std::size_t deviceSize, Bytes &bytes, std::string &error,
                    std::vector<bool> *named) {
    const std::size_t count = deviceSize / 2;
    std::vector<uint16_t> words(count, 0xFFFF);
    std::vector<bool> namedWords(count, false);
    const zel::TextRead read =
        zel::ReadTextImage(text, zel::TextMode::kStrict, words.data(), static_cast<uint32_t>(count), &namedWords);
    if (read.fault != zel::TextFault::kNone) {
        error = Problem(read, deviceSize);
        if (read.line != 0)
            error = "line " + std::to_string(read.line) + ": " + error;
        return false;
    }
    Bytes image(deviceSize, kErasedByte);
    std::vector<bool> cells(named != nullptr ? deviceSize : 0, false);
    for (std::size_t i = 0; i < count; ++i) {
        image[2 * i] = static_cast<uint8_t>(words[i] & 0xFF);
        image[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
        if (named != nullptr)
            cells[2 * i] = cells[2 * i + 1] = namedWords[i];
    }
    bytes = std::move(image);
    if (named != nullptr)
        *named = std::move(cells);
    return true;
}

std::string EmitTextImage(std::span<const uint8_t> bytes, std::size_t firstWord) {
    std::string out;
    out.reserve(bytes.size() / 2 * 12);
    char line[zel::kLongestTextRecord];
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto word = static_cast<uint16_t>(bytes[i] | (bytes[i + 1] << 8));
        out.append(line, zel::WriteTextRecord(line, static_cast<uint32_t>(firstWord + i / 2), word));
    }
    return out;
}

} // namespace zelprog
