#include "spi/pio.h"

#include <atomic>
#include <cstdio>

#include "platform/abandon.h"
#include "platform/thread.h"
#include "spi/batch.h"
#include "spi/transport.h"

namespace zel {
namespace {

// The chip's output registers are never read back: these shadows are their
// only record, and every write sends the whole shadow. Zero at load.
uint16_t enableShadow = 0;
uint16_t levelShadow = 0;

// One set of line numbers, read at the moment each line operation runs
// (atomic: a thread given up on may still read them while the host sets them).
std::atomic<int> clockLine{6};
std::atomic<int> dataLine{7};
std::atomic<int> writeProtectLine{8};

constexpr int kLineCount = 16;

std::atomic<uint32_t> failedAccesses{0};

bool NamesBit(int line) { return line >= 0 && line < kLineCount; }

// A line outside 0..15 names no bit: the shadow comes back unchanged.
uint16_t WithLine(uint16_t shadow, int line, bool set) {
    if (!NamesBit(line)) {
        return shadow;
    }
    const auto bit = static_cast<uint16_t>(1u << line);
    return set ? static_cast<uint16_t>(shadow | bit) : static_cast<uint16_t>(shadow & ~bit);
}

// Sets the line's bit in `shadow` and gives the value to send. A thread that
// a stop gave up on, or a job whose link changed, changes no shadow (the next
// job sends them); the owner cannot give up on the thread in between.
bool UpdateShadow(uint16_t &shadow, int line, bool set, uint16_t &value) {
    if (LinkChangedUnderJob() || !platform::BeginOwnerAccess()) {
        return false;
    }
    shadow = WithLine(shadow, line, set);
    value = shadow;
    platform::EndOwnerAccess();
    return true;
}

// Counts a refused access. A thread that a stop gave up on while its access
// was under way counts nothing (the next job's steps compare the count) and
// is told so, so that it reports nothing either.
bool CountFailure() {
    if (!platform::BeginOwnerAccess()) {
        return false;
    }
    ++failedAccesses;
    platform::EndOwnerAccess();
    return true;
}

} // namespace

// An access that was never handed to the transport (a thread given up on, a
// job whose link changed) prints nothing; a job's refused access still
// counts, so that its step fails.
void WriteRegister(uint32_t address, uint16_t value) {
    if (QueueOpen()) {
        QueueWrite(address, value);
        return;
    }
    const Access access = TransportWrite(address, value);
    if (access != Access::Done) {
        NoteFailedAccess(access == Access::Failed);
    }
}

uint16_t ReadRegister(uint32_t address) {
    if (QueueOpen()) {
        QueueRead(address);
        return 0xFFFF; // known once the batch is back
    }
    uint16_t word = 0;
    const Access access = TransportRead(address, &word);
    if (access == Access::Done) {
        return word;
    }
    NoteFailedAccess(false);
    return 0xFFFF;
}

uint32_t FailedAccesses() { return failedAccesses; }

void NoteFailedAccess(bool saysSo) {
    if (CountFailure() && saysSo) {
        std::printf("WRITE FAIL!\n");
    }
}

void SetLineEnable(int line, bool on) {
    uint16_t value = 0;
    if (UpdateShadow(enableShadow, line, on, value)) { // kept even if the write fails
        WriteRegister(kRegOutputEnable, value);
    }
}

void SetLineLevel(int line, bool high) {
    uint16_t value = 0;
    if (UpdateShadow(levelShadow, line, high, value)) {
        WriteRegister(kRegOutputLevel, value);
    }
}

uint16_t ReadInputs() { return ReadRegister(kRegInputLevel); }

int LineBit(uint16_t inputs, int line) {
    if (!NamesBit(line)) {
        return 1;
    }
    return (inputs >> line) & 1;
}

int ReadLine(int line) { return LineBit(ReadInputs(), line); }

void SetWriteProtect(bool high) {
    // level first, so the line never drives the old level once enabled
    SetLineLevel(writeProtectLine, high);
    SetLineEnable(writeProtectLine, true);
}

// 0 or less keeps the line; line 0 can therefore never be chosen.
bool LinesWouldChange(int clock, int data, int writeProtect) {
    const auto moves = [](int line, const std::atomic<int> &now) { return line > 0 && line != now; };
    return moves(clock, clockLine) || moves(data, dataLine) || moves(writeProtect, writeProtectLine);
}

void SetPioLines(int clock, int data, int writeProtect) {
    if (!LinesWouldChange(clock, data, writeProtect)) {
        return;
    }
    // a handler on a thread given up on does not move the next job's lines
    if (!platform::BeginOwnerAccess()) {
        return;
    }
    const LinkChangeScope change;
    if (clock > 0) {
        clockLine = clock;
    }
    if (data > 0) {
        dataLine = data;
    }
    if (writeProtect > 0) {
        writeProtectLine = writeProtect;
    }
    platform::EndOwnerAccess();
}

int ClockLine() { return clockLine; }
int DataLine() { return dataLine; }
int WriteProtectLine() { return writeProtectLine; }

} // namespace zel
