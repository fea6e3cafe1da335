#include "bus_log.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace hoplink::sim {

BusLog::~BusLog() {
    if (!file_)
        return;
    if (open_) {
        Append(" (no STOP)");
        Flush();
    }
    std::fclose(file_);
}

bool BusLog::Open(const std::string &path, std::string &error) {
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        error = "cannot open SIMLOG '" + path + "': " + std::strerror(errno);
        return false;
    }
    return true;
}

void BusLog::OnEvent(uint64_t step, BusEvent event, bool data) {
    step_ = step;
    Deliver(*this, event, data);
}

void BusLog::OnContention(uint64_t step, uint16_t lines) {
    std::fprintf(file_, "@%" PRIu64 " contention on lines 0x%04X\n", step, lines);
    std::fflush(file_);
}

void BusLog::OnStart() {
    if (open_) {
        AppendPartialByte();
        Append(" Sr");
    } else {
        char head[32];
        std::snprintf(head, sizeof head, "@%" PRIu64 " S", step_);
        line_ = head;
    }
    open_ = true;
    addressNext_ = true;
    pulse_ = false;
    bit_ = 0;
}

void BusLog::OnRise(bool data) {
    sampled_ = data;
    pulse_ = true;
}

void BusLog::OnStop() {
    if (!open_)
        return;
    AppendPartialByte();
    Append(" P");
    Flush();
    open_ = false;
}

void BusLog::OnFall() {
    if (!open_ || !pulse_)
        return;
    pulse_ = false;
    if (bit_ < 8) {
        shift_ = static_cast<uint8_t>(shift_ << 1 | (sampled_ ? 1 : 0));
        if (++bit_ < 8)
            return;
        char byte[16];
        if (addressNext_)
            std::snprintf(byte, sizeof byte, " %02X %c", shift_ & 0xFE, (shift_ & 1) ? 'R' : 'W');
        else
            std::snprintf(byte, sizeof byte, " %02X", shift_);
        addressNext_ = false;
        Append(byte);
        return;
    }
    bit_ = 0;
    Append(sampled_ ? " NAK" : " ACK");
}

// A START or STOP in the middle of a byte: show how many bits came.
void BusLog::AppendPartialByte() {
    if (bit_ == 0 || bit_ == 8)
        return;
    char partial[24];
    std::snprintf(partial, sizeof partial, " [%u bits]", static_cast<unsigned>(bit_));
    Append(partial);
    bit_ = 0;
}

void BusLog::Append(const char *text) { line_ += text; }

void BusLog::Flush() {
    std::fprintf(file_, "%s\n", line_.c_str());
    std::fflush(file_);
    line_.clear();
}

} // namespace hoplink::sim
