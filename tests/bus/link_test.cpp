// Opening and closing the link: configuration strings, the order of the
// transport calls, and the open path against the virtual target.
#include <algorithm>
#include <gmock/gmock.h>

#include "eeprom/device.h"
#include "spi/pio.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace {

using zeltest::LinkCall;
using zeltest::LinkCallKind;

std::vector<LinkCallKind> Kinds(const std::vector<LinkCall> &calls) {
    std::vector<LinkCallKind> kinds;
    for (const LinkCall &call : calls) {
        kinds.push_back(call.kind);
    }
    return kinds;
}

struct ConfigRow {
    int kind, port;
    const char *config;
};

class InitConfig : public zeltest::LinkTest, public testing::WithParamInterface<ConfigRow> {};

TEST_P(InitConfig, ComposesTheTransportString) {
    const ConfigRow &row = GetParam();
    transport().ScriptOpenResult(0);
    EXPECT_EQ(zelInit(row.kind, row.port, 0, 8, 0), 0);
    const std::vector<LinkCall> calls = transport().LinkCalls();
    ASSERT_EQ(Kinds(calls), std::vector<LinkCallKind>{LinkCallKind::Open});
    EXPECT_EQ(calls[0].config, row.config);
}

INSTANTIATE_TEST_SUITE_P(Table, InitConfig,
                         testing::Values(ConfigRow{1, -1, "SPITRANS=LPT"},
                                         ConfigRow{2, 0, "SPITRANS=USB SPIPORT=0"}, ConfigRow{5, 3, " SPIPORT=3"},
                                         ConfigRow{0, -1, ""}, ConfigRow{1, -7, "SPITRANS=LPT SPIPORT=-7"},
                                         ConfigRow{-1, 12, " SPIPORT=12"}, ConfigRow{3, -1, ""},
                                         ConfigRow{2, 2147483647, "SPITRANS=USB SPIPORT=2147483647"},
                                         ConfigRow{1, -2147483647 - 1, "SPITRANS=LPT SPIPORT=-2147483648"},
                                         ConfigRow{2, 100, "SPITRANS=USB SPIPORT=100"}),
                         [](const testing::TestParamInfo<ConfigRow> &info) {
                             return "Row" + std::to_string(info.index);
                         });

class Link : public zeltest::LinkTest {};

TEST_F(Link, LinkParamKeepsItsLowSixteenBitsAndReservedIsMinusOne) {
    transport().ScriptOpenResult(0);
    const struct {
        int linkParam;
        uint16_t passed;
    } rows[] = {{0x12345, 0x2345}, {0xFFFF, 0xFFFF}, {0x10000, 0}, {-1, 0xFFFF}, {7, 7}};
    for (const auto &row : rows) {
        zelInit(1, 0, row.linkParam, 8, 0);
        zelInitTrans("SPITRANS=USB", row.linkParam, 8, 0);
    }
    const std::vector<LinkCall> calls = transport().LinkCalls();
    ASSERT_EQ(calls.size(), 2 * std::size(rows));
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].linkParam, rows[i / 2].passed) << "call " << i;
        EXPECT_EQ(calls[i].reserved, -1) << "call " << i;
    }
}

TEST_F(Link, InitTransPassesTheStringUnchanged) {
    transport().ScriptOpenResult(0);
    zelInitTrans("  anything at all=1  ", 0, 8, 0);
    EXPECT_EQ(transport().LinkCalls().at(0).config, "  anything at all=1  ");
}

TEST_F(Link, FailedOpenCallsNothingElse) {
    transport().ScriptOpenResult(0);
    EXPECT_EQ(zelInitTrans("SPITRANS=USB", 0, 8, 0), 0);
    EXPECT_EQ(Kinds(transport().LinkCalls()), std::vector<LinkCallKind>{LinkCallKind::Open});
    EXPECT_TRUE(transport().Registers().empty());
}

TEST_F(Link, NullConfigurationIsRefusedWithoutTouchingTheTransport) {
    EXPECT_EQ(zelInitTrans(nullptr, 0, 8, 0), 0);
    EXPECT_TRUE(transport().LinkCalls().empty());
    EXPECT_TRUE(transport().Registers().empty());
}

TEST_F(Link, SuccessStopsTheProcessorBeforeAnyLineAndKeepsTheLinkOpen) {
    EXPECT_EQ(zelInitTrans("SIMPART=24C02 SIMADDR=4", 0, 8, 0), 1);
    const std::vector<LinkCall> calls = transport().LinkCalls();
    ASSERT_EQ(Kinds(calls), (std::vector<LinkCallKind>{LinkCallKind::Open, LinkCallKind::CpuStop}));
    EXPECT_EQ(calls[1].registerIndex, 0u);
    EXPECT_FALSE(transport().Registers().empty());
    ASSERT_NE(transport().Target(), nullptr);
    EXPECT_TRUE(transport().Target()->GetCounters().registerWrites > 0);
    EXPECT_EQ(zelGetDeviceAddress(), 0xA8);
}

TEST_F(Link, FailedAttachClosesTheLinkOnceAndKeepsTheEarlierDescriptor) {
    ASSERT_EQ(zelInit(2, 0, 0, 8, 0), 1); // no SIM keys: the default part at 0xA0
    EXPECT_EQ(zelGetDeviceAddress(), 0xA0);
    transport().ClearLog();
    ASSERT_EQ(zelInitTrans("SIMPART=24C02 SIMADDR=7", 0, 11, 3), 1);
    const uint32_t descriptor = zel::DescriptorWord();
    transport().ClearLog();

    EXPECT_EQ(zelInitTrans("SIMPART=24C02 SIMFAULT=absent", 0, 8, 0), 0);
    EXPECT_EQ(Kinds(transport().LinkCalls()),
              (std::vector<LinkCallKind>{LinkCallKind::Open, LinkCallKind::CpuStop, LinkCallKind::Close}));
    EXPECT_EQ(transport().Target(), nullptr);
    EXPECT_EQ(zel::DescriptorWord(), descriptor);
    EXPECT_EQ(zelGetDeviceAddress(), 0xAE);
}

TEST_F(Link, CloseAlwaysSucceedsAndKeepsTheAddress) {
    EXPECT_EQ(zelClose(), 1); // nothing open
    ASSERT_EQ(zelInitTrans("SIMPART=24C02 SIMADDR=6", 0, 8, 0), 1);
    EXPECT_EQ(zelClose(), 1);
    EXPECT_EQ(transport().Target(), nullptr);
    EXPECT_EQ(zelGetDeviceAddress(), 0xAC);
    EXPECT_EQ(Kinds(transport().LinkCalls()),
              (std::vector<LinkCallKind>{LinkCallKind::Close, LinkCallKind::Open, LinkCallKind::CpuStop,
                                         LinkCallKind::Close}));
}

TEST_F(Link, PortEnumerationPassesItsArgumentsAndMapsTheResult) {
    char names[64];
    int32_t count = 0;
    const intptr_t args[4] = {reinterpret_cast<intptr_t>(&count), reinterpret_cast<intptr_t>(names), INTPTR_MAX,
                              INTPTR_MIN};
    const struct {
        int transportResult;
        int exportResult;
    } rows[] = {{0, 1}, {1, 0}, {-1, 0}, {42, 0}};
    for (const auto &row : rows) {
        transport().ClearLog();
        transport().ScriptEnumerateResult(row.transportResult);
        EXPECT_EQ(zelGetAvailableSpiPorts(args[0], args[1], args[2], args[3]), row.exportResult);
        const std::vector<LinkCall> calls = transport().LinkCalls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].kind, LinkCallKind::Enumerate);
        EXPECT_EQ(calls[0].args, (std::array<intptr_t, 4>{args[0], args[1], args[2], args[3]}));
    }
}

TEST_F(Link, OpenFindsTheDeviceAtTheChosenLines) {
    EXPECT_EQ(zelInitTrans("SIMPART=24C02 SIMLINES=2,4,5", 0, 8, 0), 0); // nothing on 6 and 7
    EXPECT_EQ(zelSetPioLines(2, 4, 5), 1);
    transport().ClearLog();
    ASSERT_EQ(zelInitTrans("SIMPART=24C02 SIMLINES=2,4,5 SIMADDR=1", 0, 8, 0), 1);
    EXPECT_EQ(zelGetDeviceAddress(), 0xA2);
    EXPECT_EQ(zeltest::BusText(transport().Registers(), 2, 4), "S P S a0- P S a2+ P");
    // nothing of the old lines is touched any more; write-protect is line 5
    for (const zeltest::RegisterAccess &access : transport().Registers()) {
        if (access.kind == zeltest::AccessKind::Write && access.address == 0x0061) {
            EXPECT_EQ(access.value & 0x01C0, 0);
        }
    }
    EXPECT_EQ(transport().Registers().back().value & 0x0020, 0x0020);
}

// After the lines moved, jobs read data and acknowledges on the new data
// line and release the new lines: a 24C02 wired only to lines 2, 4 and 5
// reads and writes, and the old lines 6, 7 and 8 are never driven.
TEST_F(Link, JobsReadDataAndAcknowledgesOnTheChosenLines) {
    EXPECT_EQ(zelSetPioLines(2, 4, 5), 1);
    ASSERT_EQ(zelInitTrans("SIMPART=24C02 SIMLINES=2,4,5", 0, 8, 0), 1);
    const std::vector<uint8_t> stored = {0x31, 0x00, 0xA5, 0x5A, 0x7E, 0x81, 0x02, 0xC3};
    std::copy(stored.begin(), stored.end(), Target().Memory().begin() + 0x40);
    std::vector<uint8_t> read(stored.size(), 0xEE);
    EXPECT_EQ(zelReadMemory(0x40, read.data(), static_cast<uint32_t>(read.size()), 1), 1);
    EXPECT_EQ(read, stored);
    const std::vector<uint8_t> written = {0x12, 0x00, 0xFE, 0x34};
    EXPECT_EQ(zelWriteMemory(0x80, written.data(), static_cast<uint32_t>(written.size()), 1, 1), 1);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), Target().Memory().begin() + 0x80));

    uint16_t enable = 0;
    for (const zeltest::RegisterAccess &access : transport().Registers()) {
        if (access.kind == zeltest::AccessKind::Write &&
            (access.address == zel::kRegOutputEnable || access.address == zel::kRegOutputLevel)) {
            EXPECT_EQ(access.value & 0x01C0, 0) << std::hex << access.address << " " << access.value;
        }
        if (access.kind == zeltest::AccessKind::Write && access.address == zel::kRegOutputEnable) {
            enable = access.value;
        }
    }
    EXPECT_EQ(enable & 0x0014, 0) << "clock and data released after the job";
    EXPECT_EQ(enable & 0x0020, 0x0020) << "write-protect driven";
    EXPECT_EQ(zel::ReadInputs() & 0x0014, 0x0014) << "both lines high";
}

} // namespace
