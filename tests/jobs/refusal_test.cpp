// Job exports that must refuse with 0 and change nothing: before a device
// is attached, without a usable path, while a background job runs, and from
// inside a running job's handler.
#include <gtest/gtest.h>

#include "jobs/job_fixture.h"

namespace zeltest {
namespace {

enum class Job { Program, Verify, Dump, Clear };

int StartJob(Job job, const char *path, bool blocking) {
    switch (job) {
    case Job::Program:
        return zelProgram(path, blocking, 1);
    case Job::Verify:
        return zelVerify(path, blocking);
    case Job::Dump:
        return zelDump(path, blocking, 1);
    case Job::Clear:
        return zelClear(0x00, blocking, 1);
    }
    return -1;
}

struct RefusalCase {
    const char *name;
    Job job;
    bool blocking;
};

void PrintTo(const RefusalCase &c, std::ostream *os) { PrintCase(c, os); }

const RefusalCase kEveryExport[] = {
    {"ProgramBlocking", Job::Program, true}, {"ProgramBackground", Job::Program, false},
    {"VerifyBlocking", Job::Verify, true},   {"VerifyBackground", Job::Verify, false},
    {"DumpBlocking", Job::Dump, true},       {"DumpBackground", Job::Dump, false},
    {"ClearBlocking", Job::Clear, true},     {"ClearBackground", Job::Clear, false},
};

std::string CaseName(const testing::TestParamInfo<RefusalCase> &info) { return info.param.name; }

class BeforeAttach : public JobTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(BeforeAttach, JobIsRefusedWithoutTouchingAnything) {
    const std::string path = TempPath("image.txt");
    WriteImageFile(path, std::vector<uint16_t>(128, 0xFFFF));

    EXPECT_EQ(StartJob(GetParam().job, path.c_str(), GetParam().blocking), 0);

    EXPECT_EQ(zelIsBusy(), 0);
    EXPECT_TRUE(handler_.Events().empty());
    EXPECT_EQ(transport().WriteCount() + transport().ReadCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryExport, BeforeAttach, testing::ValuesIn(kEveryExport), CaseName);

class AttachedRefusal : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    }
};

class BadPath : public AttachedRefusal, public testing::WithParamInterface<RefusalCase> {};

TEST_P(BadPath, NullIsRefused) {
    EXPECT_EQ(StartJob(GetParam().job, nullptr, GetParam().blocking), 0);
    EXPECT_TRUE(handler_.Events().empty());
}

const RefusalCase kPathExports[] = {
    {"ProgramBlocking", Job::Program, true}, {"ProgramBackground", Job::Program, false},
    {"VerifyBlocking", Job::Verify, true},   {"VerifyBackground", Job::Verify, false},
    {"DumpBlocking", Job::Dump, true},       {"DumpBackground", Job::Dump, false},
};

INSTANTIATE_TEST_SUITE_P(PathExports, BadPath, testing::ValuesIn(kPathExports), CaseName);

struct LengthCase {
    size_t length;
    int returned;
};

void PrintTo(const LengthCase &c, std::ostream *os) { *os << c.length << " characters"; }

class PathLength : public AttachedRefusal, public testing::WithParamInterface<LengthCase> {};

// The longest path kept is 247 characters and its terminator.
TEST_P(PathLength, LongestKeptIs247Characters) {
    std::string path = TempPath("");
    ASSERT_LT(path.size() + 4, GetParam().length);
    path += std::string(GetParam().length - path.size() - 4, 'p') + ".txt";
    ASSERT_EQ(path.size(), GetParam().length);
    WriteImageFile(path, std::vector<uint16_t>(128, 0xFFFF));

    EXPECT_EQ(zelVerify(path.c_str(), 1), GetParam().returned);
    EXPECT_EQ(handler_.Events().empty(), GetParam().returned == 0);
}

INSTANTIATE_TEST_SUITE_P(Verify, PathLength,
                         testing::Values(LengthCase{247, 1}, LengthCase{248, 0}, LengthCase{250, 0}),
                         [](const testing::TestParamInfo<LengthCase> &info) {
                             return "Length" + std::to_string(info.param.length);
                         });

class WhileRunning : public AttachedRefusal, public testing::WithParamInterface<RefusalCase> {};

TEST_P(WhileRunning, SecondJobIsRefusedAndTheRunningJobKeepsItsParameters) {
    const std::string running = TempPath("running.txt");
    const std::string other = TempPath("other.txt");
    WriteImageFile(other, std::vector<uint16_t>(128, 0x0000));
    Signal midway, release;
    bool held = false;
    handler_.hook = [&](const HandlerEvent &event) {
        if (!held && event.kind == HandlerEvent::Kind::Progress && event.value >= 50) {
            held = true;
            midway.Set();
            release.Wait();
        }
    };
    ASSERT_EQ(zelDump(running.c_str(), 0, 0), 1);
    midway.Wait();

    EXPECT_EQ(StartJob(GetParam().job, other.c_str(), GetParam().blocking), 0);

    release.Set();
    EXPECT_EQ(handler_.WaitForWorkerResult(std::this_thread::get_id()), 1);
    WaitUntilIdle();
    // still a dump without verify into its own file
    EXPECT_EQ(Summarize(handler_.Events()), "result:0 state:Reading... progress result:1");
    EXPECT_NE(FileText(running).find("@007f  ffff\n"), std::string::npos);
    EXPECT_EQ(FileText(other).substr(0, 13), "@0000  0000\n@");
    EXPECT_EQ(Memory(), std::vector<uint8_t>(256, 0xFF));
}

INSTANTIATE_TEST_SUITE_P(EveryExport, WhileRunning, testing::ValuesIn(kEveryExport), CaseName);

class InsideAJob : public AttachedRefusal, public testing::WithParamInterface<RefusalCase> {};

TEST_P(InsideAJob, HandlerStartingAJobIsRefused) {
    const std::string path = TempPath("image.txt");
    WriteImageFile(path, std::vector<uint16_t>(128, 0xFFFF));
    int nested = -1;
    handler_.hook = [&](const HandlerEvent &event) {
        if (nested < 0 && event.kind == HandlerEvent::Kind::State) {
            nested = StartJob(GetParam().job, path.c_str(), GetParam().blocking);
        }
    };

    EXPECT_EQ(zelClear(0xFF, 1, 0), 1);

    EXPECT_EQ(nested, 0);
    EXPECT_EQ(Summarize(handler_.Events()), "state:Clearing... progress result:1");
}

INSTANTIATE_TEST_SUITE_P(EveryExport, InsideAJob, testing::ValuesIn(kEveryExport), CaseName);

} // namespace
} // namespace zeltest
