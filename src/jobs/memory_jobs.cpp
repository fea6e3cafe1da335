// The memory jobs: read a range of the EEPROM into the host's buffer, and
// write a range from a copy of the host's bytes, with a read-back compare.
// They keep the image jobs' rules: state texts, progress from the block
// transfers, result told after the buffers are released, a failed transfer
// or a stop ends the job with 0.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "eeprom/block.h"
#include "eeprom/device.h"
#include "jobs/job.h"
#include "platform/thread.h"

namespace zel {
namespace {

using WordImage = std::unique_ptr<uint16_t[]>;

// A word image of `length` bytes; null when it cannot be had.
WordImage NewImage(uint32_t length) { return WordImage(new (std::nothrow) uint16_t[(uint64_t{length} + 1) / 2]); }

uint8_t ByteOf(const uint16_t *words, uint32_t k) {
    const uint16_t word = words[k / 2];
    return static_cast<uint8_t>(k % 2 == 0 ? word : word >> 8);
}

// Byte k becomes the low byte of word k / 2 for even k, its high byte for odd k.
void Pack(const std::vector<uint8_t> &bytes, uint16_t *words) {
    for (uint32_t k = 0; k < bytes.size(); ++k) {
        if (k % 2 == 0) {
            words[k / 2] = bytes[k];
        } else {
            words[k / 2] = static_cast<uint16_t>(words[k / 2] | bytes[k] << 8);
        }
    }
}

// Copies the range into the host's buffer, unless the owner has given up on
// this thread: then the host's memory is left alone.
bool HandOver(const uint16_t *words, uint32_t length, uint8_t *buffer) {
    if (!platform::BeginOwnerAccess()) {
        return false;
    }
    for (uint32_t k = 0; k < length; ++k) {
        buffer[k] = ByteOf(words, k);
    }
    platform::EndOwnerAccess();
    return true;
}

// The cells that a write's read-back compares, from `first` on.
struct Span {
    uint32_t first;
    uint32_t length;
};

// The whole declared pages that the range touches, cut at the end of memory:
// a page size larger than the part's rolls a write over onto cells outside
// the range, but never outside its declared page.
Span TouchedPages(uint32_t address, uint32_t length, uint32_t pageBytes) {
    const uint64_t mask = uint64_t{pageBytes} - 1;
    const uint64_t end = std::min(uint64_t{1} << SizeBits(), (uint64_t{address} + length + mask) & ~mask);
    const auto first = static_cast<uint32_t>(address & ~mask);
    return {first, static_cast<uint32_t>(end - first)};
}

// Bytes [first, first + n) of the EEPROM, without progress.
bool ReadBytes(uint32_t first, uint32_t n, uint8_t *out) {
    if (n == 0) {
        return true;
    }
    const WordImage words = NewImage(n);
    if (!words || !ReadBlock(first, words.get(), n, kNoProgress)) {
        return false;
    }
    for (uint32_t k = 0; k < n; ++k) {
        out[k] = ByteOf(words.get(), k);
    }
    return true;
}

// What `span` must read back as after the write: the range's bytes, and the
// cells around them as they are before it.
bool ExpectedAfter(const Span &span, uint32_t address, const std::vector<uint8_t> &data,
                   std::vector<uint8_t> &expected) {
    const auto length = static_cast<uint32_t>(data.size());
    const uint32_t head = address - span.first;
    const uint32_t tail = span.length - head - length;
    expected.resize(span.length);
    std::copy(data.begin(), data.end(), expected.begin() + head);
    return ReadBytes(span.first, head, expected.data()) &&
           ReadBytes(address + length, tail, expected.data() + head + length);
}

// Each differing byte is told as "\n" and its compare message, with its
// EEPROM address.
int CompareBytes(JobContext &context, uint32_t address, const std::vector<uint8_t> &expected,
                 const uint16_t *readBack) {
    uint32_t errors = 0;
    for (uint32_t k = 0; k < expected.size(); ++k) {
        const uint8_t read = ByteOf(readBack, k);
        if (read == expected[k]) {
            continue;
        }
        if (!context.KeepGoing()) {
            return 0;
        }
        char message[kMessageSize];
        std::snprintf(message, sizeof message, "ERROR: byte 0x%x read as 0x%x instead of 0x%x\n", address + k,
                      static_cast<unsigned>(read), static_cast<unsigned>(expected[k]));
        if (!context.TellMismatch(message)) {
            return 0;
        }
        ++errors;
    }
    return errors == 0 ? 1 : 0;
}

} // namespace

bool WriteChecked(const Job &job, JobContext &context, uint32_t address, const uint16_t *words, uint32_t length) {
    const WriteResult result = WriteRange(address, words, length, context.Progress(), job.pageBytes);
    if (result == WriteResult::CycleTooLong) {
        char message[kMessageSize];
        std::snprintf(message, sizeof message, "ERROR: the EEPROM did not finish its write cycle within %u ms\n",
                      static_cast<unsigned>(kWriteCycleMs));
        context.TellMismatch(message);
    }
    return result == WriteResult::Written;
}

int RunReadMemory(const Job &job, JobContext &context) {
    const uint32_t address = job.memoryAddress;
    const uint32_t length = job.memoryLength;
    const WordImage image = NewImage(length);
    if (!image) {
        return 0;
    }
    context.ReportState("Reading...");
    if (!ReadBlock(address, image.get(), length, context.Progress()) || !context.KeepGoing()) {
        return 0;
    }
    return HandOver(image.get(), length, job.readBuffer) ? 1 : 0;
}

// With verify and page writes the read-back compares the whole declared
// pages that the range touches, so that a roll-over always shows.
int RunWriteMemory(const Job &job, JobContext &context) {
    const uint32_t address = job.memoryAddress;
    const std::vector<uint8_t> &data = job.writeData;
    const auto length = static_cast<uint32_t>(data.size());
    const Span compared = job.verifyWrite && job.pageBytes != 0 ? TouchedPages(address, length, job.pageBytes)
                                                                : Span{address, length};
    const WordImage image = NewImage(length);
    const WordImage readBack = NewImage(compared.length);
    if (!image || !readBack) {
        return 0;
    }
    Pack(data, image.get());
    context.ReportState("Writing...");
    std::vector<uint8_t> expected;
    if (job.verifyWrite && !ExpectedAfter(compared, address, data, expected)) {
        return 0;
    }
    if (!WriteChecked(job, context, address, image.get(), length) || !context.KeepGoing()) {
        return 0;
    }
    if (!job.verifyWrite) {
        return 1;
    }
    context.ReportState("Verifying...");
    if (!ReadBlock(compared.first, readBack.get(), compared.length, context.Progress())) {
        return 0;
    }
    return CompareBytes(context, compared.first, expected, readBack.get());
}

} // namespace zel
