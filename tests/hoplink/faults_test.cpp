// Each switchable fault, through register accesses.
#include "bitbang.h"

#include <gtest/gtest.h>

namespace {

using hoplinktest::Bench;
using hoplinktest::Bytes;

// Acknowledged bytes of three write transactions of device, two address bytes, one data byte.
TEST(Faults, NoAcknowledgeAtTheNthByte) {
    struct Case {
        const char *config;
        std::vector<int> acknowledged;
    };
    const Case cases[] = {
        {"", {4, 4, 4}},
        {"SIMFAULT=nak:1", {0, 0, 0}},
        {"SIMFAULT=nak:3", {2, 2, 2}},
        {"SIMFAULT=nak:3@2", {4, 2, 4}},
        {"SIMFAULT=nak:4@3", {4, 4, 3}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config);
        Bench b(std::string("SIMTWR=0 ") + c.config);
        ASSERT_TRUE(b.target);
        b.master->WriteProtect(false);
        std::vector<int> acknowledged;
        for (int i = 0; i < 3; ++i)
            acknowledged.push_back(b.master->Write(0xA0, Bytes({0x00, i, 0x10 + i})));
        EXPECT_EQ(acknowledged, c.acknowledged);
        // a refused data byte is not written
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(b.target->Memory()[i], c.acknowledged[i] == 4 ? 0x10 + i : 0xFF);
    }
}

TEST(Faults, StuckDataLineIsFreedByNineClockPulses) {
    struct Case {
        uint32_t clocks;
        int freeAfter; // clock pulses until the data line reads high
    };
    const Case cases[] = {{1, 1}, {4, 4}, {9, 9}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.clocks);
        Bench b("");
        ASSERT_TRUE(b.target);
        auto &m = *b.master;
        b.target->GetFaults().stuckDataClocks = c.clocks;
        m.Release(7);
        m.Release(6);
        EXPECT_FALSE(m.Sample(7));
        int pulses = 0;
        while (!m.Sample(7) && pulses < 9) {
            m.PullLow(6);
            m.Release(6);
            ++pulses;
        }
        EXPECT_EQ(pulses, c.freeAfter);
        EXPECT_TRUE(m.Sample(7));
        EXPECT_TRUE(m.Probe(0xA0));
    }
}

TEST(Faults, ClockHeldLowAfterTheNextStartOnly) {
    Bench b("");
    ASSERT_TRUE(b.target);
    auto &m = *b.master;
    b.target->GetFaults().holdClockMs = 15;
    const uint64_t start = b.clock.NowMicros();
    m.Start();
    m.Release(6);
    while (!m.Sample(6)) {
    }
    EXPECT_GE(b.clock.NowMicros() - start, 15000u);
    EXPECT_LT(b.clock.NowMicros() - start, 15010u);
    m.Stop();
    EXPECT_TRUE(m.Probe(0xA0)); // one hold only
}

TEST(Faults, FailedRegisterAccesses) {
    struct Case {
        const char *config;
        std::vector<int> writeResults; // of five writes
        std::vector<int> readResults;  // of five reads
    };
    const Case cases[] = {
        {"SIMFAULT=wfail:always", {1, 1, 1, 1, 1}, {0, 0, 0, 0, 0}},
        {"SIMFAULT=wfail:2", {0, 1, 0, 0, 0}, {0, 0, 0, 0, 0}},
        {"SIMFAULT=rfail:always", {0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}},
        {"SIMFAULT=rfail:5", {0, 0, 0, 0, 0}, {0, 0, 0, 0, 1}},
        {"SIMFAULT=lost:7", {0, 0, 0, 0, 0}, {0, 0, 1, 1, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config);
        Bench b(c.config);
        ASSERT_TRUE(b.target);
        std::vector<int> writes, reads;
        for (int i = 0; i < 5; ++i)
            writes.push_back(b.target->Write(hoplink::sim::kRegOutputEnable, 0));
        for (int i = 0; i < 5; ++i) {
            uint16_t value = 0x1234;
            reads.push_back(b.target->Read(hoplink::sim::kRegInputLevel, &value));
            EXPECT_EQ(value, reads.back() ? 0x1234 : 0xFFFF);
        }
        EXPECT_EQ(writes, c.writeResults);
        EXPECT_EQ(reads, c.readResults);
        int failed = 0;
        for (int r : writes)
            failed += r;
        for (int r : reads)
            failed += r;
        EXPECT_EQ(b.target->GetCounters().failedAccesses, static_cast<uint64_t>(failed));
    }
}

TEST(Faults, FailedWriteLeavesTheRegisterUnchanged) {
    Bench b("SIMFAULT=wfail:1");
    ASSERT_TRUE(b.target);
    EXPECT_EQ(b.target->Write(hoplink::sim::kRegOutputEnable, 0x0080), 1);
    EXPECT_EQ(b.target->Lines() & 0x0080, 0x0080);
    EXPECT_EQ(b.target->Write(hoplink::sim::kRegOutputEnable, 0x0080), 0);
    EXPECT_EQ(b.target->Lines() & 0x0080, 0);
}

TEST(Faults, AbsentDeviceNeverAnswers) {
    Bench b("SIMFAULT=absent SIMPART=24C16");
    ASSERT_TRUE(b.target);
    for (int device = 0xA0; device <= 0xAE; device += 2)
        EXPECT_FALSE(b.master->Probe(static_cast<uint8_t>(device)));
    b.target->GetFaults().absent = false;
    EXPECT_TRUE(b.master->Probe(0xA0));
}

TEST(Faults, LongWriteCycleOutlastsTwentyMillisecondsOfPolling) {
    Bench b("SIMTWR=25");
    ASSERT_TRUE(b.target);
    b.master->WriteProtect(false);
    ASSERT_EQ(b.master->Write(0xA0, Bytes({0x00, 0x00, 0x01})), 4);
    const uint64_t stop = b.clock.NowMicros();
    while (b.clock.NowMicros() - stop < 20000)
        EXPECT_FALSE(b.master->Probe(0xA0));
    b.clock.Advance(5000);
    EXPECT_TRUE(b.master->Probe(0xA0));
}

TEST(Faults, WornByteAcknowledgesButKeepsItsValue) {
    Bench b("SIMPART=24C02 SIMFAULT=worn:0x11");
    ASSERT_TRUE(b.target);
    b.master->WriteProtect(false);
    EXPECT_EQ(b.master->Write(0xA0, Bytes({0x10, 0xA5, 0xA6, 0xA7})), 5);
    const auto cells = b.target->Memory();
    EXPECT_EQ(cells[0x10], 0xA5);
    EXPECT_EQ(cells[0x11], 0xFF);
    EXPECT_EQ(cells[0x12], 0xA7);
    EXPECT_EQ(b.target->GetCounters().bytesWritten, 2u);
}

TEST(Faults, FlippedBitReadsBackInverted) {
    Bench b("SIMPART=24C02 SIMFAULT=flip:0x10/0x01,flip:0x12/0x80");
    ASSERT_TRUE(b.target);
    auto cells = b.target->Memory();
    cells[0x10] = 0x40;
    cells[0x11] = 0x41;
    cells[0x12] = 0x42;
    EXPECT_EQ(b.master->ReadAt(0xA0, Bytes({0x10}), 3), Bytes({0x41, 0x41, 0xC2}));
    EXPECT_EQ(cells[0x10], 0x40); // the cell itself holds its value
}

TEST(Faults, SwitchedOnWhileRunning) {
    Bench b("");
    ASSERT_TRUE(b.target);
    EXPECT_TRUE(b.master->Probe(0xA0));
    b.target->GetFaults().nakByte = 1;
    EXPECT_FALSE(b.master->Probe(0xA0));
    b.target->GetFaults().nakByte = 0;
    EXPECT_TRUE(b.master->Probe(0xA0));
    b.target->GetFaults().linkLostAfter = 1;
    uint16_t value = 0;
    EXPECT_NE(b.target->Read(hoplink::sim::kRegInputLevel, &value), 0);
}

} // namespace
