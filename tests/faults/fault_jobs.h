// The jobs that the fault matrix runs on a 24C02 (256 bytes, one address
// byte): what the EEPROM holds before each, what a successful run leaves,
// and what may be seen when a run fails part-way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zeltest::faults {

inline constexpr uint32_t kBytes = 256;
inline constexpr int kSizeBits = 8;

enum class JobKind {
    Program,
    ProgramUnverified,
    VerifyMatching,
    VerifyDiffering,
    Dump,
    Clear,
    ClearUnverified,
    CheckSize,
    ReadHeader,
    WriteHeader,
    ProgramInPages,
    ClearInPagesUnverified,
    ReadMemory,
    WriteMemory,
    WriteMemoryInPages,
};

inline constexpr JobKind kJobKinds[] = {
    JobKind::Program,
    JobKind::ProgramUnverified,
    JobKind::VerifyMatching,
    JobKind::VerifyDiffering,
    JobKind::Dump,
    JobKind::Clear,
    JobKind::ClearUnverified,
    JobKind::CheckSize,
    JobKind::ReadHeader,
    JobKind::WriteHeader,
    JobKind::ProgramInPages,
    JobKind::ClearInPagesUnverified,
    JobKind::ReadMemory,
    JobKind::WriteMemory,
    JobKind::WriteMemoryInPages,
};

// Without a read-back a job cannot see a byte that took its write and kept
// its old value.
bool ReadsBack(JobKind kind);

const char *JobName(JobKind kind);

// One job of the matrix with its image and output files in `folder`.
class FaultJob {
public:
    FaultJob(JobKind kind, const std::string &folder);

    JobKind Kind() const { return kind_; }
    const std::vector<uint8_t> &Before() const { return before_; }
    // Addresses the job changes; the worn-byte fault wears these.
    const std::vector<uint32_t> &Written() const { return written_; }

    // Writes the image file, and an output file with old contents for the dump.
    void PrepareFiles() const;
    // Runs the job on the caller's thread; its result (1 or 0). A memory read
    // that gives 0 but wrote into its buffer gives 2 instead.
    int Run() const;

    // Each a description of what is wrong, empty when all is well.
    // Every byte holds its value from before, after, or one the job may
    // leave when it fails part-way; nothing else changed.
    std::string StrayBytes(const std::vector<uint8_t> &memory) const;
    // A result of 1 is honest: the EEPROM, the output file and the geometry
    // are what a successful run leaves, starting from `start`.
    std::string FalseSuccess(const std::vector<uint8_t> &start, const std::vector<uint8_t> &memory) const;
    // The output file of the dump is the old one or a whole image, never a part.
    std::string HalfWrittenOutput() const;

private:
    JobKind kind_;
    std::string imagePath_, outputPath_;
    std::vector<uint8_t> before_, after_, passing_;
    std::vector<uint32_t> written_;
    mutable std::vector<uint8_t> buffer_; // the memory read's destination
};

// Image file text of `bytes`: "@%04x  %04x\n" per word.
std::string ImageText(const std::vector<uint8_t> &bytes);

} // namespace zeltest::faults
