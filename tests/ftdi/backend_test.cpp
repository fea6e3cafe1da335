// The FTDI backend's commands and configuration, without a device.
#include "ftdi/config.h"
#include "ftdi/mpsse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using hoplink::ftdi::AppendSet;
using hoplink::ftdi::PacingFor;
using hoplink::ftdi::Pins;
using hoplink::ftdi::Speed;
using Bytes = std::vector<uint8_t>;

// Every interval is at least the mode's shortest clock-low time.
TEST(FtdiPacing, IntervalsMeetTheModes) {
    EXPECT_GE(PacingFor(Speed::Standard).Nanos(), 4700u);
    EXPECT_LE(PacingFor(Speed::Standard).Nanos(), 5000u);
    EXPECT_GE(PacingFor(Speed::Fast).Nanos(), 1300u);
    EXPECT_LE(PacingFor(Speed::Fast).Nanos(), 1500u);
}

TEST(FtdiCommands, SetSendsTheChangedBytesThenOneInterval) {
    struct Case {
        const char *what;
        Pins from, to;
        bool wide;
        Bytes expected;
    };
    const Case cases[] = {
        {"a low pin pulls low", {}, {0x0040, 0}, true, {0x80, 0x00, 0x41, 0x8E, 5}},
        {"write-protect on ACBUS0 driven high", {0x0040, 0}, {0x0140, 0x0100}, true, {0x82, 0x01, 0x01, 0x8E, 5}},
        {"a level bit on an input is not driven", {0x0040, 0}, {0, 0x00C0}, true, {0x80, 0x00, 0x01, 0x8E, 5}},
        {"no pin changes: no command, no interval", {0x0040, 0}, {0x0040, 0x0100}, true, {}},
        {"both bytes change", {}, {0x0180, 0x0100}, true, {0x80, 0x00, 0x81, 0x82, 0x01, 0x01, 0x8E, 5}},
        {"an 8-pin channel has no high byte", {}, {0x0004, 0x0004}, false, {0x80, 0x04, 0x05, 0x8E, 5}},
    };
    for (const Case &c : cases) {
        Bytes out;
        AppendSet(out, c.from, c.to, c.wide, PacingFor(Speed::Standard));
        EXPECT_EQ(out, c.expected) << c.what;
    }
}

TEST(FtdiConfig, Strings) {
    struct Case {
        const char *text;
        const char *error; // empty: accepted
    };
    const Case cases[] = {
        {"SPITRANS=FTDI", ""},
        {"spitrans=ftdi ftdiserial=\"FT 12\" ftdichip=ft2232h ftdiiface=b ftdispeed=400", ""},
        {"SPITRANS=FTDI FTDIBUS=1/12 FTDISPEED=standard", ""},
        {"SPITRANS=FTDI FTDISPEED=1000", "not a speed the EEPROMs take"},
        {"SPITRANS=FTDI FTDISERIAL=A1 FTDIBUS=1/2", "not both"},
        {"SPITRANS=FTDI FTDICHIP=FT232H FTDIIFACE=B", "one MPSSE channel"},
        {"SPITRANS=FTDI FTDIIFACE=C", "bad value 'C' for FTDIIFACE"},
        {"SPITRANS=FTDI FTDIBUS=1-2", "bad value '1-2' for FTDIBUS"},
        {"SPITRANS=FTDI SIMPART=24C02", "unknown key 'SIMPART' for SPITRANS=FTDI"},
    };
    for (const Case &c : cases) {
        hoplink::ftdi::Config config;
        std::string error;
        EXPECT_EQ(hoplink::ftdi::ParseConfig(c.text, config, error), *c.error == '\0') << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.text << ": " << error;
    }
    EXPECT_TRUE(hoplink::ftdi::AsksForFtdi("SIMPART=24C02 SPITRANS=Ftdi"));
    EXPECT_FALSE(hoplink::ftdi::AsksForFtdi("SPITRANS=USB"));
}

} // namespace
