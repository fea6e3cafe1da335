#include "formats/image.h"

namespace zelprog {

Runs RunsOf(std::span<const uint8_t> image, const std::vector<bool> &named)
{
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

} // namespace zelprog
