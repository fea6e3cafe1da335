// The exported callback class and its installation. The class has no data:
// its four operations do nothing unless a host overrides them.
#include "zelapi.h"

#include "jobs/worker.h"

ZelHandler::ZelHandler() = default;

ZelHandler::ZelHandler(const ZelHandler &) {}

ZelHandler &ZelHandler::operator=(const ZelHandler &) { return *this; }

void ZelHandler::OnProgressChange(int) {}

void ZelHandler::OnStateChange(const char *) {}

void ZelHandler::OnResult(int) {}

void ZelHandler::OnMessage(const char *) {}

void SetZelHandler(ZelHandler *handler) {
    try {
        if (zel::ZelWorker *worker = zel::ZelWorker::Instance()) {
            worker->SetHandler(handler);
        }
    } catch (...) {
        // the job object could not be made: there is nothing to install into
    }
}
