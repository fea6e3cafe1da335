// Faults of the virtual target during a job: each ends the job with result
// 0, nothing is reported as success, and a dump leaves its file alone.
#include <gtest/gtest.h>

#include <functional>

#include "jobs/job_fixture.h"

namespace zeltest {
namespace {

enum class Job { Program, Dump, Clear };

struct FaultCase {
    const char *name;
    const char *config;
    Job job;
    bool verify;
    int writeProtectLine;                               // 0: the default line
    std::function<void(hoplink::sim::Target &)> before; // set before the job, or null
    std::function<void(hoplink::sim::Target &)> midway; // set at 50 % of the first transfer, or null
};

void PrintTo(const FaultCase &c, std::ostream *os) { PrintCase(c, os); }

void NakEveryDataByte(hoplink::sim::Target &target) { target.GetFaults().nakByte = 3; }

void LoseLinkSoon(hoplink::sim::Target &target) {
    const hoplink::sim::Counters counters = target.GetCounters();
    target.GetFaults().linkLostAfter = counters.registerWrites + counters.registerReads + 50;
}

void WearByte0x40(hoplink::sim::Target &target) { target.GetFaults().wornBytes = {0x40}; }

const FaultCase kFaults[] = {
    {"NoAcknowledgeMidProgram", "SIMPART=24C02 SIMTWR=0", Job::Program, false, 0, nullptr, NakEveryDataByte},
    {"NoAcknowledgeMidClear", "SIMPART=24C02 SIMTWR=0", Job::Clear, false, 0, nullptr, NakEveryDataByte},
    {"LinkLostMidProgram", "SIMPART=24C02 SIMTWR=0", Job::Program, false, 0, nullptr, LoseLinkSoon},
    {"LinkLostMidDump", "SIMPART=24C02 SIMTWR=0", Job::Dump, false, 0, nullptr, LoseLinkSoon},
    {"LinkLostMidDumpVerify", "SIMPART=24C02 SIMTWR=0", Job::Dump, true, 0, nullptr, LoseLinkSoon},
    {"WornByteCaughtByVerify", "SIMPART=24C02 SIMTWR=0", Job::Program, true, 0, WearByte0x40, nullptr},
    {"WriteProtectNotWiredRefusesData", "SIMPART=24C02 SIMTWR=0 SIMWP=nak", Job::Program, false, 9, nullptr,
     nullptr},
    {"WriteProtectNotWiredCaughtByVerify", "SIMPART=24C02 SIMTWR=0 SIMWP=ack", Job::Clear, true, 9, nullptr,
     nullptr},
};

class JobFault : public JobTest, public testing::WithParamInterface<FaultCase> {
protected:
    int Run(const FaultCase &c) {
        switch (c.job) {
        case Job::Program:
            return zelProgram(image_.c_str(), 1, c.verify);
        case Job::Dump:
            return zelDump(dump_.c_str(), 1, c.verify);
        case Job::Clear:
            return zelClear(0x00, 1, c.verify);
        }
        return -1;
    }

    std::string image_;
    std::string dump_;
};

TEST_P(JobFault, EndsWithResultZero) {
    const FaultCase &c = GetParam();
    ASSERT_TRUE(Attach(c.config, 8, 0));
    zelSetPioLines(0, 0, c.writeProtectLine);
    image_ = TempPath("image.txt");
    WriteImageFile(image_, std::vector<uint16_t>(128, 0x1234));
    dump_ = TempPath("dump.txt");
    {
        std::FILE *old = std::fopen(dump_.c_str(), "w");
        ASSERT_NE(old, nullptr);
        std::fputs("old contents\n", old);
        std::fclose(old);
    }
    if (c.before) {
        c.before(Target());
    }
    bool faulted = false;
    handler_.hook = [&](const HandlerEvent &event) {
        if (c.midway && !faulted && event.kind == HandlerEvent::Kind::Progress && event.value >= 50) {
            faulted = true;
            c.midway(Target());
        }
    };

    EXPECT_EQ(Run(c), 0);

    EXPECT_EQ(zelGetResult(), 0);
    const std::vector<HandlerEvent> events = handler_.Events();
    ASSERT_FALSE(events.empty());
    for (const HandlerEvent &event : events) {
        EXPECT_FALSE(event.kind == HandlerEvent::Kind::Result && event.value != 0);
    }
    EXPECT_EQ(events.back().kind, HandlerEvent::Kind::Result);
    EXPECT_EQ(FileText(dump_), "old contents\n");
    if (c.midway) {
        EXPECT_TRUE(faulted);
    }
}

INSTANTIATE_TEST_SUITE_P(VirtualTarget, JobFault, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<FaultCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace zeltest
