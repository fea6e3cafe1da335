// The exported transport operations over one process-wide link: the virtual
// target, or (SPITRANS=FTDI, Linux builds) an FTDI MPSSE chip. No exception
// crosses them: a trace that cannot grow fails the access instead.
#include "hoplink.h"

#include <cstdio>

#include "hoplink/sim.h"

#if defined(HOPLINK_FTDI)
#include "ftdi/config.h"
#include "ftdi/link.h"
#endif

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

#if defined(HOPLINK_FTDI)
hoplink::ftdi::Link &TheFtdiLink() {
    static hoplink::ftdi::Link link;
    return link;
}

bool FtdiOpen() { return TheFtdiLink().IsOpen(); }

int Open(const char *config, int reserved, uint16_t linkParam) {
    TheLink().Close();
    TheFtdiLink().Close();
    if (hoplink::ftdi::AsksForFtdi(config))
        return TheFtdiLink().Open(config);
    return TheLink().Open(config, reserved, linkParam);
}

std::vector<std::string> Ports() {
    std::vector<std::string> ports = hoplink::sim::VirtualPorts();
    for (std::string &name : hoplink::ftdi::PortNames())
        ports.push_back(std::move(name));
    return ports;
}
#else
bool FtdiOpen() { return false; }

// The virtual target takes any SPITRANS; a build without the FTDI backend
// must not open it in place of the chip that was asked for.
bool AsksForFtdi(const char *config) {
    std::vector<hoplink::sim::ConfigWord> words;
    std::string error;
    if (!config || !hoplink::sim::SplitConfigWords(config, words, error))
        return false;
    for (const hoplink::sim::ConfigWord &word : words)
        if (word.key == "SPITRANS" && (word.value == "FTDI" || word.value == "ftdi"))
            return true;
    return false;
}

int Open(const char *config, int reserved, uint16_t linkParam) {
    if (AsksForFtdi(config)) {
        TheLink().Close();
        std::fprintf(stderr, "hoplink: SPITRANS=FTDI: this build has no FTDI backend (it is built on Linux)\n");
        return 0;
    }
    return TheLink().Open(config, reserved, linkParam);
}

std::vector<std::string> Ports() { return hoplink::sim::VirtualPorts(); }
#endif

} // namespace

extern "C" {

HOPLINK_API int hoplink_open(const char *config, int reserved, uint16_t linkParam) {
    return Guarded(0, [&] { return Open(config, reserved, linkParam); });
}

HOPLINK_API int hoplink_close(void) {
#if defined(HOPLINK_FTDI)
    TheFtdiLink().Close();
#endif
    return TheLink().Close();
}

// The FTDI chip has no processor to stop.
HOPLINK_API int hoplink_cpu_stop(void) { return FtdiOpen() ? 0 : TheLink().CpuStop(); }

HOPLINK_API int hoplink_enumerate_strings(intptr_t count, intptr_t names, intptr_t size, intptr_t flags) {
    return Guarded(1, [&] { return hoplink::sim::WritePortList(Ports(), count, names, size, flags); });
}

HOPLINK_API int hoplink_write(uint32_t address, uint32_t value) {
#if defined(HOPLINK_FTDI)
    if (FtdiOpen())
        return Guarded(1, [&] { return TheFtdiLink().Write(address, value); });
#endif
    return Guarded(1, [&] { return TheLink().Write(address, value); });
}

HOPLINK_API int hoplink_read(uint32_t address, uint16_t *value) {
#if defined(HOPLINK_FTDI)
    if (FtdiOpen())
        return Guarded(1, [&] { return TheFtdiLink().Read(address, value); });
#endif
    return Guarded(1, [&] { return TheLink().Read(address, value); });
}

HOPLINK_API int32_t hoplink_batch(hoplink_access *accesses, int32_t count) {
#if defined(HOPLINK_FTDI)
    if (FtdiOpen())
        return Guarded(-1, [&] { return TheFtdiLink().Batch(accesses, count); });
#endif
    return Guarded(-1, [&] { return TheLink().Batch(accesses, count); });
}

} // extern "C"
