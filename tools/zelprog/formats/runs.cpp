#include "formats/image.h"

#include <algorithm>

namespace zelprog {

Runs RunsOf(std::span<const uint8_t> image, const std::vector<bool> &named) {
    Runs runs;
    for (std::size_t at = 0; at < image.size() && at < named.size(); ++at) {
        if (!named[at])
            continue;
        if (runs.empty() || runs.back().address + runs.back().bytes.size() != at)
            runs.push_back({static_cast<uint32_t>(at), {}});
        runs.back().bytes.push_back(image[at]);
    }
    return runs;
}

void Overlay(Runs &runs, uint32_t address, std::span<const uint8_t> bytes) {
    uint32_t end = address + static_cast<uint32_t>(bytes.size());
    for (const Run &run : runs)
        end = std::max(end, run.address + static_cast<uint32_t>(run.bytes.size()));
    std::vector<bool> named(end, false);
    Bytes image(end, kErasedByte);
    for (const Run &run : runs)
        for (std::size_t i = 0; i < run.bytes.size(); ++i) {
            image[run.address + i] = run.bytes[i];
            named[run.address + i] = true;
        }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        image[address + i] = bytes[i];
        named[address + i] = true;
    }
    runs = RunsOf(image, named);
}

} // namespace zelprog
