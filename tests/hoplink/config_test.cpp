// The configuration string and the HOPLINK_SIM environment variable.
#include "environment.h"
#include "hoplink/sim.h"

#include <gtest/gtest.h>

#include <bit>

namespace {

using hoplink::sim::Config;
using hoplink::sim::LoadConfig;
using hoplink::sim::ParseConfig;

TEST(Config, AcceptedStrings) {
    struct Case {
        const char *text;
        void (*check)(const Config &);
    };
    const Case cases[] = {
        {"", [](const Config &c) { EXPECT_EQ(c.part, "24C256"); }},
        {"SPITRANS=LPT SPIPORT=3",
         [](const Config &c) {
             EXPECT_EQ(c.spiTrans, "LPT");
             EXPECT_EQ(c.spiPort, 3);
         }},
        {" SPIPORT=3", [](const Config &c) { EXPECT_EQ(c.spiPort, 3); }},
        {"SPITRANS=USB SPIPORT=-7", [](const Config &c) { EXPECT_EQ(c.spiPort, -7); }},
        {"simpart=24c16 SimAddr=5",
         [](const Config &c) {
             EXPECT_EQ(c.part, "24C16");
             EXPECT_EQ(c.chipAddress, 5);
         }},
        {"SIMLINES=2,4,5\tSIMTWR=0 SIMSTRETCH=7",
         [](const Config &c) {
             EXPECT_EQ(c.clockLine, 2);
             EXPECT_EQ(c.dataLine, 4);
             EXPECT_EQ(c.writeProtectLine, 5);
             EXPECT_EQ(c.writeCycleMs, 0u);
             EXPECT_EQ(c.stretchMs, 7u);
         }},
        {"SIMWP=nak", [](const Config &c) { EXPECT_EQ(c.ackWhileProtected, false); }},
        {"SIMWP=NAK SIMWP=Ack", [](const Config &c) { EXPECT_EQ(c.ackWhileProtected, true); }},
        {"SIMWP=off", [](const Config &c) { EXPECT_FALSE(c.writeProtectWired); }},
        {"SIMWP=off SIMWP=ack", [](const Config &c) { EXPECT_TRUE(c.writeProtectWired); }},
        {"SIMFILE=\"/tmp/a b.bin\" SIMVCD=w.vcd SIMLOG=l.txt",
         [](const Config &c) {
             EXPECT_EQ(c.file, "/tmp/a b.bin");
             EXPECT_EQ(c.vcdPath, "w.vcd");
             EXPECT_EQ(c.logPath, "l.txt");
         }},
        {"SIMFAULT=nak:3@2,stuck:4,hold:15,wfail:always,rfail:7,absent,lost:1000,worn:0x10,flip:0x10/0x01",
         [](const Config &c) {
             const auto &f = c.faults;
             EXPECT_EQ(f.nakByte, 3u);
             EXPECT_EQ(f.nakTransaction, 2u);
             EXPECT_EQ(f.stuckDataClocks, 4u);
             EXPECT_EQ(f.holdClockMs, 15u);
             EXPECT_TRUE(f.writeFail.always);
             EXPECT_EQ(f.readFail.nth, 7u);
             EXPECT_TRUE(f.absent);
             EXPECT_EQ(f.linkLostAfter, 1000u);
             EXPECT_EQ(f.wornBytes, std::vector<uint32_t>{0x10});
             EXPECT_EQ(f.flippedBits, std::vector<uint32_t>{0x1001});
         }},
        {"SIMFAULT=nak:2 SIMFAULT=absent",
         [](const Config &c) {
             EXPECT_EQ(c.faults.nakByte, 0u); // the later SIMFAULT replaces the earlier one
             EXPECT_TRUE(c.faults.absent);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Config config;
        std::string error;
        ASSERT_TRUE(ParseConfig(c.text, config, error)) << error;
        c.check(config);
    }
}

TEST(Config, RefusedStringsNameTheCulprit) {
    struct Case {
        const char *text;
        const char *named;
    };
    const Case cases[] = {
        {"SIMFOO=1", "SIMFOO"},
        {"SIMPART=24C3", "24C3"},
        {"SIMADDR=8", "SIMADDR"},
        {"SIMADDR=", "SIMADDR"},
        {"SPIPORT=x", "SPIPORT"},
        {"SPIPORT=+3", "SPIPORT"},
        {"SIMLINES=6,7", "SIMLINES"},
        {"SIMLINES=6,7,7", "SIMLINES"},
        {"SIMLINES=6,7,16", "SIMLINES"},
        {"SIMTWR=-1", "SIMTWR"},
        {"SIMSTRETCH=600001", "SIMSTRETCH"},
        {"SIMWP=maybe", "SIMWP"},
        {"SIMFAULT=nak:0", "nak:0"},
        {"SIMFAULT=nak:3@", "nak:3@"},
        {"SIMFAULT=wfail:sometimes", "wfail:sometimes"},
        {"SIMFAULT=flip:0x10", "flip:0x10"},
        {"SIMFAULT=flip:0x10/0x100", "flip:0x10/0x100"},
        {"SIMFAULT=bogus", "bogus"},
        {"SIMFAULT=absent:1", "absent:1"},
        {"SIMPART", "SIMPART"},
        {"=5", "=5"},
        {"SIMFILE=\"/tmp/x", "unterminated"},
        // control bytes in a quoted word are escaped, so the error stays one line
        {"SIMFAULT=\"nak:1\nx\"", "nak:1\\x0ax"},
        {"\x01\xfe=1", "'\\x01\\xfe'"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Config config;
        std::string error;
        EXPECT_FALSE(ParseConfig(c.text, config, error));
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(Config, KeyInTheStringWinsOverTheEnvironment) {
    hoplinktest::SetEnvironment("HOPLINK_SIM", "SIMPART=24C02 SIMTWR=9");
    Config config;
    std::string error;
    ASSERT_TRUE(LoadConfig("SIMPART=24C64", config, error)) << error;
    EXPECT_EQ(config.part, "24C64");
    EXPECT_EQ(config.writeCycleMs, 9u);
    hoplinktest::SetEnvironment("HOPLINK_SIM", nullptr);
}

TEST(Config, BadEnvironmentIsNamedAsSuch) {
    hoplinktest::SetEnvironment("HOPLINK_SIM", "SIMNOPE=1");
    Config config;
    std::string error;
    EXPECT_FALSE(LoadConfig("", config, error));
    EXPECT_NE(error.find("SIMNOPE"), std::string::npos);
    EXPECT_NE(error.find("HOPLINK_SIM"), std::string::npos);
    hoplinktest::SetEnvironment("HOPLINK_SIM", nullptr);
}

TEST(Config, PartsTableIsConsistent) {
    for (const auto &part : hoplink::sim::Parts()) {
        SCOPED_TRACE(part.name);
        EXPECT_EQ(part.size & (part.size - 1), 0u);
        EXPECT_EQ(part.size % part.pageSize, 0u);
        EXPECT_EQ(part.size % part.ReadWindow(), 0u);
        // address bytes plus block bits cover exactly the memory
        const uint32_t blockBits = static_cast<uint32_t>(std::popcount(part.blockMask));
        EXPECT_EQ(1u << (8 * part.addressBytes + blockBits) >= part.size, true);
        EXPECT_LT(1u << (8 * (part.addressBytes - 1) + blockBits), part.size);
        EXPECT_EQ(hoplink::sim::FindPart(part.name), &part);
    }
    EXPECT_EQ(hoplink::sim::FindPart("24c1025")->blockMask, 0x08);
    EXPECT_EQ(hoplink::sim::FindPart("24C2048"), nullptr);
}

} // namespace
