// Decoded transaction log: one line per transaction as seen on the bus, e.g.
// "@120 S A0 W ACK 00 ACK 10 ACK 5A ACK P".
#pragma once

#include "edges.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace hoplink::sim {

class BusLog {
public:
    BusLog() = default;
    BusLog(const BusLog &) = delete;
    BusLog &operator=(const BusLog &) = delete;
    ~BusLog();

    bool Open(const std::string &path, std::string &error);
    void OnEvent(uint64_t step, BusEvent event, bool data);
    // `lines`: the lines the chip drives high while a device pulls them low.
    void OnContention(uint64_t step, uint16_t lines);

private:
    template <typename Listener> friend void Deliver(Listener &listener, BusEvent event, bool data);
    void OnStart();
    void OnStop();
    void OnRise(bool data);
    void OnFall();
    void AppendPartialByte();
    void Append(const char *text);
    void Flush();

    std::FILE *file_ = nullptr;
    uint64_t step_ = 0;        // the access that made the event being decoded
    std::string line_;         // the transaction being decoded
    bool open_ = false;        // between START and STOP
    bool addressNext_ = false; // the next byte is a device address
    bool sampled_ = true;
    bool pulse_ = false; // the clock rose since the last START or fall
    uint8_t bit_ = 0;
    uint8_t shift_ = 0;
};

} // namespace hoplink::sim
