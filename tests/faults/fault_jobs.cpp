#include "faults/fault_jobs.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "eeprom/device.h"
#include "support/test_data.h"
#include "zelapi.h"

namespace zeltest::faults {
namespace {

constexpr uint32_t kChanged[] = {0x05, 0x83, 0xFE}; // the bytes an image job changes
constexpr uint8_t kFill = 0xA5;
constexpr uint16_t kSizeCheckFactor = 0xA5A5; // the size check writes the top word times this
constexpr char kOldOutput[] = "old contents\n";
// 24C02: the header sits at bytes 1-4; S = 8, B = 0 gives 0x40 0xBF twice
constexpr uint32_t kHeaderAt = 1;
constexpr uint8_t kHeader[4] = {0x40, 0xBF, 0x40, 0xBF};
// The memory jobs' range: two of the changed bytes, across a chunk boundary.
constexpr uint32_t kRangeAt = 0x04;
constexpr uint32_t kRangeBytes = 0x80;
constexpr uint8_t kUnread = 0xEE; // the read's buffer before the job
constexpr int kPageBytes = 8;     // the 24C02's page

std::vector<uint8_t> Pattern() {
    std::vector<uint8_t> bytes(kBytes);
    for (uint32_t i = 0; i < kBytes; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    return bytes;
}

std::vector<uint8_t> WithChanges(std::vector<uint8_t> bytes) {
    for (uint32_t address : kChanged) {
        bytes[address] ^= 0x5A;
    }
    return bytes;
}

std::vector<uint8_t> WithHeader(std::vector<uint8_t> bytes, uint8_t third, uint8_t fourth) {
    for (uint32_t k = 0; k < 4; ++k) {
        bytes[kHeaderAt + k] = kHeader[k];
    }
    bytes[kHeaderAt + 2] = third;
    bytes[kHeaderAt + 3] = fourth;
    return bytes;
}

std::vector<uint8_t> SizeCheckPattern(const std::vector<uint8_t> &bytes) {
    const auto saved = static_cast<uint16_t>(bytes[kBytes - 2] | bytes[kBytes - 1] << 8);
    const auto pattern = static_cast<uint16_t>(saved * kSizeCheckFactor);
    std::vector<uint8_t> passing = bytes;
    passing[kBytes - 2] = static_cast<uint8_t>(pattern);
    passing[kBytes - 1] = static_cast<uint8_t>(pattern >> 8);
    return passing;
}

std::vector<uint32_t> Differences(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    std::vector<uint32_t> at;
    for (uint32_t i = 0; i < kBytes; ++i) {
        if (a[i] != b[i]) {
            at.push_back(i);
        }
    }
    return at;
}

// text mode: the library writes its lines with the platform's line ends
std::string ReadText(const std::string &path) { return zeltest::ReadFile(path, std::ios::in); }

void WriteText(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::trunc);
    out << text;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

bool IsWholeImage(const std::string &text) {
    std::istringstream lines(text);
    std::string line;
    uint32_t index = 0;
    while (std::getline(lines, line)) {
        unsigned at = 0, word = 0;
        char tail = 0;
        if (line.size() != 11 || std::sscanf(line.c_str(), "@%4x  %4x%c", &at, &word, &tail) != 2 || at != index) {
            return false;
        }
        ++index;
    }
    return index == kBytes / 2;
}

} // namespace

const char *JobName(JobKind kind) {
    switch (kind) {
    case JobKind::Program:
        return "program";
    case JobKind::ProgramUnverified:
        return "program without verify";
    case JobKind::ClearUnverified:
        return "clear without verify";
    case JobKind::VerifyMatching:
        return "verify (image matches)";
    case JobKind::VerifyDiffering:
        return "verify (image differs)";
    case JobKind::Dump:
        return "dump";
    case JobKind::Clear:
        return "clear";
    case JobKind::CheckSize:
        return "check-size";
    case JobKind::ProgramInPages:
        return "program in pages";
    case JobKind::ClearInPagesUnverified:
        return "clear in pages without verify";
    case JobKind::ReadMemory:
        return "read memory";
    case JobKind::WriteMemory:
        return "write memory";
    case JobKind::WriteMemoryInPages:
        return "write memory in pages";
    case JobKind::ReadHeader:
        return "read-header";
    case JobKind::WriteHeader:
        return "write-header";
    }
    return "?";
}

bool ReadsBack(JobKind kind) {
    return kind != JobKind::ProgramUnverified && kind != JobKind::ClearUnverified &&
           kind != JobKind::ClearInPagesUnverified;
}

std::string ImageText(const std::vector<uint8_t> &bytes) {
    std::string text;
    char line[32];
    for (uint32_t k = 0; k + 1 < bytes.size(); k += 2) {
        std::snprintf(line, sizeof line, "@%04x  %04x\n", k / 2,
                      static_cast<unsigned>(bytes[k] | bytes[k + 1] << 8));
        text += line;
    }
    return text;
}

FaultJob::FaultJob(JobKind kind, const std::string &folder)
    : kind_(kind), imagePath_((std::filesystem::path(folder) / "image.txt").string()),
      outputPath_((std::filesystem::path(folder) / "dump.txt").string()) {
    const std::vector<uint8_t> pattern = Pattern();
    before_ = pattern;
    after_ = pattern;
    switch (kind) {
    case JobKind::Program:
    case JobKind::ProgramUnverified:
    case JobKind::ProgramInPages:
        after_ = WithChanges(pattern);
        break;
    case JobKind::WriteMemory:
    case JobKind::WriteMemoryInPages: {
        const std::vector<uint8_t> changed = WithChanges(pattern);
        std::copy_n(changed.begin() + kRangeAt, kRangeBytes, after_.begin() + kRangeAt);
        break;
    }
    case JobKind::Clear:
    case JobKind::ClearUnverified:
    case JobKind::ClearInPagesUnverified:
        before_.assign(kBytes, kFill);
        for (uint32_t address : kChanged) {
            before_[address] = pattern[address];
        }
        after_.assign(kBytes, kFill);
        break;
    case JobKind::ReadHeader:
        // copy two is damaged: the read accepts copy one and repairs the other
        before_ = WithHeader(pattern, 0x00, 0x00);
        after_ = WithHeader(pattern, kHeader[2], kHeader[3]);
        break;
    case JobKind::WriteHeader:
        before_ = WithHeader(pattern, 0x48, 0xB7); // another geometry in copy two
        after_ = WithHeader(pattern, kHeader[2], kHeader[3]);
        break;
    case JobKind::VerifyMatching:
    case JobKind::VerifyDiffering:
    case JobKind::Dump:
    case JobKind::CheckSize:
    case JobKind::ReadMemory:
        break;
    }
    passing_ = kind == JobKind::CheckSize ? SizeCheckPattern(before_) : after_;
    written_ = Differences(before_, passing_);
}

void FaultJob::PrepareFiles() const {
    const std::vector<uint8_t> image = kind_ == JobKind::VerifyDiffering ? WithChanges(before_) : after_;
    WriteText(imagePath_, ImageText(image));
    WriteText(outputPath_, kOldOutput);
}

// Page writes are set for the one job and off again for the rest.
static int InPages(int (*job)(const FaultJob &), const FaultJob &self) {
    if (zelSetPageWrite(kPageBytes) != 1) {
        return -1;
    }
    const int result = job(self);
    return zelSetPageWrite(0) == 1 ? result : -1;
}

int FaultJob::Run() const {
    const auto write = [](const FaultJob &self) {
        const std::vector<uint8_t> data(self.after_.begin() + kRangeAt,
                                        self.after_.begin() + kRangeAt + kRangeBytes);
        return zelWriteMemory(kRangeAt, data.data(), kRangeBytes, 1, 1);
    };
    switch (kind_) {
    case JobKind::ProgramInPages:
        return InPages([](const FaultJob &self) { return zelProgram(self.imagePath_.c_str(), 1, 1); }, *this);
    case JobKind::ClearInPagesUnverified:
        return InPages([](const FaultJob &) { return zelClear(kFill, 1, 0); }, *this);
    case JobKind::WriteMemory:
        return write(*this);
    case JobKind::WriteMemoryInPages:
        return InPages(write, *this);
    case JobKind::ReadMemory: {
        buffer_.assign(kRangeBytes, kUnread);
        const int result = zelReadMemory(kRangeAt, buffer_.data(), kRangeBytes, 1);
        const bool untouched = buffer_ == std::vector<uint8_t>(kRangeBytes, kUnread);
        return result == 0 && !untouched ? 2 : result;
    }
    case JobKind::Program:
        return zelProgram(imagePath_.c_str(), 1, 1);
    case JobKind::ProgramUnverified:
        return zelProgram(imagePath_.c_str(), 1, 0);
    case JobKind::ClearUnverified:
        return zelClear(kFill, 1, 0);
    case JobKind::VerifyMatching:
    case JobKind::VerifyDiffering:
        return zelVerify(imagePath_.c_str(), 1);
    case JobKind::Dump:
        return zelDump(outputPath_.c_str(), 1, 1);
    case JobKind::Clear:
        return zelClear(kFill, 1, 1);
    case JobKind::CheckSize:
        return zelCheckSize();
    case JobKind::ReadHeader:
        return static_cast<int>(zelReadHeader());
    case JobKind::WriteHeader:
        return zelWriteHeader();
    }
    return -1;
}

std::string FaultJob::StrayBytes(const std::vector<uint8_t> &memory) const {
    for (uint32_t i = 0; i < kBytes; ++i) {
        const uint8_t b = memory[i];
        if (b != before_[i] && b != after_[i] && b != passing_[i]) {
            return "byte " + Hex(i) + " holds " + Hex(b) + ", neither its old " + Hex(before_[i]) +
                   " nor its new " + Hex(passing_[i]) + " value";
        }
    }
    return "";
}

std::string FaultJob::FalseSuccess(const std::vector<uint8_t> &start, const std::vector<uint8_t> &memory) const {
    switch (kind_) {
    case JobKind::VerifyDiffering:
        return "an image that differs in " + std::to_string(std::size(kChanged)) + " bytes verified";
    case JobKind::VerifyMatching:
        return memory == before_ ? "" : "verified an EEPROM that no longer holds the image";
    case JobKind::CheckSize:
        return memory == start ? "" : "the size check left the EEPROM changed";
    case JobKind::Dump: {
        const std::string text = ReadText(outputPath_);
        if (memory != start) {
            return "the dump changed the EEPROM";
        }
        return text == ImageText(memory) ? "" : "the output file does not hold the EEPROM";
    }
    case JobKind::ReadMemory:
        if (memory != start) {
            return "the memory read changed the EEPROM";
        }
        return std::equal(buffer_.begin(), buffer_.end(), memory.begin() + kRangeAt)
                   ? ""
                   : "the buffer does not hold the range";
    case JobKind::ReadHeader:
        if (zel::SizeBits() != kSizeBits || zel::BlockBits() != 0 || zel::AddressBytes() != 1) {
            return "the header read left size bits " + std::to_string(zel::SizeBits());
        }
        break;
    case JobKind::Program:
    case JobKind::ProgramUnverified:
    case JobKind::ProgramInPages:
    case JobKind::Clear:
    case JobKind::ClearUnverified:
    case JobKind::ClearInPagesUnverified:
    case JobKind::WriteMemory:
    case JobKind::WriteMemoryInPages:
    case JobKind::WriteHeader:
        break;
    }
    if (memory != after_) {
        const std::vector<uint32_t> wrong = Differences(memory, after_);
        return std::to_string(wrong.size()) + " bytes are not as the job was asked to leave them, the first at " +
               Hex(wrong.front());
    }
    return "";
}

std::string FaultJob::HalfWrittenOutput() const {
    if (kind_ != JobKind::Dump) {
        return "";
    }
    if (std::filesystem::exists(outputPath_ + ".zeltmp")) {
        return "a temporary output file was left behind";
    }
    const std::string text = ReadText(outputPath_);
    return text == kOldOutput || IsWholeImage(text) ? "" : "the output file is neither old nor whole";
}

} // namespace zeltest::faults
