// What the block transfers tell, recorded: the tests hand them Recorded(),
// see every value and can ask for a stop at a chosen report.
#pragma once

#include <cstddef>
#include <vector>

#include "eeprom/block.h"

namespace blocktest {

struct ProgressRecorder {
    std::vector<int> seen;
    std::size_t stopAtReport = 0; // 1-based report that answers "stop"; 0 = never
};

ProgressRecorder &Progress();
// Tells Progress().
zel::ProgressSink Recorded();

} // namespace blocktest
