// Edge decoder: successive levels of the clock and data lines become bus events.
#pragma once

#include <cstdint>

namespace hoplink::sim {

enum class BusEvent : uint8_t {
    None,
    Start, // data fell while the clock was high
    Stop,  // data rose while the clock was high
    Rise,  // clock rose: receivers sample the data line now
    Fall,  // clock fell: transmitters may change the data line now
};

// Hands `event` to the listener's handler of the same name: OnStart, OnStop,
// OnRise (with the data line as sampled), OnFall; None reaches no handler.
template <typename Listener> void Deliver(Listener &listener, BusEvent event, bool data) {
    switch (event) {
    case BusEvent::Start:
        listener.OnStart();
        break;
    case BusEvent::Stop:
        listener.OnStop();
        break;
    case BusEvent::Rise:
        listener.OnRise(data);
        break;
    case BusEvent::Fall:
        listener.OnFall();
        break;
    case BusEvent::None:
        break;
    }
}

class EdgeDecoder {
public:
    // Levels after one change of the lines. When the clock and the data line
    // change together, data is taken to change while the clock is low (set-up
    // before a rise, hold after a fall), so only the clock edge is an event.
    BusEvent Step(bool clock, bool data) {
        BusEvent event = BusEvent::None;
        if (clock != clock_)
            event = clock ? BusEvent::Rise : BusEvent::Fall;
        else if (clock && data != data_)
            event = data ? BusEvent::Stop : BusEvent::Start;
        clock_ = clock;
        data_ = data;
        return event;
    }

private:
    bool clock_ = true; // both lines idle high under their pull-ups
    bool data_ = true;
};

} // namespace hoplink::sim
