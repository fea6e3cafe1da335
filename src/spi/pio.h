// PIO line port: single-line operations on the target chip's PIO registers.
// Each operation is exactly one register access: one transport call, or one
// entry of the open queue (spi/batch.h).
#pragma once

#include <cstdint>

namespace zel {

inline constexpr uint32_t kRegOutputEnable = 0x0061;
inline constexpr uint32_t kRegOutputLevel = 0x0062;
inline constexpr uint32_t kRegInputLevel = 0xFFC2;

void SetLineEnable(int line, bool on);  // one write of 0x0061
void SetLineLevel(int line, bool high); // one write of 0x0062
uint16_t ReadInputs();                  // one read of 0xFFC2
int ReadLine(int line);                 // one read of 0xFFC2: 1 high, 0 low
void SetWriteProtect(bool high);        // level, then enable
void WriteRegister(uint32_t address, uint16_t value);
uint16_t ReadRegister(uint32_t address); // 0xFFFF when the read fails
// Register accesses that the transport refused so far (wraps). A step that
// compares it before and after knows whether every line did what it was told.
uint32_t FailedAccesses();
// Counts an access that did not happen; `saysSo`: a write that the
// transport refused, which says so on standard output.
void NoteFailedAccess(bool saysSo);

// Bit of `line` in an input value: lines outside 0..15 name no bit and read high.
int LineBit(uint16_t inputs, int line);

// Whether SetPioLines with these arguments would move a line.
bool LinesWouldChange(int clock, int data, int writeProtect);
void SetPioLines(int clock, int data, int writeProtect);
int ClockLine();
int DataLine();
int WriteProtectLine();

} // namespace zel
