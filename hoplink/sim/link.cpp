#include "hoplink/sim.h"

#include <cstdio>
#include <cstring>
#include <iterator>

namespace hoplink::sim {
namespace {

constexpr const char *kPorts[] = {"sim0", "sim1"};

} // namespace

// Opening an open link closes the old target first, so that its backing file
// is free for the new one.
int Link::Open(const char *config, int, uint16_t) {
    Close();
    Config parsed;
    std::string error;
    if (!LoadConfig(config, parsed, error)) {
        std::fprintf(stderr, "hoplink: %s\n", error.c_str());
        return 0;
    }
    target_ = Target::Create(parsed, error);
    if (!target_) {
        std::fprintf(stderr, "hoplink: %s\n", error.c_str());
        return 0;
    }
    return 1;
}

int Link::Close() {
    target_.reset();
    cpuStopped_ = false;
    return 0;
}

int Link::CpuStop() {
    if (!target_)
        return 1;
    cpuStopped_ = true;
    return 0;
}

int Link::Write(uint32_t address, uint32_t value) { return target_ ? target_->Write(address, value) : 1; }

int Link::Read(uint32_t address, uint16_t *value) { return target_ ? target_->Read(address, value) : 1; }

int32_t Link::Batch(hoplink_access *accesses, int32_t count) {
    return target_ ? target_->Batch(accesses, count) : -1;
}

int Link::Enumerate(intptr_t count, intptr_t names, intptr_t size, intptr_t flags) const {
    return WritePortList(VirtualPorts(), count, names, size, flags);
}

std::vector<std::string> VirtualPorts() { return {std::begin(kPorts), std::end(kPorts)}; }

// count receives the number of ports offered; names receives as many whole
// "name\n" entries as fit before the terminating NUL.
int WritePortList(const std::vector<std::string> &ports, intptr_t count, intptr_t names, intptr_t size,
                  intptr_t flags) {
    if (flags != 0 || (names != 0 && size <= 0))
        return 1;
    if (count != 0)
        *reinterpret_cast<int32_t *>(count) = static_cast<int32_t>(ports.size());
    if (names == 0)
        return 0;
    char *out = reinterpret_cast<char *>(names);
    size_t used = 0;
    for (const std::string &port : ports) {
        const size_t length = port.size();
        if (used + length + 1 >= static_cast<size_t>(size))
            break;
        std::memcpy(out + used, port.data(), length);
        out[used + length] = '\n';
        used += length + 1;
    }
    out[used] = '\0';
    return 0;
}

Target *Link::Current() { return target_.get(); }

bool Link::CpuStopped() const { return cpuStopped_; }

} // namespace hoplink::sim
