// The I2C timing the EEPROM sees: every low and high time of the clock, data
// set-up before a rise and hold after a fall, START and STOP set-up and hold,
// the bus free time between a STOP and the next START, and write-protect's
// set-up and hold around a STOP.
#include "emulator.h"

namespace ftdi_emu {

void TimingCheck::Check(const char *kind, bool known, uint64_t since, uint64_t ps, uint32_t minNs) {
    if (!known || ps - since >= uint64_t{minNs} * 1000)
        return;
    ++total_;
    if (kept_.size() < kKept)
        kept_.push_back({kind, ps, ps - since, minNs});
}

void TimingCheck::Observe(uint64_t ps, bool scl, bool sda, bool wp) {
    if (scl != scl_ && scl) {
        OnData(ps, sda); // the data moved while the clock was still low
        OnClock(ps, scl);
    } else {
        OnClock(ps, scl);
        OnData(ps, sda);
    }
    OnWriteProtect(ps, wp);
}

void TimingCheck::OnClock(uint64_t ps, bool scl) {
    if (scl == scl_)
        return;
    scl_ = scl;
    if (scl) {
        Check("scl_low", fallSeen_, fall_, ps, limits_.low);
        Check("data_setup", dataChangedLow_, dataChange_, ps, limits_.dataSetup);
        riseSeen_ = true;
        rise_ = ps;
        return;
    }
    Check("scl_high", riseSeen_, rise_, ps, limits_.high);
    Check("start_hold", startPending_, start_, ps, limits_.startHold);
    startPending_ = false;
    dataChangedLow_ = false;
    fallSeen_ = true;
    fall_ = ps;
}

void TimingCheck::OnData(uint64_t ps, bool sda) {
    if (sda == sda_)
        return;
    sda_ = sda;
    if (!scl_) {
        Check("data_hold", fallSeen_, fall_, ps, limits_.dataHold);
        dataChangedLow_ = true;
        dataChange_ = ps;
        return;
    }
    if (!sda) { // START
        Check("start_setup", riseSeen_, rise_, ps, limits_.startSetup);
        Check("bus_free", stopSeen_, stop_, ps, limits_.busFree);
        stopSeen_ = false;
        startPending_ = true;
        start_ = ps;
        return;
    }
    // STOP
    Check("stop_setup", riseSeen_, rise_, ps, limits_.stopSetup);
    Check("wp_setup", wpChangeSeen_, wpChange_, ps, limits_.wpSetup);
    stopSeen_ = true;
    stop_ = ps;
}

void TimingCheck::OnWriteProtect(uint64_t ps, bool wp) {
    if (wpSeen_ && wp == wp_)
        return;
    const bool first = !wpSeen_;
    wpSeen_ = true;
    wp_ = wp;
    if (first)
        return; // its level when the EEPROM came up
    Check("wp_hold", stopSeen_, stop_, ps, limits_.wpHold);
    wpChangeSeen_ = true;
    wpChange_ = ps;
}

} // namespace ftdi_emu
