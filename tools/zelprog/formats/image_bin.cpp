#include "formats/image.h"

#include <algorithm>

namespace zelprog {

bool FitBinary(std::string_view data, std::size_t deviceSize, bool pad, Bytes &bytes, std::string &error) {
    if (data.size() > deviceSize) {
        error = "holds " + std::to_string(data.size()) + " bytes, more than the " + std::to_string(deviceSize) +
                "-byte EEPROM";
        return false;
    }
    if (data.size() < deviceSize && !pad) {
        error = "holds " + std::to_string(data.size()) + " bytes, fewer than the " + std::to_string(deviceSize) +
                "-byte EEPROM (pass --pad to fill the rest with 0xff)";
        return false;
    }
    bytes.assign(deviceSize, kErasedByte);
    std::copy(data.begin(), data.end(), bytes.begin());
    return true;
}

} // namespace zelprog
