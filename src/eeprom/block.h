// Block transfer between the EEPROM and word images, and the size check.
#pragma once

#include <cstdint>

namespace zel {

// Where a transfer tells how far it has got (0..100), between its chunks or
// bytes; an answer of false ends the transfer early, and it fails. The
// default tells nothing and never ends a transfer.
struct ProgressSink {
    bool (*tell)(void *context, int percent) = nullptr;
    void *context = nullptr;

    bool Tell(int percent) const { return tell == nullptr || tell(context, percent); }
};
inline constexpr ProgressSink kNoProgress{};

// Longest acknowledge polling after a write, milliseconds.
inline constexpr uint32_t kWriteCycleMs = 20;

bool ReadBlock(uint32_t address, uint16_t *words, uint32_t length, const ProgressSink &report);
bool WriteDataByte(uint32_t address, uint8_t value);
bool WriteBlock(uint32_t address, const uint16_t *words, uint32_t length, const ProgressSink &report);

enum class WriteResult { Written, Failed, CycleTooLong };
// The writes of the page-write and range paths: as WriteBlock with
// `pageBytes` 0; else each page-aligned piece of `pageBytes` (a power of two
// from 2 to 256) that differs gets one write of the run from its first to
// its last differing byte, progress and stop between pages. Unlike
// WriteBlock, write-protect goes high before the acknowledge polling, and a
// write cycle that outlasts the polling fails the write (CycleTooLong).
WriteResult WriteRange(uint32_t address, const uint16_t *words, uint32_t length, const ProgressSink &report,
                       uint32_t pageBytes);
// Page sizes that WriteRange takes, 0 included.
bool PageSizeSupported(uint32_t pageBytes);
int CheckSize();

} // namespace zel
