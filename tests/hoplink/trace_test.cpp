// The waveform and the decoded transaction log.
#include "bitbang.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using hoplinktest::Bench;
using hoplinktest::Bytes;

std::string TracePath(const char *suffix) {
    return (std::filesystem::path(testing::TempDir()) /
            (std::string("hoplink_trace_") + testing::UnitTest::GetInstance()->current_test_info()->name() +
             suffix))
        .string();
}

std::vector<std::string> Lines(const std::string &path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Drops the "@step " prefix of a log line.
std::string Body(const std::string &line) {
    const size_t blank = line.find(' ');
    return line.substr(blank + 1);
}

TEST(Trace, LogHasOneDecodedLinePerTransaction) {
    const std::string log = TracePath(".log");
    {
        Bench b("SIMPART=24C02 SIMLOG=" + log);
        ASSERT_TRUE(b.target);
        b.master->WriteProtect(false);
        b.master->Write(0xA0, Bytes({0x10, 0x5A}));
        b.master->Probe(0xA0);
        b.clock.Advance(5000);
        b.master->ReadAt(0xA0, Bytes({0x10}), 2);
        b.master->Start();
        b.master->WriteBits(0xA0, 3);
        b.master->Stop();
    }
    const auto lines = Lines(log);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(Body(lines[0]), "S A0 W ACK 10 ACK 5A ACK P");
    EXPECT_EQ(Body(lines[1]), "S A0 W NAK P");
    EXPECT_EQ(Body(lines[2]), "S A0 W ACK 10 ACK Sr A0 R ACK 5A ACK FF NAK P");
    EXPECT_EQ(Body(lines[3]), "S [3 bits] P");
    EXPECT_EQ(lines[0][0], '@');
}

TEST(Trace, ContentionShowsInLogAndWaveform) {
    const std::string log = TracePath(".log");
    const std::string vcd = TracePath(".vcd");
    {
        Bench b("SIMPART=24C02 SIMLOG=" + log + " SIMVCD=" + vcd);
        ASSERT_TRUE(b.target);
        b.master->Start();
        b.master->WriteBits(0xA0, 8);
        b.master->DriveHigh(7);
        b.master->Release(7);
    }
    const auto lines = Lines(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("contention on lines 0x0080"), std::string::npos) << lines[0];
    EXPECT_NE(zeltest::ReadFile(vcd).find("1$"), std::string::npos);
}

TEST(Trace, WaveformNamesTheLinesAndStepsPerAccess) {
    const std::string vcd = TracePath(".vcd");
    {
        Bench b("SIMPART=24C02 SIMVCD=" + vcd);
        ASSERT_TRUE(b.target);
        b.master->Probe(0xA0);
    }
    const auto lines = Lines(vcd);
    auto has = [&](const std::string &text) { return std::find(lines.begin(), lines.end(), text) != lines.end(); };
    EXPECT_TRUE(has("$timescale 1 us $end"));
    EXPECT_TRUE(has("$var wire 1 ! scl $end"));
    EXPECT_TRUE(has("$var wire 1 \" sda $end"));
    EXPECT_TRUE(has("$var wire 1 # wp $end"));
    EXPECT_TRUE(has("$enddefinitions $end"));
    // the start: data falls (access 3) while the clock is high, then the clock falls (access 4)
    const auto at = [&](const std::string &text) {
        return std::find(lines.begin(), lines.end(), text) - lines.begin();
    };
    ASSERT_TRUE(has("#3"));
    EXPECT_EQ(lines[at("#3") + 1], "0\"");
    EXPECT_EQ(lines[at("#4") + 1], "0!");
    // time only grows
    long last = -1;
    for (const auto &line : lines)
        if (!line.empty() && line[0] == '#') {
            const long step = std::stol(line.substr(1));
            EXPECT_GT(step, last);
            last = step;
        }
    // the trace ends one step after its last change, so that a decoder sees
    // the final stop complete
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()[0], '#') << lines.back();
}

TEST(Trace, UnwritableTraceRefusesTheTarget) {
    hoplink::sim::Config config;
    std::string error;
    ASSERT_TRUE(hoplink::sim::ParseConfig("SIMVCD=" + TracePath("/none/x.vcd"), config, error));
    EXPECT_FALSE(hoplink::sim::Target::Create(config, error));
    EXPECT_NE(error.find("SIMVCD"), std::string::npos) << error;
}

} // namespace
