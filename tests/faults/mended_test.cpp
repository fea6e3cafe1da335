// Faults that the matrix found, each with the behaviour that mends it.
#include <gtest/gtest.h>

#include "eeprom/bus.h"
#include "eeprom/device.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace zeltest {
namespace {

using hoplink::sim::Counters;
using hoplink::sim::Faults;

constexpr uint16_t kDataLine = 1u << 7;

// A device that holds the data line past the end of a transaction (the stop
// cannot rise) is clocked free before the transfer returns, so the next
// transaction finds the bus idle.
TEST(StopThatFails, LeavesTheBusFreeForTheNextTransaction) {
    for (uint32_t clocks : {10u, 12u, 17u}) {
        SCOPED_TRACE(clocks);
        TestTransport &transport = TestTransport::Get();
        transport.Reset();
        ASSERT_TRUE(zelInitTrans("SIMPART=24C02", 0, 8, 0));
        hoplink::sim::Target &target = *transport.Target();
        // held from the fall after the START: the address byte and its
        // acknowledge take nine of the clocks, the stop none
        target.ArmAtTransaction(target.GetCounters().transactions + 1,
                                [clocks](Faults &f, const Counters &) { f.stuckDataClocks = clocks; });

        zel::BusTransfer(0xA0, nullptr, 0, false, nullptr, 0);

        EXPECT_NE(target.Lines() & kDataLine, 0) << "the data line is still held";
        EXPECT_EQ(zel::BusTransfer(0xA0, nullptr, 0, false, nullptr, 0), 1);
    }
    TestTransport::Get().Reset();
}

struct HeaderRow {
    const char *name;
    long (*run)();
    std::vector<uint8_t> stored;   // bytes 1-4 of the 24C02
};

// Worn cells acknowledge the header bytes but keep their old values: neither
// the header write nor the repair of a header read may report success.
TEST(HeaderThatDoesNotStick, IsNotReportedWritten) {
    const HeaderRow rows[] = {
        {"write", [] { return long{zelWriteHeader()}; }, {0x40, 0xBF, 0x48, 0xB7}},
        {"repair of a read", [] { return zelReadHeader(); }, {0x40, 0xBF, 0x00, 0x00}},
    };
    for (const HeaderRow &row : rows) {
        SCOPED_TRACE(row.name);
        TestTransport &transport = TestTransport::Get();
        transport.Reset();
        ASSERT_TRUE(zelInitTrans("SIMPART=24C02 SIMTWR=1", 0, 8, 0));
        hoplink::sim::Target &target = *transport.Target();
        std::copy(row.stored.begin(), row.stored.end(), target.Memory().begin() + 1);
        target.GetFaults().wornBytes = {3, 4};

        EXPECT_EQ(row.run(), 0);

        EXPECT_EQ(zel::SizeBits(), 0u);
        EXPECT_EQ(target.Memory()[3], row.stored[2]);
    }
    TestTransport::Get().Reset();
}

} // namespace
} // namespace zeltest
