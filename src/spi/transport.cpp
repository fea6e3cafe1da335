#include "spi/transport.h"

#include <atomic>
#include <vector>

#include "hoplink.h"
#include "platform/abandon.h"
#include "thread/lock.h"

namespace zel {
namespace {

// Held over each transport call. Replaced by RetireTransportLock; retired
// locks are kept, never destroyed (a thread given up on may still leave one).
struct TransportLocks {
    std::atomic<Lock> current{CreateLock()};
    std::vector<Lock> retired; // owner only (the thread that stops jobs)
};

TransportLocks &Locks() {
    static TransportLocks *const locks = new TransportLocks();
    return *locks;
}

// Counts changes of the link and the lines; a job remembers the count it began with.
std::atomic<uint64_t> linkEpoch{1};
thread_local uint64_t jobEpoch = 0; // 0: no job on this thread

bool JobMayAccess() { return jobEpoch == 0 || jobEpoch == linkEpoch.load(); }

// Runs `call` under the lock unless this thread may not reach the transport:
// given up on (asked before and again under the lock, which it may have
// waited for), or, for register accesses, a job whose link has changed.
template <typename Call> bool UnderLock(bool registerAccess, Call call) {
    if (platform::CurrentThreadAbandoned()) {
        return false; // not even the lock: it may be the next job's by now
    }
    const ScopedLock guard(Locks().current.load());
    if (platform::CurrentThreadAbandoned() || (registerAccess && !JobMayAccess())) {
        return false;
    }
    call();
    return true;
}

} // namespace

int TransportOpen(const char *config, int reserved, uint16_t linkParam) {
    int result = 0;
    UnderLock(false, [&] { result = hoplink_open(config, reserved, linkParam); });
    return result;
}

void TransportClose() {
    UnderLock(false, [] { hoplink_close(); });
}

int TransportCpuStop() {
    int result = 1;
    UnderLock(false, [&] { result = hoplink_cpu_stop(); });
    return result;
}

int TransportEnumerate(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    int result = 1;
    UnderLock(false, [&] { result = hoplink_enumerate_strings(a, b, c, d); });
    return result;
}

Access TransportWrite(uint32_t address, uint16_t value) {
    int result = 0;
    if (!UnderLock(true, [&] { result = hoplink_write(address, value); })) {
        return Access::Refused;
    }
    return result == 0 ? Access::Done : Access::Failed;
}

Access TransportRead(uint32_t address, uint16_t *value) {
    int result = 0;
    if (!UnderLock(true, [&] { result = hoplink_read(address, value); })) {
        return Access::Refused;
    }
    return result == 0 ? Access::Done : Access::Failed;
}

Access TransportBatch(hoplink_batch_fn entry, hoplink_access *accesses, int32_t count, int32_t &done) {
    done = -1;
    if (!UnderLock(true, [&] { done = entry(accesses, count); })) {
        return Access::Refused;
    }
    return done == count ? Access::Done : Access::Failed;
}

JobLinkScope::JobLinkScope() : outer_(jobEpoch) { jobEpoch = linkEpoch.load(); }

JobLinkScope::~JobLinkScope() { jobEpoch = outer_; }

// A thread that a stop gave up on changes nothing: it fails no later job.
LinkChangeScope::LinkChangeScope() : outer_(jobEpoch) {
    if (!platform::CurrentThreadAbandoned()) {
        linkEpoch.fetch_add(1);
    }
    jobEpoch = 0;
}

LinkChangeScope::~LinkChangeScope() { jobEpoch = outer_; }

bool LinkChangedUnderJob() { return !JobMayAccess(); }

void RetireTransportLock() {
    TransportLocks &locks = Locks();
    locks.retired.push_back(locks.current.exchange(CreateLock()));
}

} // namespace zel
