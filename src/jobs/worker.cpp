#include "jobs/worker.h"

#include <cstring>
#include <new>

#include "jobs/progress.h"
#include "platform/abandon.h"
#include "zelapi.h"

namespace zel {

ZelWorker *ZelWorker::Instance() {
    // created once, thread-safe; never destroyed
    static ZelWorker *const instance = new (std::nothrow) ZelWorker();
    return instance;
}

bool ZelWorker::SetProgress(int percent) {
    // a thread that a stop gave up on no longer speaks for any job
    if (platform::CurrentThreadAbandoned()) {
        return false;
    }
    std::lock_guard<std::recursive_mutex> guard(lock_);
    progress_.store(percent);
    if (ZelHandler *handler = handler_.load()) {
        handler->OnProgressChange(percent);
    }
    return true;
}

void ZelWorker::SetResult(int result) {
    if (platform::CurrentThreadAbandoned()) {
        return;
    }
    std::lock_guard<std::recursive_mutex> guard(lock_);
    result_.store(result);
    if (ZelHandler *handler = handler_.load()) {
        handler->OnResult(result);
    }
}

void ZelWorker::ReportState(const char *state) {
    ZelHandler *handler = handler_.load();
    if (handler != nullptr && !platform::CurrentThreadAbandoned()) {
        handler->OnStateChange(state);
    }
}

void ZelWorker::ReportMessage(const char *text) {
    ZelHandler *handler = handler_.load();
    if (handler != nullptr && !platform::CurrentThreadAbandoned()) {
        handler->OnMessage(text);
    }
}

int ZelWorker::GetProgress() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return progress_.load();
}

int ZelWorker::GetResult() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return result_.load();
}

void ZelWorker::SetHandler(ZelHandler *handler) { handler_.store(handler); }

bool ZelWorker::PathFits(const char *path) {
    return path != nullptr && std::strlen(path) < kPathSize;
}

void ZelWorker::SetPath(const char *path) {
    std::memcpy(path_, path, std::strlen(path) + 1);
}

bool ZelWorker::KeepGoing() const { return !platform::CurrentThreadAbandoned(); }

bool ReportProgress(int percent) {
    ZelWorker *worker = ZelWorker::Instance();
    return worker != nullptr && worker->SetProgress(percent);
}

} // namespace zel
