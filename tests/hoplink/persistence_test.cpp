// The backing file: contents across opens, its size, one opener at a time.
#include "bitbang.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using hoplinktest::Bench;
using hoplinktest::Bytes;

std::string FreshPath(const char *name) {
    const auto path = std::filesystem::path(testing::TempDir()) /
                      (std::string("hoplink_") + name + "_" +
                       testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin");
    std::filesystem::remove(path);
    return path.string();
}

std::vector<uint8_t> FileBytes(const std::string &path) {
    const std::string bytes = zeltest::ReadFile(path);
    return {bytes.begin(), bytes.end()};
}

std::unique_ptr<hoplink::sim::Target> Open(const std::string &config, std::string &error) {
    hoplink::sim::Config parsed;
    EXPECT_TRUE(hoplink::sim::ParseConfig(config, parsed, error)) << error;
    return hoplink::sim::Target::Create(parsed, error);
}

TEST(Persistence, MissingFileIsCreatedErased) {
    const std::string path = FreshPath("new");
    {
        Bench b("SIMPART=24C02 SIMFILE=" + path);
        ASSERT_TRUE(b.target);
    }
    EXPECT_EQ(FileBytes(path), std::vector<uint8_t>(256, 0xFF));
}

TEST(Persistence, EmptyFileIsTakenAsNew) {
    const std::string path = FreshPath("empty");
    std::ofstream(path, std::ios::binary).close();
    {
        Bench b("SIMPART=24C01 SIMFILE=" + path);
        ASSERT_TRUE(b.target);
    }
    EXPECT_EQ(FileBytes(path), std::vector<uint8_t>(128, 0xFF));
}

TEST(Persistence, CommittedWriteIsInTheFileAndSurvivesReopen) {
    const std::string path = FreshPath("keep");
    {
        Bench b("SIMPART=24C02 SIMFILE=" + path);
        ASSERT_TRUE(b.target);
        b.master->WriteProtect(false);
        ASSERT_EQ(b.master->Write(0xA0, Bytes({0x20, 0xC0, 0xDE})), 4);
        // in the file while the target still runs, before any acknowledge
        const auto bytes = FileBytes(path);
        ASSERT_EQ(bytes.size(), 256u);
        EXPECT_EQ(bytes[0x20], 0xC0);
        EXPECT_EQ(bytes[0x21], 0xDE);
        b.target->Memory()[0x30] = 0x33;
    }
    Bench again("SIMPART=24C02 SIMFILE=" + path);
    ASSERT_TRUE(again.target);
    EXPECT_EQ(again.master->ReadAt(0xA0, Bytes({0x20}), 2), Bytes({0xC0, 0xDE}));
    EXPECT_EQ(again.target->Memory()[0x30], 0x33);
}

TEST(Persistence, FileOfAnotherSizeIsRefused) {
    const std::string path = FreshPath("size");
    std::ofstream(path, std::ios::binary) << std::string(300, 'x');
    std::string error;
    EXPECT_FALSE(Open("SIMPART=24C02 SIMFILE=" + path, error));
    EXPECT_NE(error.find("300"), std::string::npos) << error;
    EXPECT_NE(error.find("256"), std::string::npos) << error;
    EXPECT_EQ(FileBytes(path).size(), 300u); // left as it was
}

TEST(Persistence, SecondOpenerIsRefusedWhileTheFirstHoldsTheFile) {
    const std::string path = FreshPath("lock");
    std::string error;
    auto first = Open("SIMPART=24C02 SIMFILE=" + path, error);
    ASSERT_TRUE(first) << error;
    EXPECT_FALSE(Open("SIMPART=24C02 SIMFILE=" + path, error));
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
    first.reset();
    EXPECT_TRUE(Open("SIMPART=24C02 SIMFILE=" + path, error)) << error;
}

TEST(Persistence, UnopenableFileIsRefused) {
    std::string error;
    EXPECT_FALSE(Open("SIMFILE=" + FreshPath("x") + "/no/such/dir.bin", error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

} // namespace
