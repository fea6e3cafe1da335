// What the image jobs do to the EEPROM and to files: differential writes,
// the fill of the clear, compare messages, the image files read and written.
#include <gtest/gtest.h>

#include <algorithm>

#include "jobs/job_fixture.h"

namespace zeltest {
namespace {

constexpr size_t kBytes = 256; // 24C02
constexpr size_t kWords = kBytes / 2;
const char *const k24C02 = "SIMPART=24C02 SIMTWR=0";

class ImageJobTest : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        ASSERT_TRUE(Attach(k24C02, 8, 0));
    }
};

struct ProgramCase {
    const char *name;
    uint8_t before;             // every EEPROM byte before the job
    std::vector<uint16_t> file; // the file names words 0 .. file.size() - 1
    uint64_t writeCycles;
    std::vector<uint16_t> after; // the EEPROM's words afterwards
};

void PrintTo(const ProgramCase &c, std::ostream *os) { PrintCase(c, os); }

std::vector<uint16_t> Words(uint16_t value, size_t count = kWords) { return std::vector<uint16_t>(count, value); }

std::vector<uint16_t> With(std::vector<uint16_t> words, size_t index, uint16_t value) {
    words[index] = value;
    return words;
}

std::vector<uint16_t> Concat(std::vector<uint16_t> head, const std::vector<uint16_t> &tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

const ProgramCase kProgramCases[] = {
    {"FromErasedWritesEveryByte", 0xFF, Words(0x5A5A), 256, Words(0x5A5A)},
    {"ImageAlreadyThereWritesNothing", 0x5A, Words(0x5A5A), 0, Words(0x5A5A)},
    {"OnlyDifferingBytesAreWritten", 0x5A, With(With(Words(0x5A5A), 5, 0xA55A), 9, 0x0000), 3,
     With(With(Words(0x5A5A), 5, 0xA55A), 9, 0x0000)},
    {"WordsTheFileDoesNotNameBecomeErased", 0x5A, Words(0x5A5A, 16), 224,
     Concat(Words(0x5A5A, 16), Words(0xFFFF, kWords - 16))},
};

class ProgramWrites : public ImageJobTest, public testing::WithParamInterface<ProgramCase> {};

TEST_P(ProgramWrites, OnlyBytesThatDiffer) {
    const ProgramCase &c = GetParam();
    Target().Fill(c.before);
    const std::string path = TempPath("image.txt");
    WriteImageFile(path, c.file);
    const uint64_t cyclesBefore = Counters().writeCycles;

    EXPECT_EQ(zelProgram(path.c_str(), 1, 1), 1);

    EXPECT_EQ(Counters().writeCycles - cyclesBefore, c.writeCycles);
    EXPECT_EQ(WordsOf(Memory()), c.after);
}

INSTANTIATE_TEST_SUITE_P(Program, ProgramWrites, testing::ValuesIn(kProgramCases),
                         [](const testing::TestParamInfo<ProgramCase> &info) {
                             return std::string(info.param.name);
                         });

struct ClearCase {
    const char *name;
    uint8_t fill;
    size_t alreadyFilled; // leading bytes that hold `fill` before the job
    uint64_t writeCycles;
};

void PrintTo(const ClearCase &c, std::ostream *os) { PrintCase(c, os); }

const ClearCase kClearCases[] = {
    {"FillsEveryWordWithBothHalves", 0xA5, 0, 256},
    {"SkipsBytesThatHoldTheFill", 0xA5, 10, 246},
    {"ErasedEepromClearedToFFWritesNothing", 0xFF, 256, 0},
};

class ClearFills : public ImageJobTest, public testing::WithParamInterface<ClearCase> {};

TEST_P(ClearFills, EveryByte) {
    const ClearCase &c = GetParam();
    std::vector<uint8_t> before(kBytes, 0x00);
    std::fill_n(before.begin(), c.alreadyFilled, c.fill);
    SetMemory(before);
    const uint64_t cyclesBefore = Counters().writeCycles;

    EXPECT_EQ(zelClear(c.fill, 1, 1), 1);

    EXPECT_EQ(Counters().writeCycles - cyclesBefore, c.writeCycles);
    EXPECT_EQ(Memory(), std::vector<uint8_t>(kBytes, c.fill));
}

INSTANTIATE_TEST_SUITE_P(Clear, ClearFills, testing::ValuesIn(kClearCases),
                         [](const testing::TestParamInfo<ClearCase> &info) {
                             return std::string(info.param.name);
                         });

struct CompareCase {
    const char *name;
    std::vector<uint8_t> memory;
    std::vector<uint16_t> file;
    std::vector<std::string> messages;
    int result;
};

void PrintTo(const CompareCase &c, std::ostream *os) { PrintCase(c, os); }

std::vector<uint8_t> ErasedBytes() { return std::vector<uint8_t>(kBytes, 0xFF); }

std::vector<uint8_t> BytesWith(size_t index, uint8_t value) {
    std::vector<uint8_t> bytes = ErasedBytes();
    bytes[index] = value;
    return bytes;
}

const CompareCase kCompareCases[] = {
    {"MatchingImageGivesNoMessage", ErasedBytes(), Words(0xFFFF), {}, 1},
    {"TwoWordsGiveTwoPairsInAscendingOrder",
     ErasedBytes(),
     With(With(Words(0xFFFF), 0x20, 0xABCD), 0x10, 0x1234),
     {"\n", "ERROR: word 0x10 read as 0xffff instead of 0x1234\n", "\n",
      "ERROR: word 0x20 read as 0xffff instead of 0xabcd\n"},
     0},
    {"UnnamedWordsAreComparedAsErased",
     BytesWith(0xFE, 0x00),
     Words(0xFFFF, 4),
     {"\n", "ERROR: word 0x7f read as 0xff00 instead of 0xffff\n"},
     0},
};

class VerifyCompares : public ImageJobTest, public testing::WithParamInterface<CompareCase> {};

TEST_P(VerifyCompares, EveryDifferingWord) {
    const CompareCase &c = GetParam();
    SetMemory(c.memory);
    const std::string path = TempPath("image.txt");
    WriteImageFile(path, c.file);

    EXPECT_EQ(zelVerify(path.c_str(), 1), c.result);

    EXPECT_EQ(Messages(handler_.Events()), c.messages);
    EXPECT_EQ(zelGetResult(), c.result);
}

INSTANTIATE_TEST_SUITE_P(Verify, VerifyCompares, testing::ValuesIn(kCompareCases),
                         [](const testing::TestParamInfo<CompareCase> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(ImageJobTest, ClearWithVerifyReportsAWornWordWithItsValues) {
    std::vector<uint8_t> before = ErasedBytes();
    before[7] = 0x00;
    SetMemory(before);
    Target().GetFaults().wornBytes = {6, 7};

    EXPECT_EQ(zelClear(0xA5, 1, 1), 0);

    EXPECT_EQ(Messages(handler_.Events()),
              (std::vector<std::string>{"\n", "ERROR: word 0x3 read as 0xff instead of 0xa5a5\n"}));
}

TEST_F(ImageJobTest, DumpWritesOneRecordPerWord) {
    std::vector<uint8_t> bytes(kBytes);
    for (size_t k = 0; k < kBytes; ++k) {
        bytes[k] = static_cast<uint8_t>(k * 7 + 1);
    }
    SetMemory(bytes);
    const std::string path = TempPath("dump.txt");

    EXPECT_EQ(zelDump(path.c_str(), 1, 1), 1);

    const std::string text = FileText(path);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 128);
    EXPECT_EQ(text.substr(0, 24), "@0000  0801\n@0001  160f\n");
    EXPECT_NE(text.find("@007f  faf3\n"), std::string::npos);
}

TEST_F(ImageJobTest, DumpToAPathThatCannotBeOpenedReadsTheDeviceAndFails) {
    for (const std::string &path : {TempPath("missing-folder/dump.txt"), std::string()}) {
        transport().ClearLog();
        const size_t earlier = handler_.Events().size();
        testing::internal::CaptureStdout();

        EXPECT_EQ(zelDump(path.c_str(), 1, 0), 0);

        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("Couldn't open '" + path + "' for output\n"), std::string::npos) << out;
        EXPECT_GT(transport().ReadCount(), 0u);
        const std::vector<HandlerEvent> events = handler_.Events();
        EXPECT_EQ(Summarize({events.begin() + static_cast<std::ptrdiff_t>(earlier), events.end()}),
                  "state:Reading... progress result:0");
    }
}

struct MissingFileCase {
    const char *name;
    bool blocking;
    int returned;
};

void PrintTo(const MissingFileCase &c, std::ostream *os) { PrintCase(c, os); }

const MissingFileCase kMissingFile[] = {{"Blocking", true, 0}, {"Background", false, 1}};

class ProgramMissingFile : public ImageJobTest, public testing::WithParamInterface<MissingFileCase> {};

TEST_P(ProgramMissingFile, TouchesNoDeviceAndSendsNoState) {
    const MissingFileCase &c = GetParam();
    const std::string path = TempPath("absent.txt");
    transport().ClearLog();
    testing::internal::CaptureStdout();

    EXPECT_EQ(zelProgram(path.c_str(), c.blocking, 1), c.returned);
    if (!c.blocking) {
        EXPECT_EQ(handler_.WaitForWorkerResult(std::this_thread::get_id()), 0);
        WaitUntilIdle();
    }

    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Couldn't open '" + path + "' for input\n");
    EXPECT_EQ(transport().WriteCount() + transport().ReadCount(), 0u);
    EXPECT_EQ(Summarize(handler_.Events()), c.blocking ? "result:0" : "result:0 result:0");
    EXPECT_EQ(zelGetResult(), 0);
}

INSTANTIATE_TEST_SUITE_P(Program, ProgramMissingFile, testing::ValuesIn(kMissingFile),
                         [](const testing::TestParamInfo<MissingFileCase> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(ImageJobTest, PercentSignsInThePathReachTheFileUnchanged) {
    const std::string path = TempPath("img%s%d%n.txt");
    WriteImageFile(path, Words(0xFFFF));

    EXPECT_EQ(zelVerify(path.c_str(), 1), 1);
}

} // namespace
} // namespace zeltest
