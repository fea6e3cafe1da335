// The one door to the transport. Every call goes through here under one
// lock, so the library never calls the transport from two threads at once.
// A thread that a stop gave up on calls nothing, and a job's thread makes no
// register access once the link or the lines changed under its job.
#pragma once

#include <cstdint>

#include "hoplink.h"

namespace zel {

enum class Access {
    Done,    // the transport did it
    Failed,  // the transport refused it
    Refused, // never handed to the transport
};

// As the hoplink operations; a call that is not handed on returns the
// transport's failure value (open: 0, cpu stop and enumerate: 1).
int TransportOpen(const char *config, int reserved, uint16_t linkParam);
void TransportClose();
int TransportCpuStop();
int TransportEnumerate(intptr_t a, intptr_t b, intptr_t c, intptr_t d);
Access TransportWrite(uint32_t address, uint16_t value);
Access TransportRead(uint32_t address, uint16_t *value);
// The transport's batch entry point `entry` with accesses[0..count); `done`
// receives what it returned when the call was handed on.
Access TransportBatch(hoplink_batch_fn entry, hoplink_access *accesses, int32_t count, int32_t &done);

// Binds the calling thread's job to the link as it is now, for the scope.
class JobLinkScope {
public:
    JobLinkScope();
    ~JobLinkScope();
    JobLinkScope(const JobLinkScope &) = delete;
    JobLinkScope &operator=(const JobLinkScope &) = delete;

private:
    uint64_t outer_;
};

// Around a change of the link or of the lines: from its start, register
// accesses of every job begun before are refused, that of a job on this
// thread (the change comes from its callback) included once the scope ends;
// the change's own accesses go through.
class LinkChangeScope {
public:
    LinkChangeScope();
    ~LinkChangeScope();
    LinkChangeScope(const LinkChangeScope &) = delete;
    LinkChangeScope &operator=(const LinkChangeScope &) = delete;

private:
    uint64_t outer_;
};

// The link or the lines changed since the calling thread's job began.
bool LinkChangedUnderJob();

// After a forced end: the thread given up on may be inside a transport call
// for ever, holding the lock. Later calls take a new lock; the one call in
// progress is the only one that may overlap them.
void RetireTransportLock();

} // namespace zel
