#include "core/detect.h"

#include "core/parts.h"

#include <zelapi.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <set>

namespace zelprog {
namespace {

constexpr unsigned kFirstDevice = 0xA0;
constexpr int kDevices = 8;                // 0xa0, 0xa2, ... 0xae
constexpr int kSampleBytes = 32;           // bytes compared to tell two addresses apart
constexpr std::size_t kTellingValues = 8;  // distinct values in a sample before equal samples mean the same cells
constexpr uint32_t kSmallestWindow = 0x80; // the smallest part holds 128 bytes

using Sample = std::array<uint8_t, kSampleBytes>;

unsigned DeviceAt(int n) { return kFirstDevice + 2u * static_cast<unsigned>(n); }

// A random read at `address`, sent in one or two address bytes.
std::optional<Sample> ReadAt(unsigned device, uint32_t address, int addressBytes) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(addressBytes == 2 ? address >> 8 : address),
                              static_cast<uint8_t>(address)};
    Sample sample{};
    if (zelReadAtDevice(static_cast<int>(device), bytes, addressBytes, sample.data(), kSampleBytes) == 0)
        return std::nullopt;
    return sample;
}

bool Telling(const Sample &s) { return std::set<uint8_t>(s.begin(), s.end()).size() >= kTellingValues; }

// `next`, read one address after `first`, holds the same bytes one along.
bool OneAlong(const Sample &first, const Sample &next) {
    return std::equal(first.begin() + 1, first.end(), next.begin());
}

// A read at 1 is the read at 0 one byte along only with the part's own
// count of address bytes: a part with one takes a second as a data byte
// (dropped at the repeated start) and starts both reads at the same cell; a
// part with two takes a single byte as half an address and reads on from
// where it was. A part with one address byte that refuses data bytes under
// write-protect refuses the second. 0: the bytes at 0 are too plain to tell.
std::optional<int> FindAddressBytes(unsigned device) {
    bool read = false;
    for (int bytes : {2, 1}) {
        const auto at0 = ReadAt(device, 0, bytes), at1 = ReadAt(device, 1, bytes);
        if (!at0 || !at1)
            continue;
        read = true;
        if (Telling(*at0) && OneAlong(*at0, *at1))
            return bytes;
    }
    return read ? std::optional<int>(0) : std::nullopt;
}

// What one answering device address shows.
struct Seen {
    int device;          // 0..7
    Sample base;         // the bytes at its address 0
    uint32_t window = 0; // the bytes it reaches before a read returns its address 0; 0: unknown
    bool Telling() const { return window != 0; }
};

// The first power of two whose read returns what address 0 holds: the
// address bits above it are not decoded.
std::optional<uint32_t> Window(unsigned device, int addressBytes, const Sample &base) {
    const uint32_t space = addressBytes == 2 ? 0x10000u : 0x100u;
    for (uint32_t window = kSmallestWindow; window < space; window <<= 1) {
        const auto sample = ReadAt(device, window, addressBytes);
        if (!sample)
            return std::nullopt;
        if (*sample == base)
            return window;
    }
    return space;
}

bool See(const std::vector<int> &devices, int addressBytes, std::vector<Seen> &seen) {
    for (int n : devices) {
        const auto base = ReadAt(DeviceAt(n), 0, addressBytes);
        if (!base)
            return false;
        Seen s{n, *base};
        if (Telling(*base)) {
            const auto window = Window(DeviceAt(n), addressBytes, *base);
            if (!window)
                return false;
            s.window = *window;
        }
        seen.push_back(s);
    }
    return true;
}

std::vector<int> Answering(int pinMask, unsigned pins) {
    std::vector<int> devices;
    const unsigned chip = (pins << 1) & static_cast<unsigned>(pinMask);
    for (int n = 0; n < kDevices; ++n)
        if ((DeviceAt(n) & static_cast<unsigned>(pinMask)) == chip)
            devices.push_back(n);
    return devices;
}

// Whether part `p`, with these counted pins, reads like `seen`: the
// same window at each address, and two addresses show the same bytes at 0
// exactly when they select the same block. A plain sample says nothing.
bool ReadsLike(const PartGeometry &p, const std::vector<Seen> &seen) {
    const unsigned blockMask = static_cast<unsigned>(p.blockBits) << 1;
    const int unfolded = p.sizeBits - std::popcount(blockMask);
    const uint32_t window = 1u << std::min(unfolded, 8 * p.addressBytes);
    for (const Seen &a : seen) {
        if (a.Telling() && a.window != window)
            return false;
        for (const Seen &b : seen) {
            const bool oneBlock = (DeviceAt(a.device) & blockMask) == (DeviceAt(b.device) & blockMask);
            const bool same = a.base == b.base;
            if ((same && a.Telling() && !oneBlock) || (!same && oneBlock))
                return false;
        }
    }
    return true;
}

bool Matches(const PartGeometry &p, const std::vector<int> &answering, int addressBytes,
             const std::vector<Seen> &seen) {
    if (addressBytes != 0 && p.addressBytes != addressBytes)
        return false;
    for (int pinMask : p.pinMasks)
        for (unsigned pins = 0; pins < 8; ++pins)
            if (Answering(pinMask, pins) == answering)
                return ReadsLike(p, seen);
    return false;
}

// The size when every answering address told its window: one window per block.
std::size_t Bytes(const std::vector<Seen> &seen) {
    std::set<Sample> blocks;
    for (const Seen &s : seen) {
        if (!s.Telling())
            return 0;
        blocks.insert(s.base);
    }
    return std::size_t{seen.front().window} * blocks.size();
}

std::string Names(const std::vector<std::string> &names) {
    std::string text;
    for (const std::string &name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string Note(const Detection &d) {
    if (d.candidates.empty())
        return "no part of the table reads like this (several EEPROMs on the bus?)";
    if (d.bytes == 0)
        return "the EEPROM reads too plainly (erased or uniform) for reads to tell its size or these parts "
               "apart: 'zelprog --part PART check-size' (which writes and restores the last byte) makes sure";
    if (!d.sure)
        return "reads cannot tell these parts apart: " + Names(d.candidates) +
               " (they differ in what reads do not show: the page, the write cycle or factory IDs)";
    return "";
}

} // namespace

bool Detect(Detection &d) {
    std::vector<int> answering;
    for (int n = 0; n < kDevices; ++n)
        if (zelProbeDevice(static_cast<int>(DeviceAt(n))) != 0) {
            answering.push_back(n);
            d.answering.push_back(DeviceAt(n));
        }
    if (answering.empty()) {
        d.note = "no device address answers";
        return true;
    }
    const auto addressBytes = FindAddressBytes(DeviceAt(answering.front()));
    if (!addressBytes)
        return false;
    d.addressBytes = *addressBytes;
    std::vector<Seen> seen;
    if (d.addressBytes != 0 && !See(answering, d.addressBytes, seen))
        return false;
    for (const PartGeometry &p : KnownParts())
        if (Matches(p, answering, d.addressBytes, seen))
            d.candidates.push_back(p.name);
    d.bytes = seen.empty() ? 0 : Bytes(seen);
    d.sure = d.bytes != 0 && d.candidates.size() == 1;
    d.note = Note(d);
    return true;
}

} // namespace zelprog
