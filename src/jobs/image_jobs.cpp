// The image jobs: program, verify, dump and clear the whole EEPROM. Each
// gets two device-sized word images and runs its steps; the runner tells
// its result after both images are released.
//
// A failed transfer ends its job with result 0 at once: nothing that a
// transfer left unfilled is compared or written to a file. A stop request
// (or a thread given up on) ends it the same way between its steps.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "eeprom/block.h"
#include "eeprom/device.h"
#include "jobs/image_file.h"
#include "jobs/worker.h"

namespace zel {
namespace {

using WordImage = std::unique_ptr<uint16_t[]>;

constexpr uint16_t kErasedWord = 0xFFFF;

uint32_t Length(int32_t size) { return static_cast<uint32_t>(size); }

// Words in a device image: a last odd byte still has a word of its own.
uint32_t WordCount(int32_t size) { return (Length(size) + 1) / 2; }

// Words that the image file does not name are programmed and compared as
// the erased state.
void FillErased(uint16_t *image, int32_t size) { std::fill_n(image, WordCount(size), kErasedWord); }

} // namespace

int ZelWorker::RunProgram(const Job &job) { return RunWithImages(job, &ZelWorker::ProgramSteps); }

int ZelWorker::RunVerify(const Job &job) { return RunWithImages(job, &ZelWorker::VerifySteps); }

int ZelWorker::RunDump(const Job &job) { return RunWithImages(job, &ZelWorker::DumpSteps); }

int ZelWorker::RunClear(const Job &job) { return RunWithImages(job, &ZelWorker::ClearSteps); }

// Both images are released on return, before the result is told.
int ZelWorker::RunWithImages(const Job &job, Steps steps) {
    int32_t size = 0;
    const WordImage first(AllocDeviceImage(&size));
    const WordImage second(AllocDeviceImage(&size));
    if (!first || !second) {
        return 0;
    }
    return (this->*steps)(job, first.get(), second.get(), size);
}

int ZelWorker::ProgramSteps(const Job &job, uint16_t *image, uint16_t *readBack, int32_t size) {
    FillErased(image, size);
    if (!ReadImageFile(job.path, image, Length(size))) {
        return 0;
    }
    ReportState("Writing...");
    if (!WriteImage(job, image, size)) {
        return 0;
    }
    return job.verifyAfter ? ReadBackAndCompare(image, readBack, size) : 1;
}

int ZelWorker::VerifySteps(const Job &job, uint16_t *image, uint16_t *readBack, int32_t size) {
    FillErased(image, size);
    if (!ReadImageFile(job.path, image, Length(size))) {
        return 0;
    }
    ReportState("Reading...");
    if (!ReadBlock(0, readBack, Length(size), JobProgress())) {
        return 0;
    }
    return CompareImages(image, readBack, size);
}

// The file is written only from a complete read, and only while the job
// may go on; a mismatch of the second read is still written, with result 0.
int ZelWorker::DumpSteps(const Job &job, uint16_t *image, uint16_t *readBack, int32_t size) {
    ReportState("Reading...");
    if (!ReadBlock(0, image, Length(size), JobProgress()) || !KeepGoing()) {
        return 0;
    }
    int matched = 1;
    if (job.verifyAfter) {
        ReportState("Verifying...");
        if (!ReadBlock(0, readBack, Length(size), JobProgress())) {
            return 0;
        }
        matched = CompareImages(image, readBack, size);
    }
    if (!KeepGoing() || !WriteImageFile(job.path, image, Length(size), [this] { return KeepGoing(); })) {
        return 0;
    }
    return matched;
}

int ZelWorker::ClearSteps(const Job &job, uint16_t *image, uint16_t *readBack, int32_t size) {
    std::memset(image, job.fillByte, WordCount(size) * sizeof *image);
    ReportState("Clearing...");
    if (!WriteImage(job, image, size)) {
        return 0;
    }
    return job.verifyAfter ? ReadBackAndCompare(image, readBack, size) : 1;
}

// Byte or page writes as set; false when they failed or the job is to end.
bool ZelWorker::WriteImage(const Job &job, const uint16_t *image, int32_t size) {
    const bool written = job.pageBytes == 0 ? WriteBlock(0, image, Length(size), JobProgress())
                                            : WriteChecked(job, 0, image, Length(size));
    return written && KeepGoing();
}

int ZelWorker::ReadBackAndCompare(const uint16_t *expected, uint16_t *readBack, int32_t size) {
    ReportState("Verifying...");
    if (!ReadBlock(0, readBack, Length(size), JobProgress())) {
        return 0;
    }
    return CompareImages(expected, readBack, size);
}

int ZelWorker::CompareImages(const uint16_t *expected, const uint16_t *readBack, int32_t size) {
    uint32_t errors = 0;
    for (uint32_t j = 0; j < Length(size) / 2; ++j) {
        if (expected[j] == readBack[j]) {
            continue;
        }
        if (!KeepGoing()) {
            return 0;
        }
        char message[kMessageSize];
        std::snprintf(message, sizeof message, "ERROR: word 0x%x read as 0x%x instead of 0x%x\n", j,
                      static_cast<unsigned>(readBack[j]), static_cast<unsigned>(expected[j]));
        if (!TellMismatch(message)) {
            return 0;
        }
        ++errors;
    }
    return errors == 0 ? 1 : 0;
}

} // namespace zel
