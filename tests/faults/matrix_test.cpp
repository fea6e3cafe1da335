// Every fault of the virtual target, switched on at every transaction of
// every job, on one 24C02 with a 1 ms write cycle. Each case opens a fresh
// target through zelInitTrans; the library's own state carries over from
// case to case, so every case also checks that a failed job leaves the
// library usable. For each case:
// - the job ends, within a bounded time of the virtual clock;
// - every EEPROM byte holds its old value or the one the job writes;
// - a result of 1 means the job did what it was asked (a failure is never 1);
// - the dump's existing output file is the old one or a whole image;
// - with the fault cleared, the same job then succeeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <iostream>
#include <map>
#include <sstream>

#include "eeprom/device.h"
#include "faults/fault_jobs.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace zeltest::faults {
namespace {

using hoplink::sim::Counters;
using hoplink::sim::Faults;
using hoplink::sim::Target;

constexpr char kConfig[] = "SIMPART=24C02 SIMTWR=1";
// An acknowledge poll of about 40 accesses takes 0.4 ms: a write cycle of
// 1 ms is seen as busy by two or three polls.
constexpr uint32_t kMicrosPerAccess = 10;
// Between a failed job and the next: any write cycle or clock hold is over.
constexpr uint64_t kPauseMicros = 50'000;
// A faulted job may take longer than a clean one by waits of 10 and 20 ms;
// beyond this it counts as hung.
constexpr uint64_t kLongestDelayMicros = 500'000;
constexpr uint32_t kStuckClocks = 12; // longer than a byte: the bus must be recovered
constexpr uint32_t kHoldMs = 15;      // beyond the 10 ms that a start waits for the clock

enum class FaultKind {
    NakAddress,
    NakThirdByte,
    StuckData,
    ClockHeld,
    WriteFails,
    ReadFails,
    LinkLost,
    WornBytes
};

struct FaultCase {
    FaultKind kind;
    const char *name;
};

const FaultCase kFaultCases[] = {
    {FaultKind::NakAddress, "no acknowledge of the device address"},
    {FaultKind::NakThirdByte, "no acknowledge of the third byte"},
    {FaultKind::StuckData, "data line stuck low for 12 clocks"},
    {FaultKind::ClockHeld, "clock held low 15 ms"},
    {FaultKind::WriteFails, "a register write fails"},
    {FaultKind::ReadFails, "a register read fails"},
    {FaultKind::LinkLost, "link lost"},
    {FaultKind::WornBytes, "worn bytes"},
};

// The counters at each START of a fault-free run, and at its end.
struct Profile {
    std::vector<Counters> starts;
    Counters end;
    uint64_t micros = 0;
};

// The register fault hits the middle access of its kind in the transaction.
uint64_t MiddleOffset(uint64_t from, uint64_t to) { return std::max<uint64_t>(1, (to - from) / 2); }

// The arming runs before the START is counted: this transaction is the next number.
Target::Arming NakInThisTransaction(uint32_t byte) {
    return [byte](Faults &f, const Counters &c) {
        f.nakByte = byte;
        f.nakTransaction = static_cast<uint32_t>(c.transactions + 1);
    };
}

Target::Arming ArmingFor(FaultKind kind, const Profile &profile, size_t n, const std::vector<uint32_t> &worn) {
    const Counters &at = profile.starts[n];
    const Counters &next = n + 1 < profile.starts.size() ? profile.starts[n + 1] : profile.end;
    switch (kind) {
    case FaultKind::NakAddress:
        return NakInThisTransaction(1);
    case FaultKind::NakThirdByte:
        return NakInThisTransaction(3);
    case FaultKind::StuckData:
        return [](Faults &f, const Counters &) { f.stuckDataClocks = kStuckClocks; };
    case FaultKind::ClockHeld:
        return [](Faults &f, const Counters &) { f.holdClockMs = kHoldMs; };
    case FaultKind::WriteFails: {
        const uint64_t offset = MiddleOffset(at.registerWrites, next.registerWrites);
        return [offset](Faults &f, const Counters &c) { f.writeFail.nth = c.registerWrites + offset; };
    }
    case FaultKind::ReadFails: {
        const uint64_t offset = MiddleOffset(at.registerReads, next.registerReads);
        return [offset](Faults &f, const Counters &c) { f.readFail.nth = c.registerReads + offset; };
    }
    case FaultKind::LinkLost:
        return [](Faults &f, const Counters &c) { f.linkLostAfter = c.registerWrites + c.registerReads; };
    case FaultKind::WornBytes:
        return [worn](Faults &f, const Counters &) { f.wornBytes = worn; };
    }
    return nullptr;
}

bool ReportsThroughJobObject(JobKind kind) {
    return kind != JobKind::CheckSize && kind != JobKind::ReadHeader && kind != JobKind::WriteHeader;
}

// Every fault but one on every job: a worn byte is seen only by a read-back.
bool Applies(const FaultCase &fault, JobKind kind) {
    return fault.kind != FaultKind::WornBytes || ReadsBack(kind);
}

class FaultMatrix : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = (std::filesystem::path(testing::TempDir()) /
                   (std::string("zel_faults_") + test->name() + "_" + std::to_string(std::random_device{}())))
                      .string();
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }

    void TearDown() override {
        std::filesystem::remove_all(folder_);
        LinkTest::TearDown();
    }

    // A fresh target holding `memory`, attached through the library.
    void Open(const std::vector<uint8_t> &memory) {
        transport().Reset();
        transport().Clock().SetStep(kMicrosPerAccess);
        ASSERT_TRUE(Attach(kConfig, kSizeBits, 0));
        std::copy(memory.begin(), memory.end(), Target().Memory().begin());
    }

    std::vector<uint8_t> Memory() {
        const std::span<uint8_t> cells = Target().Memory();
        return {cells.begin(), cells.end()};
    }

    uint64_t NowMicros() { return transport().Clock().NowMicros(); }

    Profile Measure(const FaultJob &job) {
        Profile profile;
        Open(job.Before());
        job.PrepareFiles();
        hoplink::sim::Target &target = Target();
        Target::Arming record = [&](Faults &, const Counters &c) {
            profile.starts.push_back(c);
            target.ArmAtTransaction(c.transactions + 2, record);
        };
        target.ArmAtTransaction(target.GetCounters().transactions + 1, record);
        const uint64_t start = NowMicros();
        const int result = job.Run();
        profile.micros = NowMicros() - start;
        profile.end = target.GetCounters();
        target.ArmAtTransaction(0, nullptr);
        EXPECT_EQ(result, job.Kind() == JobKind::VerifyDiffering ? 0 : 1) << JobName(job.Kind());
        if (result == 1) {
            EXPECT_EQ(job.FalseSuccess(job.Before(), Memory()), "") << JobName(job.Kind());
        }
        transport().ClearLog();
        return profile;
    }

    // Runs one case, `arm` at the START of the job's transaction n (0-based);
    // what went wrong, empty when nothing did.
    std::string RunCase(const FaultJob &job, Target::Arming arm, const Profile &profile, size_t n) {
        Open(job.Before());
        job.PrepareFiles();
        const uint64_t first = Target().GetCounters().transactions + 1;
        Target().ArmAtTransaction(first + n, std::move(arm));
        const uint64_t start = NowMicros();
        const int result = job.Run();
        const uint64_t took = NowMicros() - start;
        const std::vector<uint8_t> memory = Memory();
        transport().ClearLog();

        std::string wrong;
        if (result != 0 && result != 1) {
            wrong = "result " + std::to_string(result);
        } else if (ReportsThroughJobObject(job.Kind()) && zelGetResult() != result) {
            wrong =
                "returned " + std::to_string(result) + " but zelGetResult gives " + std::to_string(zelGetResult());
        } else if (took > profile.micros + kLongestDelayMicros) {
            wrong = "took " + std::to_string(took / 1000) + " ms of virtual time";
        } else if (std::string stray = job.StrayBytes(memory); !stray.empty()) {
            wrong = stray;
        } else if (std::string output = job.HalfWrittenOutput(); !output.empty()) {
            wrong = output;
        } else if (result == 1) {
            wrong = job.FalseSuccess(job.Before(), memory);
        }
        if (!wrong.empty()) {
            return "result " + std::to_string(result) + ": " + wrong;
        }
        return NextJobAfter(job);
    }

    // The fault cleared and some time gone by, the same job succeeds.
    std::string NextJobAfter(const FaultJob &job) {
        Target().GetFaults() = Faults{};
        Target().ArmAtTransaction(0, nullptr);
        transport().Clock().Advance(kPauseMicros);
        if (job.Kind() == JobKind::WriteHeader && zel::SizeBits() == 0) {
            Open(Memory()); // a failed header write leaves no size: the host opens again
        }
        job.PrepareFiles();
        const std::vector<uint8_t> start = Memory();
        const int result = job.Run();
        const std::vector<uint8_t> memory = Memory();
        transport().ClearLog();
        const int expected = job.Kind() == JobKind::VerifyDiffering ? 0 : 1;
        if (result != expected) {
            return "the next job gave " + std::to_string(result);
        }
        const std::string wrong = result == 1 ? job.FalseSuccess(start, memory) : "";
        return wrong.empty() ? "" : "the next job: " + wrong;
    }

    std::string folder_;
};

TEST_F(FaultMatrix, EveryFaultAtEveryTransactionOfEveryJob) {
    std::map<std::string, std::vector<std::string>> failures; // by job and fault
    size_t cases = 0;
    std::ostringstream size;
    testing::internal::CaptureStdout(); // the library prints "WRITE FAIL!" per failed register write
    for (JobKind kind : kJobKinds) {
        const FaultJob job(kind, folder_);
        const Profile profile = Measure(job);
        const size_t positions = profile.starts.size();
        ASSERT_GT(positions, 0u) << JobName(kind);
        size_t faults = 0;
        for (const FaultCase &fault : kFaultCases) {
            if (!Applies(fault, kind)) {
                continue;
            }
            ++faults;
            for (size_t n = 0; n < positions; ++n) {
                ++cases;
                const std::string wrong =
                    RunCase(job, ArmingFor(fault.kind, profile, n, job.Written()), profile, n);
                if (!wrong.empty()) {
                    failures[std::string(JobName(kind)) + " / " + fault.name].push_back(
                        "transaction " + std::to_string(n + 1) + " of " + std::to_string(positions) + ": " +
                        wrong);
                }
            }
        }
        size << "  " << JobName(kind) << ": " << positions << " transactions x " << faults
             << " faults = " << positions * faults << " cases\n";
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    std::cout << "fault matrix: " << std::size(kJobKinds) << " jobs x up to " << std::size(kFaultCases)
              << " faults x every transaction of each job = " << cases << " cases\n"
              << size.str() << "  (the library printed " << std::count(printed.begin(), printed.end(), '\n')
              << " lines on the way)\n";
    for (const auto &[where, list] : failures) {
        ADD_FAILURE() << where << ": " << list.size() << " cases, the first: " << list.front();
    }
}

// One refused register access, at every access of a job (every k-th on the
// longer jobs): a refused write leaves a line where it was and a refused
// read sees every line high, and neither may slip a wrong bit into the EEPROM
// or into a result of 1.
TEST_F(FaultMatrix, OneRefusedRegisterAccessAnywhereInAJob) {
    constexpr uint64_t kMostPositions = 100; // per job and kind of access
    std::map<std::string, std::vector<std::string>> failures;
    size_t cases = 0;
    testing::internal::CaptureStdout();
    for (JobKind kind : kJobKinds) {
        const FaultJob job(kind, folder_);
        const Profile profile = Measure(job);
        ASSERT_FALSE(profile.starts.empty()) << JobName(kind);
        const Counters &first = profile.starts.front();
        for (const bool writes : {true, false}) {
            const uint64_t total = writes ? profile.end.registerWrites - first.registerWrites
                                          : profile.end.registerReads - first.registerReads;
            for (uint64_t k = 1; k <= total; k += 1 + total / kMostPositions) {
                ++cases;
                Target::Arming arm = [writes, k](Faults &f, const Counters &c) {
                    if (writes) {
                        f.writeFail.nth = c.registerWrites + k;
                    } else {
                        f.readFail.nth = c.registerReads + k;
                    }
                };
                const std::string wrong = RunCase(job, std::move(arm), profile, 0);
                if (!wrong.empty()) {
                    failures[std::string(JobName(kind)) + (writes ? " / refused write " : " / refused read ")]
                        .push_back(std::to_string(k) + " of " + std::to_string(total) + ": " + wrong);
                }
            }
        }
    }
    testing::internal::GetCapturedStdout();
    std::cout << "one refused register access: " << cases << " cases over " << std::size(kJobKinds) << " jobs\n";
    for (const auto &[where, list] : failures) {
        ADD_FAILURE() << where << ": " << list.size() << " cases, the first: " << list.front();
    }
}

} // namespace
} // namespace zeltest::faults
