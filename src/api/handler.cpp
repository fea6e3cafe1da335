// The exported callback class and its installation, and the C callbacks,
// which reach the job object as a handler of their own: one dispatch path,
// one set of thread, lock and lifetime rules for both. The class has no
// data: its four operations do nothing unless a host overrides them.
#include "zelapi.h"

#include <memory>
#include <new>
#include <vector>

#include "jobs/worker.h"
#include "thread/lock.h"

ZelHandler::ZelHandler() = default;

ZelHandler::ZelHandler(const ZelHandler &) {}

ZelHandler &ZelHandler::operator=(const ZelHandler &) { return *this; }

void ZelHandler::OnProgressChange(int) {}

void ZelHandler::OnStateChange(const char *) {}

void ZelHandler::OnResult(int) {}

void ZelHandler::OnMessage(const char *) {}

namespace {

// A copy of a host's C callbacks and its user pointer; a null member is skipped.
class CallbackHandler final : public ZelHandler {
public:
    CallbackHandler(const ZelCallbacks &callbacks, void *user) : callbacks_(callbacks), user_(user) {}

    bool Holds(const ZelCallbacks &callbacks, void *user) const {
        return callbacks_.onProgressChange == callbacks.onProgressChange &&
               callbacks_.onStateChange == callbacks.onStateChange && callbacks_.onResult == callbacks.onResult &&
               callbacks_.onMessage == callbacks.onMessage && user_ == user;
    }

    void OnProgressChange(int progress) override {
        if (callbacks_.onProgressChange != nullptr) {
            callbacks_.onProgressChange(user_, progress);
        }
    }
    void OnStateChange(const char *state) override {
        if (callbacks_.onStateChange != nullptr) {
            callbacks_.onStateChange(user_, state);
        }
    }
    void OnResult(int result) override {
        if (callbacks_.onResult != nullptr) {
            callbacks_.onResult(user_, result);
        }
    }
    void OnMessage(const char *message) override {
        if (callbacks_.onMessage != nullptr) {
            callbacks_.onMessage(user_, message);
        }
    }

private:
    const ZelCallbacks callbacks_;
    void *const user_;
};

// Every set of callbacks ever installed, kept until the process ends: the
// library never deletes a handler, and installing the same set again reuses
// its copy, so a host that switches between a few sets uses a few copies.
class CallbackCopies {
public:
    // The copy of `callbacks` with `user`; null when it cannot be made.
    CallbackHandler *Find(const ZelCallbacks &callbacks, void *user) {
        const zel::ScopedLock guard(lock_);
        for (CallbackHandler *copy : copies_) {
            if (copy->Holds(callbacks, user)) {
                return copy;
            }
        }
        auto copy = std::unique_ptr<CallbackHandler>(new (std::nothrow) CallbackHandler(callbacks, user));
        if (!copy) {
            return nullptr;
        }
        copies_.push_back(copy.get()); // may throw: the copy is then released
        return copy.release();
    }

private:
    zel::Lock lock_ = zel::CreateLock(); // guards copies_
    std::vector<CallbackHandler *> copies_;
};

// Made once, never destroyed: a job may call a copy up to the process's end.
CallbackCopies &Copies() {
    static CallbackCopies *const copies = new CallbackCopies();
    return *copies;
}

bool Install(ZelHandler *handler) {
    zel::ZelWorker *worker = zel::ZelWorker::Instance();
    return worker != nullptr && worker->SetHandler(handler);
}

} // namespace

void SetZelHandler(ZelHandler *handler) {
    try {
        Install(handler);
    } catch (...) {
        // the job object could not be made: there is nothing to install into
    }
}

extern "C" int zelSetCallbacks(const ZelCallbacks *callbacks, void *user) {
    try {
        if (callbacks == nullptr) {
            return Install(nullptr) ? 1 : 0;
        }
        CallbackHandler *copy = Copies().Find(*callbacks, user);
        if (copy == nullptr) {
            return 0;
        }
        return Install(copy) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
