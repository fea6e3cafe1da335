// A refused register read or write, a refused acknowledge and a lost link at
// every access of the open and of the range jobs, on parts that answer at
// several addresses: a 24C16 (eight blocks of 256 bytes) and a 24C1025 (two
// blocks of 64 KiB, each with its own sequential read), with a range across
// the boundary of blocks 0 and 1. The open gets its fault from the
// configuration string and is followed by a clean write; a job gets its
// fault after a clean open. For each case: every cell holds its old value or
// the one the job writes, and a result of 1 means that every cell holds what
// the job was asked to leave there, inside the range and outside it (and a
// read's buffer holds the range).
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "support/test_transport.h"
#include "zelapi.h"

namespace zeltest {
namespace {

using hoplink::sim::Counters;
using hoplink::sim::Faults;

constexpr uint32_t kRangeBytes = 16;
// A job's accesses are sampled at about this many positions per fault; the
// open's are all taken.
constexpr uint64_t kJobPositions = 12;
// An acknowledge poll of about 40 accesses takes 0.4 ms: a 1 ms write cycle
// is seen busy by two or three polls.
constexpr uint32_t kMicrosPerAccess = 10;

struct Part {
    const char *name;
    const char *config;
    int sizeBits, blockBits;
    uint32_t size;
    uint32_t range; // 8 bytes before the end of block 0 and 8 after
    uint32_t pageBytes;
};

const Part kParts[] = {
    {"24C16", "SIMPART=24C16 SIMTWR=1", 11, 7, 0x800, 0xF8, 16},
    {"24C1025", "SIMPART=24C1025 SIMTWR=1", 17, 4, 0x20000, 0xFFF8, 128},
};

enum class Fault { ReadFails, WriteFails, NoAcknowledge, LinkLost };

struct FaultCase {
    Fault fault;
    const char *name; // as the configuration string names it
};

const FaultCase kFaultCases[] = {
    {Fault::ReadFails, "rfail"},
    {Fault::WriteFails, "wfail"},
    {Fault::NoAcknowledge, "nak"},
    {Fault::LinkLost, "lost"},
};

struct Job {
    const char *name;
    bool write;
    bool verify;
    bool inPages;
};

const Job kJobs[] = {
    {"read", false, true, false},
    {"write with verify", true, true, false},
    {"write without verify", true, false, false},
    {"write in pages with verify", true, true, true},
    {"write in pages without verify", true, false, true},
};

// The positions a fault can take in a stretch of work: accesses of each
// kind, and transactions.
uint64_t Positions(Fault fault, const Counters &from, const Counters &to) {
    switch (fault) {
    case Fault::ReadFails:
        return to.registerReads - from.registerReads;
    case Fault::WriteFails:
        return to.registerWrites - from.registerWrites;
    case Fault::NoAcknowledge:
        return to.transactions - from.transactions;
    case Fault::LinkLost:
        return to.registerReads + to.registerWrites - from.registerReads - from.registerWrites;
    }
    return 0;
}

// Position n (1-based) from `at` on: the nth read or write fails, the
// address of the nth transaction is not acknowledged, or every access from
// the nth on fails.
void Arm(Faults &faults, Fault fault, const Counters &at, uint64_t n) {
    switch (fault) {
    case Fault::ReadFails:
        faults.readFail.nth = at.registerReads + n;
        break;
    case Fault::WriteFails:
        faults.writeFail.nth = at.registerWrites + n;
        break;
    case Fault::NoAcknowledge:
        faults.nakByte = 1;
        faults.nakTransaction = static_cast<uint32_t>(at.transactions + n);
        break;
    case Fault::LinkLost:
        faults.linkLostAfter = at.registerReads + at.registerWrites + n - 1;
        break;
    }
}

// The same for an open, through the configuration string (counts from the
// target's own open; a link lost from its first access only fails the open).
std::string FaultConfig(Fault fault, uint64_t n) {
    switch (fault) {
    case Fault::ReadFails:
        return " SIMFAULT=rfail:" + std::to_string(n);
    case Fault::WriteFails:
        return " SIMFAULT=wfail:" + std::to_string(n);
    case Fault::NoAcknowledge:
        return " SIMFAULT=nak:1@" + std::to_string(n);
    case Fault::LinkLost:
        return " SIMFAULT=lost:" + std::to_string(n); // from access n + 1 on
    }
    return "";
}

class BlockFaultMatrix : public LinkTest {
protected:
    // A fresh target holding the pattern, opened through zelInitTrans with
    // `fault` in its configuration; the fault is cleared after the open.
    bool Open(const Part &part, const std::string &fault) {
        transport().Reset();
        transport().Clock().SetStep(kMicrosPerAccess);
        const bool opened = zelInitTrans((part.config + fault).c_str(), 0, part.sizeBits, part.blockBits) == 1;
        if (transport().Target() != nullptr) {
            Target().GetFaults() = Faults{};
            before_.resize(part.size);
            for (uint32_t k = 0; k < part.size; ++k) {
                before_[k] = static_cast<uint8_t>(k * 7 + (k >> 8) * 0x35 + (k >> 16) * 0x80);
            }
            std::copy(before_.begin(), before_.end(), Target().Memory().begin());
        }
        transport().ClearLog();
        return opened;
    }

    // Runs `job` on the range; what went wrong, empty when nothing did.
    std::string Run(const Part &part, const Job &job) {
        std::vector<uint8_t> data(kRangeBytes), buffer(kRangeBytes, 0xEE);
        for (uint32_t k = 0; k < kRangeBytes; ++k) {
            data[k] = static_cast<uint8_t>(~before_[part.range + k]);
        }
        if (transport().Target() == nullptr) {
            return ""; // the open failed and closed the link: nothing to look at
        }
        zelSetPageWrite(job.inPages ? static_cast<int>(part.pageBytes) : 0);
        const int result = job.write ? zelWriteMemory(part.range, data.data(), kRangeBytes, 1, job.verify ? 1 : 0)
                                     : zelReadMemory(part.range, buffer.data(), kRangeBytes, 1);
        zelSetPageWrite(0);
        transport().ClearLog();
        result_ = result;
        std::vector<uint8_t> wanted = before_;
        if (job.write) {
            std::copy(data.begin(), data.end(), wanted.begin() + part.range);
        }
        const std::span<uint8_t> cells = Target().Memory();
        if (result != 0 && result != 1) {
            return "result " + std::to_string(result);
        }
        if (zelGetResult() != result) {
            return "returned " + std::to_string(result) + ", zelGetResult gives " + std::to_string(zelGetResult());
        }
        for (uint32_t k = 0; k < part.size; ++k) {
            if (cells[k] != before_[k] && cells[k] != wanted[k]) {
                return "result " + std::to_string(result) + ": cell " + std::to_string(k) + " holds neither value";
            }
            if (result == 1 && cells[k] != wanted[k]) {
                return "result 1 with cell " + std::to_string(k) + " not as asked";
            }
        }
        if (result == 1 && !job.write && !std::equal(buffer.begin(), buffer.end(), cells.begin() + part.range)) {
            return "result 1 with a buffer that does not hold the range";
        }
        return "";
    }

    std::vector<uint8_t> before_;
    int result_ = -1; // of the last job run
};

TEST_F(BlockFaultMatrix, NoFaultOfTheOpenOrARangeJobEndsInAFalseSuccess) {
    std::map<std::string, std::vector<std::string>> failures; // by part, phase, job and fault
    size_t cases = 0;
    testing::internal::CaptureStdout(); // the library prints "WRITE FAIL!" per refused register write
    for (const Part &part : kParts) {
        if (!Open(part, "")) {
            failures[part.name].push_back("the open without a fault failed");
            continue;
        }
        const Counters opened = Target().GetCounters();
        for (const FaultCase &fault : kFaultCases) {
            // every access of the open, then a clean write with verify and one without
            const uint64_t positions = Positions(fault.fault, Counters{}, opened);
            for (uint64_t n = 1; n <= positions; ++n) {
                for (const Job &job : {kJobs[1], kJobs[2]}) {
                    ++cases;
                    Open(part, FaultConfig(fault.fault, n));
                    if (std::string wrong = Run(part, job); !wrong.empty()) {
                        failures[std::string(part.name) + " / open / " + fault.name + " / then " + job.name]
                            .push_back(std::to_string(n) + " of " + std::to_string(positions) + ": " + wrong);
                    }
                }
            }
        }
        for (const Job &job : kJobs) {
            const std::string where = std::string(part.name) + " / " + job.name;
            Open(part, "");
            const Counters start = Target().GetCounters();
            if (std::string wrong = Run(part, job); !wrong.empty() || result_ != 1) {
                failures[where].push_back("without a fault: result " + std::to_string(result_) + " " + wrong);
                continue;
            }
            const Counters end = Target().GetCounters();
            for (const FaultCase &fault : kFaultCases) {
                const uint64_t positions = Positions(fault.fault, start, end);
                for (uint64_t n = 1; n <= positions; n += 1 + positions / kJobPositions) {
                    ++cases;
                    Open(part, "");
                    Arm(Target().GetFaults(), fault.fault, Target().GetCounters(), n);
                    if (std::string wrong = Run(part, job); !wrong.empty()) {
                        failures[where + " / " + fault.name].push_back(std::to_string(n) + " of " +
                                                                       std::to_string(positions) + ": " + wrong);
                    }
                }
            }
        }
    }
    testing::internal::GetCapturedStdout();
    std::cout << "block fault matrix: " << cases << " cases\n";
    for (const auto &[where, list] : failures) {
        ADD_FAILURE() << where << ": " << list.size() << " cases, the first: " << list.front();
    }
}

} // namespace
} // namespace zeltest
