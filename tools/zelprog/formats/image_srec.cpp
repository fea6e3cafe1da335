#include "formats/image.h"

#include "formats/line_reader.h"

#include <algorithm>
#include <cstdio>

namespace zelprog {
namespace {

constexpr std::size_t kBytesPerRecord = 16;

struct Record {
    char type = 0;
    uint32_t address = 0;
    Bytes data;
};

std::string LineError(std::size_t line, const std::string &what) {
    return "line " + std::to_string(line) + ": " + what;
}

// Address bytes of each record type; 0 for a type that does not exist.
int AddressBytesOf(char type) {
    switch (type) {
    case '0':
    case '1':
    case '5':
    case '9':
        return 2;
    case '2':
    case '6':
    case '8':
        return 3;
    case '3':
    case '7':
        return 4;
    default:
        return 0;
    }
}

// "S" type count(1) address(2..4) data checksum(1), in hex pairs; the
// checksum is the complement of the low byte of the sum of the others.
bool DecodeRecord(std::string_view line, Record &record, std::string &what) {
    if (line.size() < 2 || line[0] != 'S' || AddressBytesOf(line[1]) == 0) {
        what = "a record begins with S0..S3 or S5..S9";
        return false;
    }
    record.type = line[1];
    const std::string_view hex = line.substr(2);
    Bytes raw;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) {
            what = "'" + std::string(hex.substr(i, 2)) + "' is not a hexadecimal byte";
            return false;
        }
        raw.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    const auto addressBytes = static_cast<std::size_t>(AddressBytesOf(record.type));
    if (hex.size() % 2 != 0 || raw.empty() || raw.size() != std::size_t{raw[0]} + 1 || raw[0] < addressBytes + 1) {
        what = "the byte count does not match the record's length";
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < raw.size(); ++i)
        sum += raw[i];
    const auto expected = static_cast<uint8_t>(~sum);
    if (raw.back() != expected) {
        what = "checksum is 0x" + ToHex(raw.back()) + ", the record's bytes give 0x" + ToHex(expected);
        return false;
    }
    record.address = 0;
    for (std::size_t i = 0; i < addressBytes; ++i)
        record.address = record.address << 8 | raw[1 + i];
    record.data.assign(raw.begin() + 1 + static_cast<std::ptrdiff_t>(addressBytes), raw.end() - 1);
    return true;
}

bool StoreData(const Record &record, Bytes &image, std::vector<bool> *named, std::string &what) {
    for (std::size_t i = 0; i < record.data.size(); ++i) {
        const uint64_t address = uint64_t{record.address} + i;
        if (address >= image.size()) {
            what = "data at address 0x" + ToHex(address) + " lies beyond the end of the " +
                   std::to_string(image.size()) + "-byte EEPROM";
            return false;
        }
        image[address] = record.data[i];
        if (named != nullptr)
            (*named)[address] = true;
    }
    return true;
}

void AppendRecord(std::string &out, char type, uint32_t address, std::span<const uint8_t> data) {
    const int addressBytes = AddressBytesOf(type);
    Bytes raw = {static_cast<uint8_t>(addressBytes + data.size() + 1)};
    for (int i = addressBytes - 1; i >= 0; --i)
        raw.push_back(static_cast<uint8_t>(address >> (8 * i)));
    raw.insert(raw.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : raw)
        sum += b;
    raw.push_back(static_cast<uint8_t>(~sum));
    out += 'S';
    out += type;
    char pair[4];
    for (uint8_t b : raw) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        out += pair;
    }
    out += '\n';
}

} // namespace

bool ParseSRecord(std::string_view text, std::size_t deviceSize, Bytes &bytes, std::string &error,
                  std::vector<bool> *named) {
    Bytes image(deviceSize, kErasedByte);
    std::vector<bool> cells(named != nullptr ? deviceSize : 0, false);
    LineReader reader(text);
    std::string_view line;
    while (reader.Next(line)) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (line.empty())
            continue;
        Record record;
        std::string what;
        const bool data = line.size() > 1 && line[1] >= '1' && line[1] <= '3';
        if (!DecodeRecord(line, record, what) ||
            (data && !StoreData(record, image, named != nullptr ? &cells : nullptr, what))) {
            error = LineError(reader.Number(), what);
            return false;
        }
        if (record.type >= '7') {
            bytes = std::move(image);
            if (named != nullptr)
                *named = std::move(cells);
            return true;
        }
    }
    error = "no termination record (S7, S8 or S9): the file is cut short";
    return false;
}

std::string EmitSRecord(std::span<const uint8_t> bytes, uint32_t address) {
    const uint64_t end = uint64_t{address} + bytes.size();
    const char data = end <= 0x10000 ? '1' : end <= 0x1000000 ? '2' : '3';
    std::string out;
    AppendRecord(out, '0', 0, {});
    for (std::size_t at = 0; at < bytes.size(); at += kBytesPerRecord)
        AppendRecord(out, data, address + static_cast<uint32_t>(at),
                     bytes.subspan(at, std::min(kBytesPerRecord, bytes.size() - at)));
    AppendRecord(out, static_cast<char>('9' - (data - '1')), 0, {});
    return out;
}

} // namespace zelprog
