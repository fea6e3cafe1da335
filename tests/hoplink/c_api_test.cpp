// The six exported functions of the shared library.
#include "environment.h"
#include "hoplink.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class CApi : public testing::Test {
protected:
    void TearDown() override { hoplink_close(); }
};

TEST_F(CApi, LibraryStringsOpen) {
    for (const char *config : {"SPITRANS=LPT SPIPORT=3", "SPITRANS=USB", " SPIPORT=3", "",
                               "SPITRANS=LPT SPIPORT=-7", "SIMPART=24C02 SIMTWR=0"}) {
        SCOPED_TRACE(config);
        EXPECT_NE(hoplink_open(config, -1, 0x1234), 0);
        EXPECT_EQ(hoplink_cpu_stop(), 0);
        uint16_t value = 0;
        EXPECT_EQ(hoplink_read(0xFFC2, &value), 0);
        EXPECT_EQ(value, 0xFFFF);
    }
    EXPECT_NE(hoplink_open(nullptr, -1, 0), 0);
}

TEST_F(CApi, BadConfigurationFailsWithOneLineNamingIt) {
    struct Case {
        const char *config;
        const char *named;
    };
    const Case cases[] = {{"SIMBAD=1", "SIMBAD"}, {"SIMADDR=9", "SIMADDR"}, {"SIMPART=24C99", "24C99"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.config);
        testing::internal::CaptureStderr();
        EXPECT_EQ(hoplink_open(c.config, -1, 0), 0);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_NE(printed.find(c.named), std::string::npos) << printed;
        EXPECT_EQ(printed.find('\n'), printed.size() - 1) << printed;
        uint16_t value = 0;
        EXPECT_NE(hoplink_read(0xFFC2, &value), 0); // not open
    }
}

TEST_F(CApi, EnvironmentConfiguresWhatTheStringLeavesOut) {
    hoplinktest::SetEnvironment("HOPLINK_SIM", "SIMFAULT=rfail:always");
    ASSERT_NE(hoplink_open("SPITRANS=LPT", -1, 0), 0);
    uint16_t value = 0;
    EXPECT_NE(hoplink_read(0xFFC2, &value), 0);
    ASSERT_NE(hoplink_open("SPITRANS=LPT SIMFAULT=", -1, 0), 0);
    EXPECT_EQ(hoplink_read(0xFFC2, &value), 0);
    hoplinktest::SetEnvironment("HOPLINK_SIM", nullptr);
}

TEST_F(CApi, AccessesFailWhileClosedAndOnUnknownRegisters) {
    uint16_t value = 0;
    EXPECT_NE(hoplink_write(0x0061, 0), 0);
    EXPECT_NE(hoplink_read(0xFFC2, &value), 0);
    EXPECT_NE(hoplink_cpu_stop(), 0);
    EXPECT_EQ(hoplink_close(), 0);
    ASSERT_NE(hoplink_open("", -1, 0), 0);
    EXPECT_EQ(hoplink_write(0x0061, 0x0080), 0);
    EXPECT_EQ(hoplink_write(0x0062, 0), 0);
    EXPECT_NE(hoplink_write(0x0060, 0), 0);
    EXPECT_NE(hoplink_write(0xFFC2, 0), 0);
    EXPECT_NE(hoplink_read(0x0061, &value), 0);
    EXPECT_NE(hoplink_read(0xFFC2, nullptr), 0);
    EXPECT_EQ(hoplink_read(0xFFC2, &value), 0);
    EXPECT_EQ(value, 0xFF7F);
    EXPECT_EQ(hoplink_close(), 0);
    EXPECT_NE(hoplink_write(0x0061, 0), 0);
}

TEST_F(CApi, ReopeningStartsAFreshTarget) {
    ASSERT_NE(hoplink_open("", -1, 0), 0);
    EXPECT_EQ(hoplink_write(0x0061, 0x0001), 0);
    ASSERT_NE(hoplink_open("", -1, 0), 0);
    uint16_t value = 0;
    EXPECT_EQ(hoplink_read(0xFFC2, &value), 0);
    EXPECT_EQ(value, 0xFFFF);
}

TEST_F(CApi, EnumerateListsWholePortNames) {
    struct Case {
        intptr_t size;
        const char *listed;
    };
    const Case cases[] = {
        {64, "sim0\nsim1\n"}, {11, "sim0\nsim1\n"}, {10, "sim0\n"}, {6, "sim0\n"}, {5, ""}, {1, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        char names[72];
        std::memset(names, '#', sizeof names);
        int32_t count = -1;
        EXPECT_EQ(hoplink_enumerate_strings(reinterpret_cast<intptr_t>(&count), reinterpret_cast<intptr_t>(names),
                                            c.size, 0),
                  0);
        EXPECT_EQ(count, 2);
        EXPECT_STREQ(names, c.listed);
        EXPECT_EQ(names[c.size], '#'); // nothing written past the buffer
    }
}

TEST_F(CApi, EnumerateRefusesBadArguments) {
    char names[8];
    int32_t count = -1;
    const auto countAddress = reinterpret_cast<intptr_t>(&count);
    const auto namesAddress = reinterpret_cast<intptr_t>(names);
    EXPECT_NE(hoplink_enumerate_strings(countAddress, namesAddress, sizeof names, 1), 0);
    EXPECT_NE(hoplink_enumerate_strings(countAddress, namesAddress, 0, 0), 0);
    EXPECT_EQ(hoplink_enumerate_strings(countAddress, 0, 0, 0), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(hoplink_enumerate_strings(0, 0, 0, 0), 0);
}

} // namespace
