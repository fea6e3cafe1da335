// A virtual part attached with a chosen geometry, the register log and the
// progress record empty at the start of each test.
#pragma once

#include <string>
#include <vector>

#include "progress_recorder.h"
#include "support/test_transport.h"

namespace blocktest {

class BlockTest : public zeltest::LinkTest {
protected:
    // `config` is the virtual target's configuration ("SIMPART=24C02 ...").
    void Open(const std::string &config, int sizeBits, int blockBits) {
        ASSERT_TRUE(Attach(config, sizeBits, blockBits)) << config;
        transport().ClearLog();
        Progress() = ProgressRecorder{};
    }

    // Cells from `address` on, set to `bytes`.
    void Store(uint32_t address, const std::vector<uint8_t> &bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            Target().Memory()[address + i] = bytes[i];
        }
    }

    std::vector<uint8_t> Cells(uint32_t address, uint32_t count) {
        const auto memory = Target().Memory();
        return {memory.begin() + address, memory.begin() + address + count};
    }

    uint64_t Transactions() { return Target().GetCounters().transactions; }
    uint64_t WriteCycles() { return Target().GetCounters().writeCycles; }

    // Makes the device ignore byte `byte` (1 = the address byte) of the
    // `nth` transaction from now on.
    void RefuseByte(uint64_t nth, uint32_t byte) {
        Target().GetFaults().nakTransaction = static_cast<uint32_t>(Transactions() + nth);
        Target().GetFaults().nakByte = byte;
    }
};

} // namespace blocktest
