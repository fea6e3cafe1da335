// The EEPROM model through register accesses only.
#include "bitbang.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using hoplinktest::Bench;
using hoplinktest::Bytes;

TEST(Eeprom, ByteWriteNaksItsAddressUntilTheWriteCycleEnds) {
    struct Case {
        const char *config;
        uint64_t cycleMicros;
    };
    const Case cases[] = {{"SIMPART=24C256", 5000}, {"SIMPART=24C02 SIMTWR=3", 3000}, {"SIMTWR=25", 25000}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config);
        Bench b(c.config);
        ASSERT_TRUE(b.target);
        b.master->WriteProtect(false);
        const auto address = b.target->GetPart().addressBytes == 2 ? Bytes({0x00, 0x20}) : Bytes({0x20});
        std::vector<uint8_t> bytes = address;
        bytes.push_back(0x5A);
        ASSERT_EQ(b.master->Write(0xA0, bytes), static_cast<int>(bytes.size()) + 1);
        const uint64_t stop = b.clock.NowMicros();
        EXPECT_TRUE(b.target->WriteCycleActive());
        int naks = 0;
        while (!b.master->Probe(0xA0))
            ++naks;
        const uint64_t acknowledgedAt = b.clock.NowMicros();
        EXPECT_GT(naks, 0);
        EXPECT_GE(acknowledgedAt - stop, c.cycleMicros);
        EXPECT_LT(acknowledgedAt - stop, c.cycleMicros + 100); // one probe takes about 40 accesses
        EXPECT_EQ(b.master->ReadAt(0xA0, address, 1), Bytes({0x5A}));
        EXPECT_EQ(b.target->GetCounters().writeCycles, 1u);
    }
}

TEST(Eeprom, PageWriteRollsOverInsideThePage) {
    struct Case {
        const char *config;
        uint32_t pageSize;
    };
    const Case cases[] = {
        {"SIMPART=24C02", 8}, {"SIMPART=24C16", 16}, {"SIMPART=24C256", 64}, {"SIMPART=24C512", 128}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config);
        Bench b(c.config);
        ASSERT_TRUE(b.target);
        ASSERT_EQ(b.target->GetPart().pageSize, c.pageSize);
        b.master->WriteProtect(false);
        // start two bytes before the end of page 1 and write four bytes
        const uint32_t start = 2 * c.pageSize - 2;
        auto bytes = b.target->GetPart().addressBytes == 2 ? Bytes({int(start >> 8), int(start & 0xFF)})
                                                           : Bytes({int(start)});
        for (int value : {0x11, 0x22, 0x33, 0x44})
            bytes.push_back(static_cast<uint8_t>(value));
        ASSERT_EQ(b.master->Write(0xA0, bytes), static_cast<int>(bytes.size()) + 1);
        const auto cells = b.target->Memory();
        EXPECT_EQ(cells[start], 0x11);
        EXPECT_EQ(cells[start + 1], 0x22);
        EXPECT_EQ(cells[c.pageSize], 0x33); // rolled over to the start of the same page
        EXPECT_EQ(cells[c.pageSize + 1], 0x44);
        EXPECT_EQ(cells[2 * c.pageSize], 0xFF); // the next page is untouched
        EXPECT_EQ(b.target->GetCounters().bytesWritten, 4u);
    }
}

// A sequential read from the last byte of a read window goes on at the
// window's first byte: the end of memory, or of each 64 KiB block of the
// 24C1025 and 24C1024.
TEST(Eeprom, SequentialReadRollsOverWhereThePartsReadEnds) {
    struct Case {
        const char *part;
        uint8_t device;
        uint32_t last;  // last byte of the window
        uint32_t first; // where the read goes on
    };
    const Case cases[] = {
        {"24C01", 0xA0, 0x7F, 0x00},       {"24C04", 0xA2, 0x1FF, 0x000},
        {"24C32", 0xA0, 0xFFF, 0x000},     {"24C1024", 0xA2, 0x1FFFF, 0x10000},
        {"24C1025", 0xA0, 0xFFFF, 0x0000}, {"24C1025", 0xA8, 0x1FFFF, 0x10000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.part) + " from " + std::to_string(c.last));
        Bench b(std::string("SIMPART=") + c.part);
        ASSERT_TRUE(b.target);
        auto cells = b.target->Memory();
        std::fill(cells.begin(), cells.end(), 0x00);
        cells[c.last] = 0xEE;
        cells[c.first] = 0x01;
        cells[c.first + 1] = 0x02;
        const auto &p = b.target->GetPart();
        const auto address = p.addressBytes == 2 ? Bytes({int(c.last >> 8 & 0xFF), int(c.last & 0xFF)})
                                                 : Bytes({int(c.last & 0xFF)});
        EXPECT_EQ(b.master->ReadAt(c.device, address, 3), Bytes({0xEE, 0x01, 0x02}));
    }
}

TEST(Eeprom, BlockSelectBitsCarryTheTopAddressBits) {
    struct Case {
        const char *config;
        uint8_t device;
        std::vector<uint8_t> address;
        uint32_t cell;
    };
    const Case cases[] = {
        {"SIMPART=24C04", 0xA2, Bytes({0x34}), 0x134},
        {"SIMPART=24C08", 0xA4, Bytes({0x34}), 0x234},
        {"SIMPART=24C16", 0xAE, Bytes({0xFF}), 0x7FF},
        {"SIMPART=24C16", 0xAA, Bytes({0xA3}), 0x5A3},
        {"SIMPART=24C1024", 0xA2, Bytes({0xAB, 0xCD}), 0x1ABCD},
        {"SIMPART=24C1025", 0xA8, Bytes({0xAB, 0xCD}), 0x1ABCD},
        {"SIMPART=24C1025", 0xA0, Bytes({0xAB, 0xCD}), 0x0ABCD},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config + std::string(" device ") + std::to_string(c.device));
        Bench b(c.config);
        ASSERT_TRUE(b.target);
        b.master->WriteProtect(false);
        auto bytes = c.address;
        bytes.push_back(0x6B);
        ASSERT_EQ(b.master->Write(c.device, bytes), static_cast<int>(bytes.size()) + 1);
        EXPECT_EQ(b.target->Memory()[c.cell], 0x6B);
        b.clock.Advance(10000);
        EXPECT_EQ(b.master->ReadAt(c.device, c.address, 1), Bytes({0x6B}));
    }
}

TEST(Eeprom, ChipAddressPinsSelectTheAddressesItAnswers) {
    struct Case {
        const char *config;
        std::vector<uint8_t> answered;
    };
    const Case cases[] = {
        {"SIMPART=24C256", {0xA0}},
        {"SIMPART=24C256 SIMADDR=5", {0xAA}},
        {"SIMPART=24C02 SIMADDR=7", {0xAE}},
        {"SIMPART=24C04 SIMADDR=5", {0xA8, 0xAA}},             // A0 pin taken by the block bit
        {"SIMPART=24C08 SIMADDR=3", {0xA0, 0xA2, 0xA4, 0xA6}}, // only A2 remains, low
        {"SIMPART=24C16 SIMADDR=3", {0xA0, 0xA2, 0xA4, 0xA6, 0xA8, 0xAA, 0xAC, 0xAE}},
        {"SIMPART=24C1025 SIMADDR=1", {0xA2, 0xAA}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config);
        Bench b(c.config);
        ASSERT_TRUE(b.target);
        std::vector<uint8_t> answered;
        for (int device = 0x00; device < 0x100; device += 2)
            if (b.master->Probe(static_cast<uint8_t>(device)))
                answered.push_back(static_cast<uint8_t>(device));
        EXPECT_EQ(answered, c.answered);
    }
}

TEST(Eeprom, WriteProtectPinBlocksTheWriteCycle) {
    struct Case {
        const char *config;
        int acknowledged; // of device, two address bytes, two data bytes
    };
    const Case cases[] = {{"SIMWP=ack", 5}, {"SIMWP=nak", 3}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config);
        Bench b(c.config);
        ASSERT_TRUE(b.target);
        b.master->WriteProtect(true);
        EXPECT_EQ(b.master->Write(0xA0, Bytes({0x01, 0x00, 0x12, 0x34})), c.acknowledged);
        EXPECT_FALSE(b.target->WriteCycleActive());
        EXPECT_EQ(b.target->Memory()[0x100], 0xFF);
        EXPECT_EQ(b.target->GetCounters().writeCycles, 0u);
        b.target->Memory()[0x102] = 0x77;
        const auto next = b.master->ReadCurrent(0xA0, 1);
        // the acknowledging variant advanced its counter over the two data bytes
        EXPECT_EQ(next, c.acknowledged == 5 ? Bytes({0x77}) : Bytes({0xFF}));
    }
}

TEST(Eeprom, WriteProtectPinNotWiredNeverProtects) {
    Bench b("SIMWP=off");
    ASSERT_TRUE(b.target);
    b.master->WriteProtect(true);
    EXPECT_EQ(b.master->Write(0xA0, Bytes({0x01, 0x00, 0x12})), 4);
    EXPECT_EQ(b.target->Memory()[0x100], 0x12);
}

TEST(Eeprom, ReleasedWriteProtectLineReadsHighAndProtects) {
    Bench b("");
    ASSERT_TRUE(b.target);
    EXPECT_EQ(b.master->Write(0xA0, Bytes({0x00, 0x00, 0x42})), 4);
    EXPECT_EQ(b.target->Memory()[0], 0xFF);
}

TEST(Eeprom, StartOrStopInTheMiddleOfAByteAbortsTheWrite) {
    struct Case {
        const char *name;
        int bits; // bits of the second data byte before the condition
        bool repeatedStart;
    };
    const Case cases[] = {{"stop after 3 bits", 3, false},
                          {"stop after 8 bits", 8, false},
                          {"start after 5 bits", 5, true},
                          {"start after whole byte", 0, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bench b("SIMPART=24C02");
        ASSERT_TRUE(b.target);
        auto &m = *b.master;
        m.WriteProtect(false);
        m.Start();
        ASSERT_TRUE(m.WriteByte(0xA0));
        ASSERT_TRUE(m.WriteByte(0x10));
        ASSERT_TRUE(m.WriteByte(0x55));
        m.WriteBits(0x66, c.bits);
        if (c.repeatedStart)
            m.Start();
        m.Stop();
        EXPECT_EQ(b.target->Memory()[0x10], 0xFF);
        EXPECT_FALSE(b.target->WriteCycleActive());
        EXPECT_TRUE(m.Probe(0xA0));
    }
}

TEST(Eeprom, CurrentAddressFollowsTheLastWrite) {
    Bench b("SIMPART=24C02");
    ASSERT_TRUE(b.target);
    b.master->WriteProtect(false);
    b.target->Memory()[0x43] = 0x99;
    ASSERT_EQ(b.master->Write(0xA0, Bytes({0x42, 0x01})), 3);
    b.clock.Advance(5000);
    EXPECT_EQ(b.master->ReadCurrent(0xA0, 2), Bytes({0x99, 0xFF}));
    EXPECT_EQ(b.master->ReadCurrent(0xA0, 1), Bytes({0xFF})); // 0x45
    b.target->Memory()[0x00] = 0x5C;
    // a page write ending on the last byte of its page leaves the counter at the page start
    ASSERT_EQ(b.master->Write(0xA0, Bytes({0x06, 0xAA, 0xBB})), 4);
    b.clock.Advance(5000);
    EXPECT_EQ(b.master->ReadCurrent(0xA0, 1), Bytes({0x5C}));
}

TEST(Eeprom, MasterNakEndsTheReadAndFreesTheDataLine) {
    Bench b("SIMPART=24C02");
    ASSERT_TRUE(b.target);
    b.target->Fill(0x00); // the device would hold the data line low for each bit
    EXPECT_EQ(b.master->ReadAt(0xA0, Bytes({0x00}), 2), Bytes({0x00, 0x00}));
    EXPECT_TRUE(b.master->Sample(7));
    EXPECT_EQ(b.target->Lines() & 0x00C0, 0x00C0);
}

TEST(Eeprom, ClockIsStretchedAfterEachStart) {
    Bench b("SIMSTRETCH=5");
    ASSERT_TRUE(b.target);
    auto &m = *b.master;
    for (int transaction = 0; transaction < 2; ++transaction) {
        const uint64_t start = b.clock.NowMicros();
        m.Start();
        m.Release(6);
        int lowSamples = 0;
        while (!m.Sample(6))
            ++lowSamples;
        EXPECT_GT(lowSamples, 4000);
        EXPECT_GE(b.clock.NowMicros() - start, 5000u);
        EXPECT_LT(b.clock.NowMicros() - start, 5010u);
        m.Stop();
    }
}

TEST(Eeprom, ContentionIsCountedWhenTheChipDrivesHighAgainstTheDevice) {
    Bench b("SIMPART=24C02");
    ASSERT_TRUE(b.target);
    auto &m = *b.master;
    m.Start();
    m.WriteBits(0xA0, 8);
    m.DriveHigh(7); // the device acknowledges now: it pulls the data line low
    EXPECT_FALSE(m.Sample(7));
    EXPECT_EQ(b.target->GetCounters().contentionEvents, 1u);
    m.Release(7);
    m.Release(6);
    m.PullLow(6);
    m.Stop();
    EXPECT_EQ(b.target->GetCounters().contentionEvents, 1u);
}

TEST(Eeprom, CountersFollowTheAccesses) {
    Bench b("SIMPART=24C02");
    ASSERT_TRUE(b.target);
    uint16_t value = 0;
    EXPECT_EQ(b.target->Write(0x0061, 0), 0);
    EXPECT_EQ(b.target->Write(0x0063, 0), 1);
    EXPECT_EQ(b.target->Read(0xFFC2, &value), 0);
    EXPECT_EQ(b.target->Read(0x0061, &value), 1);
    const auto counters = b.target->GetCounters();
    EXPECT_EQ(counters.registerWrites, 2u);
    EXPECT_EQ(counters.registerReads, 2u);
    EXPECT_EQ(counters.failedAccesses, 2u);
    b.master->Probe(0xA0);
    b.master->Probe(0xA2);
    EXPECT_EQ(b.target->GetCounters().transactions, 2u);
}

} // namespace
