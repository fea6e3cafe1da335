// A bus master for the tests: drives the target's PIO registers the way a
// host does (bus lines open-drain, write protect push-pull), one register
// access per line operation.
#pragma once

#include "hoplink/sim.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hoplinktest {

class Master {
public:
    explicit Master(hoplink::sim::Target &target, int clock = 6, int data = 7, int writeProtect = 8);

    void Release(int line);
    void PullLow(int line);
    void DriveHigh(int line); // push-pull high
    bool Sample(int line);

    void Start(); // also a repeated start
    void Stop();
    bool WriteByte(uint8_t value); // true when acknowledged
    uint8_t ReadByte(bool acknowledge);
    void WriteBits(uint8_t value, int count); // the top `count` bits, no acknowledge clock
    void WriteProtect(bool high);

    // START, device address, bytes, STOP: the number of acknowledged bytes, address included.
    int Write(uint8_t device, const std::vector<uint8_t> &bytes);
    bool Probe(uint8_t device);
    // Current-address read of n bytes; empty when the address is not acknowledged.
    std::vector<uint8_t> ReadCurrent(uint8_t device, size_t count);
    // Random read: the memory-address bytes, repeated start, n bytes.
    std::vector<uint8_t> ReadAt(uint8_t device, const std::vector<uint8_t> &address, size_t count);

private:
    void WriteEnable();
    void WriteLevel();

    hoplink::sim::Target &target_;
    const int clock_, data_, writeProtect_;
    uint16_t enable_ = 0, level_ = 0;
};

// A target of `config` (the test fails when it cannot be created) on a
// virtual clock of 1 us per access.
struct Bench {
    explicit Bench(const std::string &config);
    hoplink::sim::VirtualClock clock;
    std::unique_ptr<hoplink::sim::Target> target;
    std::unique_ptr<Master> master;
};

std::vector<uint8_t> Bytes(std::initializer_list<int> values);

} // namespace hoplinktest
