// What is on the bus, from bus reads alone (zelProbeDevice and
// zelReadAtDevice): which device addresses answer, one or two address
// bytes, the size from where addresses alias, and the parts of the table
// that read like that. None of the reads can start a write.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zelprog {

struct Detection {
    std::vector<unsigned> answering;     // device addresses that acknowledge, 0xa0..0xae
    int addressBytes = 0;                // 0: the reads cannot tell
    std::size_t bytes = 0;               // 0: the reads cannot tell
    std::vector<std::string> candidates; // parts of the table that read like this
    bool sure = false;                   // the reads tell the size and one part of the table
    std::string note;                    // what the reads could not tell, and what to do
};

// Runs on an open link; false when a read failed.
bool Detect(Detection &detection);

} // namespace zelprog
