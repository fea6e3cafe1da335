// Serial numbers without a device: the bytes a number is written as, and
// the counter file's promises (each number handed out once; a failure
// before the write's job started gives it back, one after loses it; every
// number's fate in the log, also after a run that died).
#include "core/serial.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

namespace zelprog {
namespace {

namespace fs = std::filesystem;

struct EncodeCase {
    uint64_t value;
    int width;
    SerialEncoding encoding;
    Bytes bytes; // empty: does not fit
};

TEST(SerialEncoding, EachEncodingGivesItsBytesOrRefusesWhatDoesNotFit) {
    using E = SerialEncoding;
    const std::vector<EncodeCase> cases = {
        {0x01020304, 4, E::LittleEndian, {0x04, 0x03, 0x02, 0x01}},
        {0x01020304, 4, E::BigEndian, {0x01, 0x02, 0x03, 0x04}},
        {0xFF, 1, E::LittleEndian, {0xFF}},
        {0x100, 1, E::LittleEndian, {}},
        {UINT64_MAX, 8, E::BigEndian, Bytes(8, 0xFF)},
        {42, 6, E::Ascii, {'0', '0', '0', '0', '4', '2'}},
        {999999, 6, E::Ascii, {'9', '9', '9', '9', '9', '9'}},
        {1000000, 6, E::Ascii, {}},
        {123456, 3, E::Bcd, {0x12, 0x34, 0x56}},
        {7, 2, E::Bcd, {0x00, 0x07}},
        {10000, 2, E::Bcd, {}},
        {1, 0, E::LittleEndian, {}},
        {1, 9, E::LittleEndian, {}},
    };
    for (const EncodeCase &c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " in " + std::to_string(c.width) + " " +
                     SerialEncodingName(c.encoding));
        Bytes bytes = {0xAA};
        const bool fits = EncodeSerial(c.value, SerialFormat{c.width, c.encoding}, bytes);
        EXPECT_EQ(fits, !c.bytes.empty());
        EXPECT_EQ(bytes, fits ? c.bytes : Bytes{0xAA}) << "refused: the bytes are left alone";
    }
}

class Counter : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("zelprog-serial-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        file_ = dir_ / "units.counter";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    CounterOptions Options(std::optional<uint64_t> first = std::nullopt, uint64_t step = 1) const {
        return {file_, step, first};
    }
    std::vector<std::string> LogLines() const {
        std::istringstream in(zeltest::ReadFile(fs::path(file_) += ".log"));
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line.substr(line.find(' ') + 1)); // without the time
        return lines;
    }
    void WriteCounter(const std::string &text) const { std::ofstream(file_, std::ios::binary) << text; }
    void AppendLog(const std::string &line) const {
        std::ofstream(fs::path(file_) += ".log", std::ios::binary | std::ios::app)
            << "2026-01-01T00:00:00Z " << line << "\n";
    }

    fs::path dir_, file_;
};

TEST_F(Counter, ReservedNumbersAreWrittenOrGivenBackAndNeverHandedOutTwice) {
    {
        SerialCounter counter(Options(100, 10), {});
        ASSERT_TRUE(counter.Open().Ok());
        uint64_t n = 0;
        ASSERT_TRUE(counter.Reserve(n).Ok());
        EXPECT_EQ(n, 100u);
        EXPECT_NE(zeltest::ReadFile(file_).find("reserved 100"), std::string::npos) << "on disk before the write";
        ASSERT_TRUE(counter.Written(n, "at 0x20").Ok());
        ASSERT_TRUE(counter.Reserve(n).Ok());
        EXPECT_EQ(n, 110u);
        ASSERT_TRUE(counter.GiveBack(n, "writing failed").Ok());
        EXPECT_EQ(counter.Next(), 110u);
        ASSERT_TRUE(counter.Reserve(n).Ok());
        EXPECT_EQ(n, 110u) << "a failure skips nothing";
        // the run dies here, with 110 reserved
    }
    SerialCounter next(Options(std::nullopt, 10), {});
    const Status reopened = next.Open();
    ASSERT_TRUE(reopened.Ok()) << reopened.message;
    EXPECT_EQ(next.Next(), 120u) << "a number reserved by a run that died is not used again";
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "100 written at 0x20", "110 given back: writing failed",
                              "110 lost: reserved by a run that did not finish (the unit may hold it)"}));
    EXPECT_EQ(zeltest::ReadFile(file_).find("reserved"), std::string::npos);
}

struct WriteCase {
    const char *name;
    bool jobStarted;
    bool fails;
    uint64_t next;      // the counter's next number afterwards
    const char *logged; // the log line, without the time
};

TEST_F(Counter, AFailedWriteGivesItsNumberBackOnlyWhenNoJobOfItStarted) {
    const std::vector<WriteCase> cases = {
        {"written", true, false, 8, "7 written at 0x20"},
        {"failed before its job", false, true, 7, "7 given back: no temporary file"},
        {"failed in its job", true, true, 8, "7 lost: no temporary file (the unit may hold it)"},
    };
    for (const WriteCase &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(fs::path(file_) += ".log");
        WriteCounter("next 7\n");
        {
            SerialCounter counter(Options(), {});
            ASSERT_TRUE(counter.Open().Ok());
            uint64_t number = 0;
            const Status status = WriteSerial(
                counter, SerialFormat{}, "at 0x20", {},
                [&](const Bytes &bytes, const JobControl &control) {
                    EXPECT_EQ(bytes, (Bytes{7, 0, 0, 0}));
                    if (c.jobStarted)
                        control.started();
                    return c.fails ? Status::Fail(kExitFile, "no temporary file") : Status{};
                },
                number);
            EXPECT_EQ(status.Ok(), !c.fails) << status.message;
            EXPECT_EQ(number, 7u);
        }
        EXPECT_EQ(LogLines(), std::vector<std::string>{c.logged});
        SerialCounter reopened(Options(), {});
        ASSERT_TRUE(reopened.Open().Ok());
        EXPECT_EQ(reopened.Next(), c.next);
    }
}

TEST_F(Counter, AFirstNumberThatDoesNotFitIsRefusedBeforeAnyFileIsMade) {
    EXPECT_EQ(CheckSerialArguments(Options(256), SerialFormat{1, SerialEncoding::LittleEndian}).code, kExitUsage);
    EXPECT_TRUE(CheckSerialArguments(Options(255), SerialFormat{1, SerialEncoding::LittleEndian}).Ok());
    EXPECT_TRUE(fs::is_empty(dir_));
}

struct SettleCase {
    const char *name;
    const char *lastLog; // null: no log
    uint64_t next;
    std::size_t logLines;
};

TEST_F(Counter, ARunThatDiedAfterLoggingIsSettledFromTheLog) {
    const std::vector<SettleCase> cases = {
        {"died before logging", nullptr, 6, 1},
        {"died after logging the write", "5 written at 0x20", 6, 1},
        {"died after logging the give-back", "5 given back: verifying failed", 5, 1},
        {"died after logging the loss", "5 lost: reserved by a run that did not finish", 6, 1},
        {"the last line is another number's", "4 written at 0x20", 6, 2},
    };
    for (const SettleCase &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(fs::path(file_) += ".log");
        WriteCounter("next 6\nreserved 5\n");
        if (c.lastLog != nullptr)
            AppendLog(c.lastLog);
        SerialCounter counter(Options(), {});
        const Status opened = counter.Open();
        ASSERT_TRUE(opened.Ok()) << opened.message;
        EXPECT_EQ(counter.Next(), c.next);
        EXPECT_EQ(LogLines().size(), c.logLines);
        EXPECT_EQ(zeltest::ReadFile(file_).find("reserved"), std::string::npos);
    }
}

TEST_F(Counter, WhatCannotBeTrustedIsRefusedAndChangesNothing) {
    EXPECT_EQ(SerialCounter(Options(), {}).Open().code, kExitUsage) << "no counter file and no --first";
    EXPECT_FALSE(fs::exists(file_));
    WriteCounter("next 7\n");
    EXPECT_EQ(SerialCounter(Options(1), {}).Open().code, kExitUsage) << "--first on an existing counter";
    for (const char *bad :
         {"", "next\n", "next 7x\n", "next 7\nnext 8\n", "count 7\n", "next 99999999999999999999\n"}) {
        SCOPED_TRACE(bad);
        WriteCounter(bad);
        EXPECT_EQ(SerialCounter(Options(), {}).Open().code, kExitFile);
        EXPECT_EQ(zeltest::ReadFile(file_), bad);
    }
    WriteCounter("next 18446744073709551615\n");
    SerialCounter full(Options(), {});
    ASSERT_TRUE(full.Open().Ok());
    uint64_t n = 0;
    EXPECT_EQ(full.Reserve(n).code, kExitUsage) << "the counter cannot wrap";
}

TEST_F(Counter, ASecondUserOfTheCounterWaitsUntilTheFirstIsDone) {
    SerialCounter first(Options(1), {});
    ASSERT_TRUE(first.Open().Ok());
    std::vector<std::string> notes;
    int polls = 0;
    JobControl control{[&](const Event &e) { notes.push_back(e.value("text", "")); }, [&] { return ++polls > 3; }};
    SerialCounter second(Options(), control);
    const Status waited = second.Open();
    EXPECT_EQ(waited.code, kExitInterrupted) << waited.message;
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("another zelprog is using the counter"), std::string::npos);
}

} // namespace
} // namespace zelprog
