// SIMFAULT: comma-separated fault items, e.g. "nak:3@2,stuck:4,flip:0x10/0x01".
#pragma once

#include "hoplink/sim.h"

#include <string>
#include <string_view>

namespace hoplink::sim {

// Replaces `faults` with the items of `text`; false with one line in `error`
// naming the first bad item.
bool ParseFaults(std::string_view text, Faults &faults, std::string &error);

} // namespace hoplink::sim
