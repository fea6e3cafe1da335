// The exported transport operations over one process-wide link. No exception
// crosses them: a trace that cannot grow fails the access instead.
#include "hoplink.h"

#include "hoplink/sim.h"

namespace {

hoplink::sim::Link &TheLink() {
    static hoplink::sim::Link link;
    return link;
}

template <typename Operation> int Guarded(int failure, Operation operation) {
    try {
        return operation();
    } catch (...) {
        return failure;
    }
}

} // namespace

extern "C" {

HOPLINK_API int hoplink_open(const char *config, int reserved, uint16_t linkParam) {
    return Guarded(0, [&] { return TheLink().Open(config, reserved, linkParam); });
}

HOPLINK_API int hoplink_close(void) { return TheLink().Close(); }

HOPLINK_API int hoplink_cpu_stop(void) { return TheLink().CpuStop(); }

HOPLINK_API int hoplink_enumerate_strings(intptr_t count, intptr_t names, intptr_t size, intptr_t flags) {
    return TheLink().Enumerate(count, names, size, flags);
}

HOPLINK_API int hoplink_write(uint32_t address, uint32_t value) {
    return Guarded(1, [&] { return TheLink().Write(address, value); });
}

HOPLINK_API int hoplink_read(uint32_t address, uint16_t *value) {
    return Guarded(1, [&] { return TheLink().Read(address, value); });
}

HOPLINK_API int32_t hoplink_batch(hoplink_access *accesses, int32_t count) {
    return Guarded(-1, [&] { return TheLink().Batch(accesses, count); });
}

} // extern "C"
