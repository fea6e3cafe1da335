#include "support/test_transport.h"

#include <algorithm>
#include <utility>

#include "hoplink.h"
#include "platform/tick.h"

namespace zeltest {
namespace {

constexpr uint32_t kRegOutputEnable = hoplink::sim::kRegOutputEnable;
constexpr uint32_t kRegOutputLevel = hoplink::sim::kRegOutputLevel;
constexpr uint32_t kRegInputLevel = hoplink::sim::kRegInputLevel;
constexpr int kFailed = 1;

uint32_t ReadTestClock(void *context) { return static_cast<TestTransport *>(context)->NowMs(); }

} // namespace

TestTransport &TestTransport::Get() {
    static TestTransport transport;
    return transport;
}

TestTransport::TestTransport() { zel::platform::SetTickSource(&ReadTestClock, this); }

void TestTransport::Reset() {
    std::lock_guard lock(mutex_);
    link_.Close();
    clock_.SetStep(1);
    registers_.clear();
    linkCalls_.clear();
    openResult_.reset();
    enumerateResult_ = 0;
    queuedReads_.clear();
    failWrites_ = false;
    failReads_ = false;
    hookAt_ = 0;
    hook_ = nullptr;
    batches_ = 0;
    enable_ = 0;
    level_ = 0;
    zel::platform::SetTickSource(&ReadTestClock, this);
}

void TestTransport::ScriptOpenResult(std::optional<int> result) {
    std::lock_guard lock(mutex_);
    openResult_ = result;
}

void TestTransport::ScriptEnumerateResult(int result) {
    std::lock_guard lock(mutex_);
    enumerateResult_ = result;
}

void TestTransport::QueueReads(const std::vector<uint16_t> &values) {
    std::lock_guard lock(mutex_);
    queuedReads_.insert(queuedReads_.end(), values.begin(), values.end());
}

void TestTransport::FailWrites(bool fail) {
    std::lock_guard lock(mutex_);
    failWrites_ = fail;
}

void TestTransport::FailReads(bool fail) {
    std::lock_guard lock(mutex_);
    failReads_ = fail;
}

hoplink::sim::Target *TestTransport::Target() {
    std::lock_guard lock(mutex_);
    return link_.Current();
}

uint32_t TestTransport::NowMs() {
    std::lock_guard lock(mutex_);
    return clock_.NowMillis();
}

std::vector<RegisterAccess> TestTransport::Registers() const {
    std::lock_guard lock(mutex_);
    return registers_;
}

std::vector<LinkCall> TestTransport::LinkCalls() const {
    std::lock_guard lock(mutex_);
    return linkCalls_;
}

size_t TestTransport::WriteCount() const {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const RegisterAccess &access : registers_) {
        count += access.kind == AccessKind::Write ? 1 : 0;
    }
    return count;
}

size_t TestTransport::ReadCount() const {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const RegisterAccess &access : registers_) {
        count += access.kind == AccessKind::Read ? 1 : 0;
    }
    return count;
}

void TestTransport::ClearLog() {
    std::lock_guard lock(mutex_);
    registers_.clear();
    linkCalls_.clear();
}

int TestTransport::Open(const char *config, int reserved, uint16_t linkParam) {
    std::lock_guard lock(mutex_);
    LinkCall call{LinkCallKind::Open, config != nullptr ? config : "", reserved, linkParam, {}, 0,
                  registers_.size()};
    if (openResult_) {
        call.result = *openResult_;
    } else {
        call.result = link_.Open(config, reserved, linkParam);
        if (call.result != 0 && link_.Current() != nullptr) {
            link_.Current()->SetClock(&clock_);
        }
    }
    linkCalls_.push_back(call);
    return call.result;
}

int TestTransport::Close() {
    std::lock_guard lock(mutex_);
    const int result = link_.Close();
    linkCalls_.push_back({LinkCallKind::Close, "", 0, 0, {}, result, registers_.size()});
    return result;
}

int TestTransport::CpuStop() {
    std::lock_guard lock(mutex_);
    const int result = link_.Current() != nullptr ? link_.CpuStop() : 0;
    linkCalls_.push_back({LinkCallKind::CpuStop, "", 0, 0, {}, result, registers_.size()});
    return result;
}

int TestTransport::Enumerate(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    std::lock_guard lock(mutex_);
    linkCalls_.push_back({LinkCallKind::Enumerate, "", 0, 0, {a, b, c, d}, enumerateResult_, registers_.size()});
    return enumerateResult_;
}

void TestTransport::HookAccess(uint64_t nth, std::function<bool()> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
    hookAt_ = accesses_ + nth;
}

namespace {
thread_local bool failHookedAccess = false; // set by a hook for the access it held
}

void TestTransport::FailHookedAccess() { failHookedAccess = true; }

void TestTransport::AdvanceClock(uint64_t micros) {
    std::lock_guard lock(mutex_);
    clock_.Advance(micros);
}

void TestTransport::RunAccessHook() {
    std::function<bool()> hook;
    {
        std::lock_guard lock(mutex_);
        ++accesses_;
        if (hookAt_ == 0 || accesses_ < hookAt_) {
            return;
        }
        hook = std::move(hook_);
        hookAt_ = 0; // disarmed while it runs: it may block this access only
    }
    if (!hook()) {
        std::lock_guard lock(mutex_);
        if (hookAt_ == 0) {
            hook_ = std::move(hook);
            hookAt_ = accesses_ + 1;
        }
    }
}

int TestTransport::Write(uint32_t address, uint32_t value) {
    RunAccessHook();
    std::lock_guard lock(mutex_);
    const auto word = static_cast<uint16_t>(value);
    const int result = std::exchange(failHookedAccess, false) ? kFailed : WriteUnlocked(address, word);
    registers_.push_back({AccessKind::Write, address, word, result});
    return result;
}

int TestTransport::Read(uint32_t address, uint16_t *value) {
    RunAccessHook();
    std::lock_guard lock(mutex_);
    const int result = std::exchange(failHookedAccess, false) ? kFailed : ReadUnlocked(address, value);
    registers_.push_back({AccessKind::Read, address, *value, result});
    return result;
}

// Straight to the target's batch when nothing is scripted, so that its
// counters see one call; else access by access through the scripts.
int32_t TestTransport::Batch(hoplink_access *accesses, int32_t count) {
    if (accesses == nullptr || count < 1 || count > HOPLINK_BATCH_MAX) {
        return -1;
    }
    {
        std::lock_guard lock(mutex_);
        ++batches_;
        const bool scripted = !queuedReads_.empty() || failWrites_ || failReads_ || hookAt_ != 0;
        if (link_.Current() != nullptr && !scripted) {
            const int32_t done = link_.Batch(accesses, count);
            LogBatch(accesses, count, done);
            return done;
        }
    }
    for (int32_t i = 0; i < count; ++i) {
        hoplink_access &access = accesses[i];
        int result = kFailed;
        if (access.kind == HOPLINK_ACCESS_WRITE) {
            result = Write(access.address, access.value);
        } else if (access.kind == HOPLINK_ACCESS_READ) {
            uint16_t value = 0;
            result = Read(access.address, &value);
            access.value = value;
        }
        if (result != 0) {
            return i;
        }
    }
    return count;
}

void TestTransport::LogBatch(const hoplink_access *accesses, int32_t count, int32_t done) {
    const int32_t logged = done < 0 ? 0 : std::min(count, done + 1);
    for (int32_t i = 0; i < logged; ++i) {
        const hoplink_access &access = accesses[i];
        const int result = i < done ? 0 : kFailed;
        const auto value = static_cast<uint16_t>(access.value);
        const AccessKind kind = access.kind == HOPLINK_ACCESS_READ ? AccessKind::Read : AccessKind::Write;
        if (kind == AccessKind::Write && access.address == kRegOutputEnable) {
            enable_ = value;
        } else if (kind == AccessKind::Write && access.address == kRegOutputLevel) {
            level_ = value;
        }
        registers_.push_back({kind, access.address, value, result});
    }
    accesses_ += static_cast<uint64_t>(logged);
}

size_t TestTransport::BatchCount() const {
    std::lock_guard lock(mutex_);
    return batches_;
}

int TestTransport::WriteUnlocked(uint32_t address, uint16_t value) {
    if (address == kRegOutputEnable) {
        enable_ = value;
    } else if (address == kRegOutputLevel) {
        level_ = value;
    }
    if (failWrites_) {
        clock_.OnAccess();
        return kFailed;
    }
    if (link_.Current() != nullptr) {
        return link_.Write(address, value); // the target advances the clock
    }
    clock_.OnAccess();
    return address == kRegOutputEnable || address == kRegOutputLevel ? 0 : kFailed;
}

int TestTransport::ReadUnlocked(uint32_t address, uint16_t *value) {
    if (failReads_) {
        clock_.OnAccess();
        return kFailed;
    }
    if (!queuedReads_.empty()) {
        clock_.OnAccess();
        *value = queuedReads_.front();
        queuedReads_.pop_front();
        return 0;
    }
    if (link_.Current() != nullptr) {
        return link_.Read(address, value);
    }
    clock_.OnAccess();
    if (address != kRegInputLevel) {
        return kFailed;
    }
    // open drain with pull-ups, nobody else on the lines: a line reads low
    // only while this chip drives it low
    *value = static_cast<uint16_t>(~enable_ | level_);
    return 0;
}

} // namespace zeltest

extern "C" {

int hoplink_open(const char *config, int reserved, uint16_t linkParam) {
    return zeltest::TestTransport::Get().Open(config, reserved, linkParam);
}

int hoplink_close(void) { return zeltest::TestTransport::Get().Close(); }

int hoplink_cpu_stop(void) { return zeltest::TestTransport::Get().CpuStop(); }

int hoplink_enumerate_strings(intptr_t count, intptr_t names, intptr_t size, intptr_t flags) {
    return zeltest::TestTransport::Get().Enumerate(count, names, size, flags);
}

int hoplink_write(uint32_t address, uint32_t value) { return zeltest::TestTransport::Get().Write(address, value); }

int hoplink_read(uint32_t address, uint16_t *value) { return zeltest::TestTransport::Get().Read(address, value); }

int32_t hoplink_batch(hoplink_access *accesses, int32_t count) {
    return zeltest::TestTransport::Get().Batch(accesses, count);
}

} // extern "C"
