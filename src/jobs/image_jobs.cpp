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
#include "jobs/job.h"

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

// 1 when the first size / 2 words agree; each differing word is told as a
// compare message.
int CompareImages(JobContext &context, const uint16_t *expected, const uint16_t *readBack, int32_t size) {
    uint32_t errors = 0;
    for (uint32_t j = 0; j < Length(size) / 2; ++j) {
        if (expected[j] == readBack[j]) {
            continue;
        }
        if (!context.KeepGoing()) {
            return 0;
        }
        char message[kMessageSize];
        std::snprintf(message, sizeof message, "ERROR: word 0x%x read as 0x%x instead of 0x%x\n", j,
                      static_cast<unsigned>(readBack[j]), static_cast<unsigned>(expected[j]));
        if (!context.TellMismatch(message)) {
            return 0;
        }
        ++errors;
    }
    return errors == 0 ? 1 : 0;
}

int ReadBackAndCompare(JobContext &context, const uint16_t *expected, uint16_t *readBack, int32_t size) {
    context.ReportState("Verifying...");
    if (!ReadBlock(0, readBack, Length(size), context.Progress())) {
        return 0;
    }
    return CompareImages(context, expected, readBack, size);
}

// Byte or page writes as set; false when they failed or the job is to end.
bool WriteImage(const Job &job, JobContext &context, const uint16_t *image, int32_t size) {
    const bool written = job.pageBytes == 0 ? WriteBlock(0, image, Length(size), context.Progress())
                                            : WriteChecked(job, context, 0, image, Length(size));
    return written && context.KeepGoing();
}

int ProgramSteps(const Job &job, JobContext &context, uint16_t *image, uint16_t *readBack, int32_t size) {
    FillErased(image, size);
    if (!ReadImageFile(job.path, image, Length(size))) {
        return 0;
    }
    context.ReportState("Writing...");
    if (!WriteImage(job, context, image, size)) {
        return 0;
    }
    return job.verifyAfter ? ReadBackAndCompare(context, image, readBack, size) : 1;
}

int VerifySteps(const Job &job, JobContext &context, uint16_t *image, uint16_t *readBack, int32_t size) {
    FillErased(image, size);
    if (!ReadImageFile(job.path, image, Length(size))) {
        return 0;
    }
    context.ReportState("Reading...");
    if (!ReadBlock(0, readBack, Length(size), context.Progress())) {
        return 0;
    }
    return CompareImages(context, image, readBack, size);
}

// The file is written only from a complete read, and only while the job
// may go on; a mismatch of the second read is still written, with result 0.
int DumpSteps(const Job &job, JobContext &context, uint16_t *image, uint16_t *readBack, int32_t size) {
    context.ReportState("Reading...");
    if (!ReadBlock(0, image, Length(size), context.Progress()) || !context.KeepGoing()) {
        return 0;
    }
    int matched = 1;
    if (job.verifyAfter) {
        context.ReportState("Verifying...");
        if (!ReadBlock(0, readBack, Length(size), context.Progress())) {
            return 0;
        }
        matched = CompareImages(context, image, readBack, size);
    }
    if (!context.KeepGoing() ||
        !WriteImageFile(job.path, image, Length(size), [&context] { return context.KeepGoing(); })) {
        return 0;
    }
    return matched;
}

int ClearSteps(const Job &job, JobContext &context, uint16_t *image, uint16_t *readBack, int32_t size) {
    std::memset(image, job.fillByte, WordCount(size) * sizeof *image);
    context.ReportState("Clearing...");
    if (!WriteImage(job, context, image, size)) {
        return 0;
    }
    return job.verifyAfter ? ReadBackAndCompare(context, image, readBack, size) : 1;
}

using Steps = int (*)(const Job &job, JobContext &context, uint16_t *first, uint16_t *second, int32_t size);

// Both images are released on return, before the result is told.
int RunWithImages(const Job &job, JobContext &context, Steps steps) {
    int32_t size = 0;
    const WordImage first(AllocDeviceImage(&size));
    const WordImage second(AllocDeviceImage(&size));
    if (!first || !second) {
        return 0;
    }
    return steps(job, context, first.get(), second.get(), size);
}

} // namespace

int RunProgram(const Job &job, JobContext &context) { return RunWithImages(job, context, ProgramSteps); }

int RunVerify(const Job &job, JobContext &context) { return RunWithImages(job, context, VerifySteps); }

int RunDump(const Job &job, JobContext &context) { return RunWithImages(job, context, DumpSteps); }

int RunClear(const Job &job, JobContext &context) { return RunWithImages(job, context, ClearSteps); }

} // namespace zel
