#include "bitbang.h"

#include <gtest/gtest.h>

namespace hoplinktest {

using hoplink::sim::kRegInputLevel;
using hoplink::sim::kRegOutputEnable;
using hoplink::sim::kRegOutputLevel;

Master::Master(hoplink::sim::Target &target, int clock, int data, int writeProtect)
    : target_(target), clock_(clock), data_(data), writeProtect_(writeProtect) {}

void Master::WriteEnable() { EXPECT_EQ(target_.Write(kRegOutputEnable, enable_), 0); }
void Master::WriteLevel() { EXPECT_EQ(target_.Write(kRegOutputLevel, level_), 0); }

void Master::Release(int line) {
    enable_ = static_cast<uint16_t>(enable_ & ~(1u << line));
    WriteEnable();
}

void Master::PullLow(int line) {
    if (level_ & (1u << line)) {
        level_ = static_cast<uint16_t>(level_ & ~(1u << line));
        WriteLevel();
    }
    enable_ = static_cast<uint16_t>(enable_ | 1u << line);
    WriteEnable();
}

void Master::DriveHigh(int line) {
    level_ = static_cast<uint16_t>(level_ | 1u << line);
    WriteLevel();
    enable_ = static_cast<uint16_t>(enable_ | 1u << line);
    WriteEnable();
}

bool Master::Sample(int line) {
    uint16_t value = 0;
    EXPECT_EQ(target_.Read(kRegInputLevel, &value), 0);
    return (value >> line) & 1;
}

void Master::Start() {
    Release(data_);
    Release(clock_);
    PullLow(data_); // data falls while the clock is high
    PullLow(clock_);
}

void Master::Stop() {
    PullLow(data_);
    Release(clock_);
    Release(data_); // data rises while the clock is high
}

void Master::WriteBits(uint8_t value, int count) {
    for (int bit = 7; bit > 7 - count; --bit) {
        if ((value >> bit) & 1)
            Release(data_);
        else
            PullLow(data_);
        Release(clock_);
        PullLow(clock_);
    }
}

bool Master::WriteByte(uint8_t value) {
    WriteBits(value, 8);
    Release(data_);
    Release(clock_);
    const bool acknowledged = !Sample(data_);
    PullLow(clock_);
    return acknowledged;
}

uint8_t Master::ReadByte(bool acknowledge) {
    Release(data_);
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
        Release(clock_);
        value = static_cast<uint8_t>(value << 1 | (Sample(data_) ? 1 : 0));
        PullLow(clock_);
    }
    if (acknowledge)
        PullLow(data_);
    else
        Release(data_);
    Release(clock_);
    PullLow(clock_);
    return value;
}

void Master::WriteProtect(bool high) {
    if (high) {
        DriveHigh(writeProtect_);
        return;
    }
    PullLow(writeProtect_);
}

int Master::Write(uint8_t device, const std::vector<uint8_t> &bytes) {
    Start();
    int acknowledged = 0;
    if (WriteByte(device)) {
        ++acknowledged;
        for (uint8_t byte : bytes) {
            if (!WriteByte(byte))
                break;
            ++acknowledged;
        }
    }
    Stop();
    return acknowledged;
}

bool Master::Probe(uint8_t device) { return Write(device, {}) == 1; }

std::vector<uint8_t> Master::ReadCurrent(uint8_t device, size_t count) {
    std::vector<uint8_t> bytes;
    Start();
    if (WriteByte(static_cast<uint8_t>(device | 1)))
        for (size_t i = 0; i < count; ++i)
            bytes.push_back(ReadByte(i + 1 < count));
    Stop();
    return bytes;
}

std::vector<uint8_t> Master::ReadAt(uint8_t device, const std::vector<uint8_t> &address, size_t count) {
    std::vector<uint8_t> bytes;
    Start();
    bool ok = WriteByte(device);
    for (size_t i = 0; ok && i < address.size(); ++i)
        ok = WriteByte(address[i]);
    if (ok) {
        Start();
        ok = WriteByte(static_cast<uint8_t>(device | 1));
    }
    for (size_t i = 0; ok && i < count; ++i)
        bytes.push_back(ReadByte(i + 1 < count));
    Stop();
    return bytes;
}

Bench::Bench(const std::string &config) {
    hoplink::sim::Config parsed;
    std::string error;
    EXPECT_TRUE(hoplink::sim::ParseConfig(config, parsed, error)) << error;
    target = hoplink::sim::Target::Create(parsed, error);
    if (!target) {
        ADD_FAILURE() << "cannot create target: " << error;
        return;
    }
    target->SetClock(&clock);
    master = std::make_unique<Master>(*target, parsed.clockLine, parsed.dataLine, parsed.writeProtectLine);
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> bytes;
    for (int value : values)
        bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

} // namespace hoplinktest
