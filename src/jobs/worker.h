// The one process-wide job object, as the exports see it: they set the
// parameters of the next job and start, stop and watch jobs through it. The
// runner does the threading, progress, result and handler dispatch; the
// bodies do the jobs.
#pragma once

#include <cstdint>

#include "jobs/job.h"
#include "jobs/runner.h"
#include "thread/no_copy.h"

namespace zel {

class ZelWorker final : private NoCopy {
public:
    using Body = JobBody;

    // The job object, created on first use and never destroyed; null when
    // it cannot be allocated.
    static ZelWorker *Instance();

    bool BackgroundJobRunning() { return runner_.BackgroundJobRunning(); }
    bool MayStartJob() { return runner_.MayStartJob(); }
    bool JobOwnsBus() { return runner_.JobOwnsBus(); }
    int RunJob(Body body, bool blocking) { return runner_.RunJob(body, blocking); }
    void StopJob() { runner_.StopJob(); }
    int GetProgress() { return runner_.GetProgress(); }
    int GetResult() { return runner_.GetResult(); }
    bool SetHandler(ZelHandler *handler) { return runner_.SetHandler(handler); }

    // Job parameters; written only while no job runs.
    static bool PathFits(const char *path); // not null and shorter than kPathSize
    void SetPath(const char *path);         // the caller has checked PathFits
    void SetFillByte(uint8_t fill) { runner_.Pending().fillByte = fill; }
    void SetVerifyAfter(bool verify) { runner_.Pending().verifyAfter = verify; }
    // Page size of the program, clear and write-memory jobs' writes; 0: byte
    // writes.
    void SetPageBytes(uint32_t pageBytes) { runner_.Pending().pageBytes = pageBytes; }

    // A memory job's range must be non-empty and lie inside the attached
    // EEPROM; the caller has checked it with RangeFits.
    static bool RangeFits(uint32_t address, uint32_t length);
    void SetReadMemory(uint32_t address, uint8_t *buffer, uint32_t length);
    void SetWriteMemory(uint32_t address, const uint8_t *data, uint32_t length, bool verify);

private:
    ZelWorker() = default;

    JobRunner runner_;
};

// A job owns the bus (see JobOwnsBus): the single device routines refuse then.
bool JobRunning();

} // namespace zel
