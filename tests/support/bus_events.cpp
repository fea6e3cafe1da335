#include <cstdio>

#include "support/test_transport.h"

namespace zeltest {
namespace {

// Follows the master's two bus lines through the register writes and turns
// clock pulses and data edges into bus events.
class BusDecoder {
public:
    BusDecoder(int clockLine, int dataLine) : clockBit_(Bit(clockLine)), dataBit_(Bit(dataLine)) {}

    void Take(const RegisterAccess &access) {
        if (access.kind == AccessKind::Read) {
            if (access.address == hoplink::sim::kRegInputLevel) {
                dataReadHigh_ = (access.Seen() & dataBit_) != 0;
            }
            return;
        }
        if (access.address == hoplink::sim::kRegOutputEnable) {
            enable_ = access.value;
        } else if (access.address == hoplink::sim::kRegOutputLevel) {
            level_ = access.value;
        } else {
            return;
        }
        Update();
    }

    std::vector<BusEvent> Finish() {
        FlushPulses();
        return std::move(events_);
    }

private:
    static uint16_t Bit(int line) {
        return line >= 0 && line < 16 ? static_cast<uint16_t>(1u << line) : uint16_t{0};
    }
    bool DrivenLow(uint16_t bit) const { return (enable_ & bit) != 0 && (level_ & bit) == 0; }

    void Update() {
        const bool clockHigh = !DrivenLow(clockBit_);
        const bool dataLow = DrivenLow(dataBit_);
        if (clockHigh_ && clockHigh && dataLow != dataLow_) {
            DataEdgeWhileClockHigh(dataLow);
        } else if (!clockHigh_ && clockHigh) {
            condition_ = false;
            dataReadHigh_.reset();
        } else if (clockHigh_ && !clockHigh && !condition_) {
            ClockBit(dataLow_ ? 0 : dataReadHigh_.value_or(true) ? 1 : 0);
        }
        if (dataLow != dataLow_ && !dataLow) {
            dataReadHigh_.reset(); // samples before the release say nothing now
        }
        clockHigh_ = clockHigh;
        dataLow_ = dataLow;
    }

    void DataEdgeWhileClockHigh(bool falling) {
        if (falling && dataReadHigh_ == false) {
            return; // someone else held the data line low: no edge on the wire
        }
        FlushPulses();
        events_.push_back({falling ? BusEvent::Kind::Start : BusEvent::Kind::Stop});
        condition_ = true;
        inTransaction_ = falling;
    }

    void ClockBit(int bit) {
        bits_.push_back(bit);
        if (!inTransaction_ || bits_.size() < 9) {
            return;
        }
        uint8_t value = 0;
        for (int i = 0; i < 8; ++i) {
            value = static_cast<uint8_t>(value << 1 | bits_[i]);
        }
        events_.push_back({BusEvent::Kind::Byte, value, bits_[8] == 0});
        bits_.clear();
    }

    void FlushPulses() {
        if (!bits_.empty()) {
            events_.push_back({BusEvent::Kind::Pulses, 0, false, static_cast<int>(bits_.size())});
            bits_.clear();
        }
    }

    uint16_t clockBit_;
    uint16_t dataBit_;
    uint16_t enable_ = 0;
    uint16_t level_ = 0;
    bool clockHigh_ = true; // both lines released at the start of a log
    bool dataLow_ = false;
    bool condition_ = false;     // this clock-high phase held a start or stop
    bool inTransaction_ = false; // bytes only between a start and a stop
    std::optional<bool> dataReadHigh_;
    std::vector<int> bits_;
    std::vector<BusEvent> events_;
};

} // namespace

std::vector<BusEvent> DecodeBus(const std::vector<RegisterAccess> &log, int clockLine, int dataLine) {
    BusDecoder decoder(clockLine, dataLine);
    for (const RegisterAccess &access : log) {
        decoder.Take(access);
    }
    return decoder.Finish();
}

std::string BusText(const std::vector<BusEvent> &events) {
    std::string text;
    for (const BusEvent &event : events) {
        char word[16];
        switch (event.kind) {
        case BusEvent::Kind::Start:
            std::snprintf(word, sizeof word, "S");
            break;
        case BusEvent::Kind::Stop:
            std::snprintf(word, sizeof word, "P");
            break;
        case BusEvent::Kind::Byte:
            std::snprintf(word, sizeof word, "%02x%c", event.value, event.ack ? '+' : '-');
            break;
        case BusEvent::Kind::Pulses:
            std::snprintf(word, sizeof word, "~%d", event.pulses);
            break;
        }
        text += text.empty() ? "" : " ";
        text += word;
    }
    return text;
}

std::string BusText(const std::vector<RegisterAccess> &log, int clockLine, int dataLine) {
    return BusText(DecodeBus(log, clockLine, dataLine));
}

} // namespace zeltest
