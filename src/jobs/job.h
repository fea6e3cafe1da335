// What a job body sees: its own copy of the settings, and the runner it
// reports through. A body runs the whole job on the calling thread and
// returns its result (1 or 0); the runner stores and tells that result once
// the job has ended, so a body never tells a result itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "eeprom/block.h"

namespace zel {

inline constexpr std::size_t kPathSize = 248;   // path characters with the terminator
inline constexpr std::size_t kMessageSize = 64; // compare message with the terminator

// What the exports set for the next job. Each job takes its own copy at its
// start, so that a thread that a stop gave up on never reads what the host
// sets for a later job.
struct Settings {
    char path[kPathSize] = {};
    uint8_t fillByte = 0;
    bool verifyAfter = false;
    uint32_t pageBytes = 0; // 0: byte writes
    // the memory jobs' range; the read job's buffer is the host's, written
    // once the whole range was read
    uint32_t memoryAddress = 0;
    uint32_t memoryLength = 0;
    uint8_t *readBuffer = nullptr;
    bool verifyWrite = false; // read the written range back and compare
};

struct Job : Settings {
    std::vector<uint8_t> writeData; // copied from the host when the job is accepted
};

// The runner's side of a job that runs.
class JobContext {
public:
    // False once the job has been asked to stop, the link changed under it,
    // or its thread was given up on.
    virtual bool KeepGoing() const = 0;
    // What the body hands its block transfers: each step is stored and told
    // to the handler; a step answers false when the job is to end early.
    virtual ProgressSink Progress() = 0;
    virtual void ReportState(const char *state) = 0;
    // Keeps a compare message as the last one and tells it as "\n" and the
    // text; false, with nothing kept or told, on a thread given up on.
    virtual bool TellMismatch(const char *text) = 0;

protected:
    ~JobContext() = default;
};

using JobBody = int (*)(const Job &job, JobContext &context);

// The image jobs (image_jobs.cpp).
int RunProgram(const Job &job, JobContext &context);
int RunVerify(const Job &job, JobContext &context);
int RunDump(const Job &job, JobContext &context);
int RunClear(const Job &job, JobContext &context);

// The memory jobs (memory_jobs.cpp).
int RunReadMemory(const Job &job, JobContext &context);
int RunWriteMemory(const Job &job, JobContext &context);

// The writes of the page-write and range paths; a write cycle that outlasts
// the acknowledge polling is told as an error message.
bool WriteChecked(const Job &job, JobContext &context, uint32_t address, const uint16_t *words, uint32_t length);

} // namespace zel
