#include "formats/image.h"

#include "formats/line_reader.h"

#include <algorithm>
#include <cstdio>

namespace zelprog {
namespace {

enum RecordType : uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kSegmentAddress = 0x02,
    kStartSegment = 0x03,
    kLinearAddress = 0x04,
    kStartLinear = 0x05,
};

constexpr std::size_t kBytesPerRecord = 16;

struct Record {
    uint8_t type = 0;
    uint16_t offset = 0;
    Bytes data;
};

std::string LineError(std::size_t line, const std::string &what) {
    return "line " + std::to_string(line) + ": " + what;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// ":" count(1) offset(2) type(1) data(count) checksum(1), all in hex pairs;
// the sum of every byte after ':' is 0 modulo 256.
bool DecodeRecord(std::string_view line, Record &record, std::string &what) {
    if (line.front() != ':') {
        what = "a record must begin with ':'";
        return false;
    }
    line.remove_prefix(1);
    if (line.size() % 2 != 0 || line.size() < 10) {
        what = "a record holds an even number of hexadecimal digits, at least 10";
        return false;
    }
    Bytes raw;
    for (std::size_t i = 0; i < line.size(); i += 2) {
        const int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
        if (hi < 0 || lo < 0) {
            char text[48];
            std::snprintf(text, sizeof text, "'%c%c' is not a hexadecimal byte", line[i], line[i + 1]);
            what = text;
            return false;
        }
        raw.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    if (raw.size() != std::size_t{raw[0]} + 5) {
        what = "the byte count says " + std::to_string(raw[0]) + " data bytes but the record holds " +
               std::to_string(raw.size() >= 5 ? raw.size() - 5 : 0);
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < raw.size(); ++i)
        sum += raw[i];
    const uint8_t expected = static_cast<uint8_t>(-sum);
    if (raw.back() != expected) {
        what = "checksum is 0x" + ToHex(raw.back()) + ", the record's bytes give 0x" + ToHex(expected);
        return false;
    }
    record.offset = static_cast<uint16_t>(raw[1] << 8 | raw[2]);
    record.type = raw[3];
    record.data.assign(raw.begin() + 4, raw.end() - 1);
    return true;
}

// Upper address bits set by type 02 and 04 records.
struct AddressBase {
    uint32_t base = 0;
    bool segmented = false; // type 02: the 16-bit offset wraps inside the segment
};

bool ApplyAddressRecord(const Record &record, AddressBase &base, std::string &what) {
    if (record.data.size() != 2) {
        what = "an address record carries exactly 2 data bytes";
        return false;
    }
    const uint32_t value = static_cast<uint32_t>(record.data[0] << 8 | record.data[1]);
    base.segmented = record.type == kSegmentAddress;
    base.base = base.segmented ? value << 4 : value << 16;
    return true;
}

// The image being read and, when asked for, which of its cells the records name.
struct Target {
    Bytes image;
    std::vector<bool> *named;
};

bool StoreData(const Record &record, const AddressBase &base, Target &target, std::string &what) {
    Bytes &image = target.image;
    for (std::size_t i = 0; i < record.data.size(); ++i) {
        const uint32_t offset = record.offset + static_cast<uint32_t>(i);
        const uint64_t address = uint64_t{base.base} + (base.segmented ? offset & 0xFFFF : offset);
        if (address >= image.size()) {
            what = "data at address 0x" + ToHex(address) + " lies beyond the end of the " +
                   std::to_string(image.size()) + "-byte EEPROM";
            return false;
        }
        image[address] = record.data[i];
        if (target.named != nullptr)
            (*target.named)[address] = true;
    }
    return true;
}

bool ApplyRecord(const Record &record, AddressBase &base, Target &target, std::string &what) {
    switch (record.type) {
    case kData:
        return StoreData(record, base, target, what);
    case kSegmentAddress:
    case kLinearAddress:
        return ApplyAddressRecord(record, base, what);
    case kStartSegment:
    case kStartLinear:
        return true;
    default:
        what = "record type 0x" + ToHex(record.type) + " is not one of 00, 01, 02, 03, 04, 05";
        return false;
    }
}

void AppendRecord(std::string &out, uint8_t type, uint16_t offset, std::span<const uint8_t> data) {
    char pair[4];
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
    std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(data.size()));
    out += ':';
    out += pair;
    std::snprintf(pair, sizeof pair, "%02X", offset >> 8);
    out += pair;
    std::snprintf(pair, sizeof pair, "%02X", offset & 0xFF);
    out += pair;
    std::snprintf(pair, sizeof pair, "%02X", type);
    out += pair;
    for (uint8_t b : data) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        out += pair;
        sum += b;
    }
    std::snprintf(pair, sizeof pair, "%02X", static_cast<uint8_t>(-sum));
    out += pair;
    out += '\n';
}

} // namespace

bool ParseIntelHex(std::string_view text, std::size_t deviceSize, Bytes &bytes, std::string &error,
                   std::vector<bool> *named) {
    std::vector<bool> cells(named != nullptr ? deviceSize : 0, false);
    Target target{Bytes(deviceSize, kErasedByte), named != nullptr ? &cells : nullptr};
    AddressBase base;
    LineReader reader(text);
    std::string_view line;
    while (reader.Next(line)) {
        line = TrimRight(line);
        if (line.empty())
            continue;
        Record record;
        std::string what;
        if (!DecodeRecord(line, record, what) ||
            (record.type != kEndOfFile && !ApplyRecord(record, base, target, what))) {
            error = LineError(reader.Number(), what);
            return false;
        }
        if (record.type == kEndOfFile) {
            bytes = std::move(target.image);
            if (named != nullptr)
                *named = std::move(cells);
            return true;
        }
    }
    error = "no end-of-file record (:00000001FF): the file is cut short";
    return false;
}

std::string EmitIntelHex(std::span<const uint8_t> bytes, uint32_t address) {
    std::string out;
    uint32_t upper = 0;
    for (std::size_t at = 0; at < bytes.size();) {
        const uint32_t cell = address + static_cast<uint32_t>(at);
        if (cell >> 16 != upper) {
            upper = cell >> 16;
            const uint8_t base[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
            AppendRecord(out, kLinearAddress, 0, base);
        }
        const std::size_t n =
            std::min({kBytesPerRecord, bytes.size() - at, std::size_t{0x10000 - (cell & 0xFFFF)}});
        AppendRecord(out, kData, static_cast<uint16_t>(cell & 0xFFFF), bytes.subspan(at, n));
        at += n;
    }
    AppendRecord(out, kEndOfFile, 0, {});
    return out;
}

} // namespace zelprog
