#include "formats/image_format.h"

#include <algorithm>
#include <cctype>

namespace zelprog {
namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool EndsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

} // namespace

std::optional<ImageFormat> ParseFormatName(std::string_view name) {
    const std::string n = Lower(name);
    if (n == "text")
        return ImageFormat::Text;
    if (n == "bin")
        return ImageFormat::Binary;
    if (n == "ihex")
        return ImageFormat::IntelHex;
    if (n == "srec")
        return ImageFormat::SRecord;
    return std::nullopt;
}

ImageFormat FormatFromPath(std::string_view path) {
    const std::string p = Lower(path);
    if (EndsWith(p, ".bin"))
        return ImageFormat::Binary;
    if (EndsWith(p, ".hex") || EndsWith(p, ".ihex"))
        return ImageFormat::IntelHex;
    for (const char *tail : {".srec", ".s19", ".s28", ".s37"})
        if (EndsWith(p, tail))
            return ImageFormat::SRecord;
    return ImageFormat::Text;
}

const char *FormatName(ImageFormat format) {
    switch (format) {
    case ImageFormat::Binary:
        return "bin";
    case ImageFormat::IntelHex:
        return "ihex";
    case ImageFormat::SRecord:
        return "srec";
    case ImageFormat::Text:
        break;
    }
    return "text";
}

bool DecodeImage(ImageFormat format, std::string_view data, std::size_t deviceSize, bool pad, Bytes &bytes,
                 std::string &error) {
    switch (format) {
    case ImageFormat::Binary:
        return FitBinary(data, deviceSize, pad, bytes, error);
    case ImageFormat::IntelHex:
        return ParseIntelHex(data, deviceSize, bytes, error);
    case ImageFormat::SRecord:
        return ParseSRecord(data, deviceSize, bytes, error);
    case ImageFormat::Text:
        break;
    }
    return ParseTextImage(data, deviceSize, bytes, error);
}

std::string EncodeImage(ImageFormat format, std::span<const uint8_t> bytes) {
    switch (format) {
    case ImageFormat::Binary:
        return std::string(bytes.begin(), bytes.end());
    case ImageFormat::IntelHex:
        return EmitIntelHex(bytes);
    case ImageFormat::SRecord:
        return EmitSRecord(bytes);
    case ImageFormat::Text:
        break;
    }
    return EmitTextImage(bytes);
}

bool CarriesAddresses(ImageFormat format) { return format != ImageFormat::Binary; }

bool DecodeRuns(ImageFormat format, std::string_view data, std::size_t deviceSize, Runs &runs,
                std::string &error) {
    Bytes image;
    std::vector<bool> named;
    bool ok = false;
    switch (format) {
    case ImageFormat::IntelHex:
        ok = ParseIntelHex(data, deviceSize, image, error, &named);
        break;
    case ImageFormat::SRecord:
        ok = ParseSRecord(data, deviceSize, image, error, &named);
        break;
    case ImageFormat::Text:
        ok = ParseTextImage(data, deviceSize, image, error, &named);
        break;
    case ImageFormat::Binary:
        error = "a binary image carries no addresses";
        return false;
    }
    if (!ok)
        return false;
    runs = RunsOf(image, named);
    if (runs.empty()) {
        error = "names no byte of the EEPROM";
        return false;
    }
    return true;
}

bool EncodeRange(ImageFormat format, uint32_t address, std::span<const uint8_t> bytes, std::string &out) {
    switch (format) {
    case ImageFormat::Binary:
        out.assign(bytes.begin(), bytes.end());
        return true;
    case ImageFormat::IntelHex:
        out = EmitIntelHex(bytes, address);
        return true;
    case ImageFormat::SRecord:
        out = EmitSRecord(bytes, address);
        return true;
    case ImageFormat::Text:
        break;
    }
    if (address % 2 != 0 || bytes.size() % 2 != 0)
        return false;
    out = EmitTextImage(bytes, address / 2);
    return true;
}

} // namespace zelprog
