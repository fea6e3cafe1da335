// Exports of the image jobs and of the job status. Each is a thin shell
// over the job object: no exception leaves it.
#include "zelapi.h"

#include "eeprom/block.h"
#include "eeprom/device.h"
#include "jobs/worker.h"

namespace {

using zel::ZelWorker;

// Refused (0, nothing stored) while a background job runs, before a device
// is attached, or when `store` rejects the parameters.
template <typename Store> int StartImageJob(ZelWorker::Body body, uint8_t blocking, Store store) noexcept {
    try {
        ZelWorker *worker = ZelWorker::Instance();
        if (worker == nullptr || !worker->MayStartJob() || !zel::DeviceAttached() || !store(*worker)) {
            return 0;
        }
        return worker->RunJob(body, blocking != 0);
    } catch (...) {
        return 0;
    }
}

// A status read; 0 when the job object cannot be had.
template <typename Read> int ReadStatus(Read read) noexcept {
    try {
        ZelWorker *worker = ZelWorker::Instance();
        return worker != nullptr ? read(*worker) : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace

extern "C" {

int zelProgram(const char *path, uint8_t blocking, uint8_t verify) {
    return StartImageJob(&zel::RunProgram, blocking, [&](ZelWorker &worker) {
        if (!ZelWorker::PathFits(path)) {
            return false;
        }
        worker.SetVerifyAfter(verify != 0);
        worker.SetPath(path);
        return true;
    });
}

// The verify job always compares: it leaves verifyAfter as it was.
int zelVerify(const char *path, uint8_t blocking) {
    return StartImageJob(&zel::RunVerify, blocking, [&](ZelWorker &worker) {
        if (!ZelWorker::PathFits(path)) {
            return false;
        }
        worker.SetPath(path);
        return true;
    });
}

int zelDump(const char *path, uint8_t blocking, uint8_t verify) {
    return StartImageJob(&zel::RunDump, blocking, [&](ZelWorker &worker) {
        if (!ZelWorker::PathFits(path)) {
            return false;
        }
        worker.SetVerifyAfter(verify != 0);
        worker.SetPath(path);
        return true;
    });
}

int zelClear(uint8_t fill, uint8_t blocking, uint8_t verify) {
    return StartImageJob(&zel::RunClear, blocking, [&](ZelWorker &worker) {
        worker.SetVerifyAfter(verify != 0);
        worker.SetFillByte(fill);
        return true;
    });
}

int zelReadMemory(uint32_t address, uint8_t *buffer, uint32_t length, uint8_t blocking) {
    return StartImageJob(&zel::RunReadMemory, blocking, [&](ZelWorker &worker) {
        if (buffer == nullptr || !ZelWorker::RangeFits(address, length)) {
            return false;
        }
        worker.SetReadMemory(address, buffer, length);
        return true;
    });
}

int zelWriteMemory(uint32_t address, const uint8_t *data, uint32_t length, uint8_t blocking, uint8_t verify) {
    return StartImageJob(&zel::RunWriteMemory, blocking, [&](ZelWorker &worker) {
        if (data == nullptr || !ZelWorker::RangeFits(address, length)) {
            return false;
        }
        worker.SetWriteMemory(address, data, length, verify != 0);
        return true;
    });
}

// Refused like a job export: not while a job runs, also not from inside one.
int zelSetPageWrite(int pageBytes) {
    try {
        ZelWorker *worker = ZelWorker::Instance();
        if (worker == nullptr || pageBytes < 0 || !zel::PageSizeSupported(static_cast<uint32_t>(pageBytes)) ||
            !worker->MayStartJob()) {
            return 0;
        }
        worker->SetPageBytes(static_cast<uint32_t>(pageBytes));
        return 1;
    } catch (...) {
        return 0;
    }
}

int zelGetProgress(void) {
    return ReadStatus([](ZelWorker &worker) { return worker.GetProgress(); });
}

int zelGetResult(void) {
    return ReadStatus([](ZelWorker &worker) { return worker.GetResult(); });
}

int zelIsBusy(void) {
    return ReadStatus([](ZelWorker &worker) { return worker.BackgroundJobRunning() ? 1 : 0; });
}

int zelStop(void) {
    try {
        if (ZelWorker *worker = ZelWorker::Instance()) {
            worker->StopJob();
        }
    } catch (...) {
        // a stop that could not finish its bookkeeping still answers 1
    }
    return 1;
}

} // extern "C"
