// Serial numbers without a device: the bytes a number is written as, and
// the counter file's promises (each number handed out once; a failure
// before the write's job started gives it back, one after loses it; every
// number's fate in the log, also after a run that died).
#include "core/ledger.h"
#include "core/serial.h"
#include "core/serial_list.h"
#include "core/sha256.h"
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

TEST_F(Counter, NumbersOutAtOnceAreEachSettledAndAGiveBackNeverRewindsPastOneStillOut) {
    {
        SerialCounter counter(Options(1), {});
        ASSERT_TRUE(counter.Open().Ok());
        uint64_t a = 0, b = 0, c = 0, d = 0;
        ASSERT_TRUE(counter.Reserve(a).Ok() && counter.Reserve(b).Ok() && counter.Reserve(c).Ok());
        ASSERT_TRUE(counter.Written(b, "at 0x20").Ok());
        ASSERT_TRUE(counter.GiveBack(a, "the site failed to start").Ok());
        EXPECT_EQ(counter.Next(), 4u) << "3 is still out: 1 is not handed out again";
        ASSERT_TRUE(counter.Reserve(d).Ok());
        EXPECT_EQ(d, 4u);
        // the run dies here, with 3 and 4 out
    }
    SerialCounter next(Options(), {});
    ASSERT_TRUE(next.Open().Ok());
    EXPECT_EQ(next.Next(), 5u);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{
                  "2 written at 0x20",
                  "1 given back: the site failed to start (not handed out again: a later number was out)",
                  "3 lost: reserved by a run that did not finish (the unit may hold it)",
                  "4 lost: reserved by a run that did not finish (the unit may hold it)"}));
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
            const std::unique_ptr<Ledger> ledger = MakeLedger({.counter = Options()}, {});
            ASSERT_TRUE(ledger->Open().Ok());
            SerialValue value;
            const Status status = WriteSerial(
                *ledger, "", [](const SerialValue &) { return "at 0x20"; }, {},
                [&](const Bytes &bytes, const JobControl &control) {
                    EXPECT_EQ(bytes, (Bytes{7, 0, 0, 0}));
                    if (c.jobStarted) {
                        EXPECT_TRUE(control.starting().Ok());
                        control.started();
                    }
                    return c.fails ? Status::Fail(kExitFile, "no temporary file") : Status{};
                },
                value);
            EXPECT_EQ(status.Ok(), !c.fails) << status.message;
            EXPECT_EQ(value.number, 7u);
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

TEST(Sha256, KnownDigestsAcrossTheBlockEdges) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", // 56 bytes: the length needs a second block
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
    };
    for (const auto &[data, digest] : cases)
        EXPECT_EQ(Sha256Hex(data), digest) << data.size() << " bytes";
}

TEST(SerialList, HexAndQuotedTextAreValuesAndAnythingElseNamesItsLine) {
    std::vector<SerialEntry> entries;
    std::string error;
    ASSERT_TRUE(ParseSerialList("# units of the first lot\n0x0a1B\n\n  \"SN-01\"  \r\n", entries, error)) << error;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].bytes, (Bytes{0x0a, 0x1b}));
    EXPECT_EQ(entries[1].bytes, (Bytes{'S', 'N', '-', '0', '1'}));
    EXPECT_EQ(entries[1].text, "SN-01");
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"0x1\n", "line 1"},
        {"0x\n", "line 1"},
        {"0x12\n0xzz\n", "line 2"},
        {"1234\n", "line 1"},
        {"\"open\n", "line 1"},
        {"\"a\"b\"\n", "line 1"},
        {"\"\"\n", "line 1"},
        {"# none\n\n", "no serial value"},
        {"0x" + std::string(2 * kMaxListValue + 2, 'a') + "\n", "line 1"},
    };
    for (const auto &[text, named] : bad) {
        SCOPED_TRACE(text);
        entries.clear();
        EXPECT_FALSE(ParseSerialList(text, entries, error));
        EXPECT_NE(error.find(named), std::string::npos) << error;
        EXPECT_TRUE(entries.empty());
    }
}

TEST_F(Counter, AListHandsOutItsValuesInOrderGivesBackAndEndsWhenUsedUp) {
    const fs::path list = dir_ / "serials.txt";
    std::ofstream(list, std::ios::binary) << "0xa1\n\"B2\"\n0xc3\n";
    const LedgerOptions options{.serialList = list};
    std::vector<std::string> taken;
    auto take = [&](bool giveBack) {
        const std::unique_ptr<Ledger> ledger = MakeLedger(options, {});
        Status status = ledger->Open();
        SerialValue value;
        if (status.Ok())
            status = ledger->Reserve("", value);
        if (status.Ok())
            status = giveBack ? ledger->GiveBack(value, "no unit") : ledger->Written(value, "at 0x20");
        if (status.Ok())
            taken.push_back(value.text + "@" + std::to_string(value.number));
        return status;
    };
    ASSERT_TRUE(take(false).Ok());
    ASSERT_TRUE(take(true).Ok());
    ASSERT_TRUE(take(false).Ok());
    ASSERT_TRUE(take(false).Ok());
    const Status usedUp = take(false);
    EXPECT_EQ(usedUp.code, kExitUsage);
    EXPECT_NE(usedUp.message.find("every value"), std::string::npos) << usedUp.message;
    EXPECT_EQ(taken, (std::vector<std::string>{"0xa1@1", "B2@2", "B2@2", "0xc3@3"}));
    EXPECT_NE(zeltest::ReadFile(fs::path(list) += ".used.log").find("2 given back: no unit"), std::string::npos);
}

TEST_F(Counter, EveryUnitGetsARecordThatTheFilterFinds) {
    WriteCounter("next 7\n");
    const std::unique_ptr<Ledger> ledger = MakeLedger({.counter = Options()}, {});
    ASSERT_TRUE(ledger->Open().Ok());
    for (bool fails : {false, true, false}) {
        UnitRecord record{.station = "bench", .image = "fw.bin"};
        SerialValue value;
        WriteSerial(
            *ledger, "site", [](const SerialValue &) { return "at 0x20"; }, {},
            [&](const Bytes &, const JobControl &control) {
                EXPECT_TRUE(control.starting().Ok());
                control.started();
                if (control.sink) // a verify's mismatch, as the job runner tells it
                    control.sink(MismatchEvent(0x20, 1, 2));
                return fails ? Status::Fail(kExitJobFailed, "verify failed") : Status{};
            },
            value, &record);
    }
    std::vector<UnitRecord> all, lost, eight;
    ASSERT_TRUE(ledger->Records({}, all).Ok());
    ASSERT_TRUE(ledger->Records({.result = "lost"}, lost).Ok());
    ASSERT_TRUE(ledger->Records({.serial = "8"}, eight).Ok());
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].serial, "7");
    EXPECT_EQ(all[0].result, "written");
    EXPECT_EQ(all[0].mismatches, 1u);
    EXPECT_EQ(all[0].where, "at 0x20");
    EXPECT_EQ(all[0].image, "fw.bin");
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_EQ(lost[0].reason, "verify failed");
    ASSERT_EQ(eight.size(), 1u);
    EXPECT_EQ(eight[0].result, "lost");
    std::vector<UnitRecord> none;
    ASSERT_TRUE(ledger->Records({.since = "2999"}, none).Ok());
    EXPECT_TRUE(none.empty());
}

#ifndef ZELPROG_POSTGRESQL
TEST(Ledger, ABuildWithoutPostgresqlRefusesADatabaseCounterClearly) {
    const std::unique_ptr<Ledger> ledger = MakeLedger({.counter = {.file = "postgresql://line/units"}}, {});
    const Status status = ledger->Open();
    EXPECT_EQ(status.code, kExitUsage);
    EXPECT_NE(status.message.find("built without PostgreSQL"), std::string::npos) << status.message;
}
#endif

} // namespace
} // namespace zelprog
