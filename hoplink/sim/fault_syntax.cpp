#include "fault_syntax.h"

#include "numbers.h"

#include <limits>

namespace hoplink::sim {
namespace {

constexpr uint64_t kU32 = std::numeric_limits<uint32_t>::max();
constexpr uint64_t kU64 = std::numeric_limits<uint64_t>::max();

bool ParseCount(std::string_view text, uint32_t &value) {
    uint64_t parsed = 0;
    if (!ParseNumber(text, kU32, parsed) || parsed == 0)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

// "nak:N" or "nak:N@T": no acknowledge at byte N, in every transaction or only in transaction T.
bool ParseNak(std::string_view arg, Faults &faults) {
    const size_t at = arg.find('@');
    if (!ParseCount(arg.substr(0, at), faults.nakByte))
        return false;
    if (at == std::string_view::npos) {
        faults.nakTransaction = 0;
        return true;
    }
    return ParseCount(arg.substr(at + 1), faults.nakTransaction);
}

// "always" or the 1-based number of the access that fails.
bool ParseAccessFault(std::string_view arg, AccessFault &fault) {
    if (arg == "always") {
        fault.always = true;
        return true;
    }
    return ParseNumber(arg, kU64, fault.nth) && fault.nth != 0;
}

bool ParseWorn(std::string_view arg, Faults &faults) {
    uint64_t address = 0;
    if (!ParseNumber(arg, 0xFFFFFF, address))
        return false;
    faults.wornBytes.push_back(static_cast<uint32_t>(address));
    return true;
}

// "flip:ADDR/MASK": the bits of MASK read back inverted at ADDR.
bool ParseFlip(std::string_view arg, Faults &faults) {
    const size_t slash = arg.find('/');
    if (slash == std::string_view::npos)
        return false;
    uint64_t address = 0, mask = 0;
    if (!ParseNumber(arg.substr(0, slash), 0xFFFFFF, address) || !ParseNumber(arg.substr(slash + 1), 0xFF, mask) ||
        mask == 0)
        return false;
    faults.flippedBits.push_back(static_cast<uint32_t>(address << 8 | mask));
    return true;
}

bool ParseItem(std::string_view item, Faults &faults) {
    const size_t colon = item.find(':');
    const std::string_view name = item.substr(0, colon);
    const bool hasArg = colon != std::string_view::npos;
    const std::string_view arg = hasArg ? item.substr(colon + 1) : std::string_view();
    uint64_t number = 0;
    if (name == "absent" && !hasArg) {
        faults.absent = true;
        return true;
    }
    if (!hasArg)
        return false;
    if (name == "nak")
        return ParseNak(arg, faults);
    if (name == "stuck")
        return ParseCount(arg, faults.stuckDataClocks);
    if (name == "hold")
        return ParseCount(arg, faults.holdClockMs);
    if (name == "wfail")
        return ParseAccessFault(arg, faults.writeFail);
    if (name == "rfail")
        return ParseAccessFault(arg, faults.readFail);
    if (name == "lost") {
        if (!ParseNumber(arg, kU64, number))
            return false;
        faults.linkLostAfter = number;
        return number != 0;
    }
    if (name == "worn")
        return ParseWorn(arg, faults);
    if (name == "flip")
        return ParseFlip(arg, faults);
    return false;
}

} // namespace

bool ParseFaults(std::string_view text, Faults &faults, std::string &error) {
    faults = Faults{};
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        if (!ParseItem(item, faults)) {
            error = "bad SIMFAULT item " + Quoted(item) +
                    " (nak:N[@T] stuck:K hold:MS wfail:always|N rfail:always|N absent lost:N worn:ADDR "
                    "flip:ADDR/MASK)";
            return false;
        }
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return true;
}

} // namespace hoplink::sim
