// With no latency on the per-access test clock, every job sends the same
// register accesses batched as access by access, on every part.
#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <random>

#include "faults/fault_jobs.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace zeltest {
namespace {

using faults::FaultJob;
using faults::JobKind;

bool SameAccess(const RegisterAccess &a, const RegisterAccess &b) {
    return a.kind == b.kind && a.address == b.address && a.value == b.value && a.result == b.result;
}

// The first access where the two logs part, or "" when they agree.
std::string FirstDifference(const std::vector<RegisterAccess> &batched,
                            const std::vector<RegisterAccess> &single) {
    const size_t n = std::min(batched.size(), single.size());
    for (size_t i = 0; i < n; ++i) {
        if (!SameAccess(batched[i], single[i])) {
            return "access " + std::to_string(i) + ": " +
                   (batched[i].kind == AccessKind::Read ? "read " : "write ") + std::to_string(batched[i].value) +
                   " batched, " + std::to_string(single[i].value) + " alone";
        }
    }
    return batched.size() == single.size()
               ? ""
               : std::to_string(batched.size()) + " accesses batched, " + std::to_string(single.size()) + " alone";
}

// What one run of a host's jobs leaves to compare.
struct JobsRun {
    std::vector<int> results;
    std::vector<RegisterAccess> traffic;
    size_t batches = 0;
};

class BatchedTraffic : public LinkTest {
protected:
    // Three runs, each on a fresh target: access by access, batched, and
    // access by access again, so that the last two start from the same
    // state of the library; `jobs` opens the link and runs the jobs.
    template <typename Jobs> void ExpectSameTraffic(Jobs jobs) {
        JobsRun runs[3];
        for (int i = 0; i < 3; ++i) {
            const bool batched = i == 1;
            transport().Reset();
            ASSERT_EQ(zelSetBatching(batched ? 1 : 0), batched ? 1 : 0);
            runs[i].results = jobs();
            runs[i].traffic = transport().Registers();
            runs[i].batches = transport().BatchCount();
            zelClose();
        }
        EXPECT_EQ(runs[1].results, runs[2].results);
        EXPECT_GT(runs[1].batches, 0u);
        EXPECT_EQ(runs[2].batches, 0u);
        EXPECT_EQ(FirstDifference(runs[1].traffic, runs[2].traffic), "");
    }
};

class EveryJob : public BatchedTraffic, public testing::WithParamInterface<JobKind> {};

TEST_P(EveryJob, SendsTheSameTrafficBatched) {
    const std::string folder =
        (std::filesystem::path(testing::TempDir()) / ("zel_batch_" + std::to_string(std::random_device{}())))
            .string();
    std::filesystem::create_directories(folder);
    const FaultJob job(GetParam(), folder);
    ExpectSameTraffic([&] {
        std::vector<int> results;
        results.push_back(Attach("SIMPART=24C02", faults::kSizeBits, 0) ? 1 : 0);
        std::copy(job.Before().begin(), job.Before().end(), Target().Memory().begin());
        job.PrepareFiles();
        results.push_back(job.Run());
        return results;
    });
    std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Jobs, EveryJob, testing::ValuesIn(faults::kJobKinds),
                         [](const testing::TestParamInfo<JobKind> &info) {
                             std::string name = faults::JobName(info.param);
                             std::erase_if(name,
                                           [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); });
                             return name;
                         });

class EveryPart : public BatchedTraffic, public testing::WithParamInterface<hoplink::sim::Part> {};

// Header, byte and page writes, a read and the size check, around the middle
// of the part, where the top block-select bit changes on parts that have one.
TEST_P(EveryPart, SendsTheSameTrafficBatched) {
    const hoplink::sim::Part part = GetParam();
    const int sizeBits = std::countr_zero(part.size);
    const int blockBits = part.blockMask >> 1; // device-address bit 0x08 is block bit 4, 0x04 is 2, 0x02 is 1
    const uint32_t middle = part.size / 2;
    std::vector<uint8_t> data(part.pageSize);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    ExpectSameTraffic([&] {
        std::vector<int> results;
        std::vector<uint8_t> read(80);
        results.push_back(Attach(std::string("SIMPART=") + part.name, sizeBits, blockBits) ? 1 : 0);
        results.push_back(zelWriteHeader());
        results.push_back(static_cast<int>(zelReadHeader()));
        results.push_back(zelWriteMemory(middle - 3, data.data(), 6, 1, 1));
        results.push_back(zelSetPageWrite(part.pageSize));
        results.push_back(zelWriteMemory(middle - part.pageSize / 2, data.data(), part.pageSize, 1, 1));
        results.push_back(zelSetPageWrite(0));
        results.push_back(zelReadMemory(middle - 40, read.data(), 80, 1));
        results.push_back(zelCheckSize());
        return results;
    });
}

INSTANTIATE_TEST_SUITE_P(Parts, EveryPart,
                         testing::ValuesIn(hoplink::sim::Parts().begin(), hoplink::sim::Parts().end()),
                         [](const testing::TestParamInfo<hoplink::sim::Part> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace zeltest
