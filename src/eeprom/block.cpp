// Block transfer: chunked random reads into word images, differential byte
// or page writes with acknowledge polling, and the size check.
//
// Word image layout: byte k of a range is the low byte of word k / 2 for even
// k and its high byte for odd k; k counts from the first byte of the range.
#include "eeprom/block.h"

#include <algorithm>
#include <bit>

#include "eeprom/bus.h"
#include "eeprom/device.h"
#include "platform/abandon.h"
#include "platform/tick.h"
#include "spi/pio.h"

namespace zel {
namespace {

constexpr uint32_t kChunkBytes = 64;      // one random read, one compare
constexpr uint32_t kSizePattern = 0xA5A5; // multiplier of the size check
constexpr uint32_t kMaxPageBytes = 256;   // largest page buffer of the 24Cxx family

// Transfers need an attached device. Three memory-address bytes (S = 17,
// B = 0) cannot be composed and are refused before any bus traffic; zero
// bytes go on to the bus and fail there by count.
bool TransferAllowed() { return DeviceAttached() && (AddressBytes() == 0 || TransferGeometrySupported()); }

// Bytes of a chunk read from `address` with `left` to go. A sequential read
// stays inside the bytes that one device address reaches (a 24C1025 rolls
// over at the end of each 64 KiB block), so no chunk crosses their end;
// without block-select bits that end is the end of memory.
uint32_t ChunkAt(uint32_t address, uint32_t left) {
    const uint32_t chunk = std::min(left, kChunkBytes);
    const auto folded = static_cast<unsigned>(std::popcount(BlockBits()));
    if (folded == 0 || SizeBits() <= folded) {
        return chunk;
    }
    const uint32_t block = uint32_t{1} << (SizeBits() - folded);
    return std::min(chunk, block - (address & (block - 1)));
}

// False when the transfer is to end early.
bool Report(const ProgressSink &report, uint64_t done, uint32_t length) {
    return report.Tell(static_cast<int>(done * 100 / length));
}

bool ReportStart(const ProgressSink &report) { return report.Tell(0); }

// The transfer is complete: 100 is told whatever the answer.
bool ReportDone(const ProgressSink &report) {
    report.Tell(100);
    return true;
}

uint8_t ByteOf(const uint16_t *words, uint32_t k) {
    const uint16_t word = words[k / 2];
    return static_cast<uint8_t>(k % 2 == 0 ? word : word >> 8);
}

void Unpack(const uint8_t *bytes, uint32_t n, uint32_t first, uint16_t *words) {
    for (uint32_t k = first; k < first + n; ++k) {
        const uint8_t byte = bytes[k - first];
        if (k % 2 == 0) {
            words[k / 2] = byte;
        } else {
            words[k / 2] |= static_cast<uint16_t>(byte << 8);
        }
    }
}

// How a write treats its write cycle. The original paths keep write-protect
// low until the acknowledged poll's stop and count a write whose polling ran
// out as written. The page-write and range paths raise write-protect as soon
// as the write's stop has started the cycle (a stop with the line low may
// start another cycle on some parts' models) and fail a cycle that outlasts
// the polling.
enum class Cycle { Original, Checked };

// write cycle: the device does not acknowledge its address until it ends;
// the first probe goes at once, the last no later than 20 ms after it. A
// thread that a stop gave up on reaches no bus: it stops probing at once.
// True when a probe was acknowledged. A checked cycle is judged by one more
// probe sent once the 20 ms have passed: the refused probe before it may
// have been answered long before, on a host descheduled since.
bool AwaitWriteCycle(uint8_t device, Cycle cycle) {
    const uint32_t deadline = platform::TickMs() + kWriteCycleMs;
    while (BusTransfer(device, nullptr, 0, false, nullptr, 0) == 0) {
        if (platform::CurrentThreadAbandoned()) {
            return false;
        }
        if (static_cast<int32_t>(platform::TickMs() - deadline) >= 0) {
            return cycle == Cycle::Checked && BusTransfer(device, nullptr, 0, false, nullptr, 0) != 0;
        }
    }
    return true;
}

// One write transaction of `count` bytes (1 to a page) from `address`, the
// write-protect line low around it, and its write cycle.
WriteResult WriteRun(uint32_t address, const uint8_t *bytes, uint32_t count, Cycle cycle) {
    if (!TransferAllowed()) {
        return WriteResult::Failed;
    }
    uint8_t command[2 + kMaxPageBytes]; // memory-address bytes, then the bytes
    const uint8_t device = ComposeAddress(address, command);
    const auto sent = static_cast<uint16_t>(AddressBytes() + count);
    std::copy_n(bytes, count, command + AddressBytes());
    const uint32_t failedBefore = FailedAccesses(); // a refused write may leave the line high
    SetWriteProtect(false);
    // start, device, address bytes, the bytes, stop
    const bool ok =
        BusTransfer(device, command, sent, true, nullptr, 0) == sent + 1 && FailedAccesses() == failedBefore;
    if (cycle == Cycle::Checked) {
        SetWriteProtect(true);
    }
    const bool ended = AwaitWriteCycle(device, cycle);
    if (cycle == Cycle::Original) {
        SetWriteProtect(true);
    }
    if (!ok) {
        return WriteResult::Failed;
    }
    return ended || cycle == Cycle::Original ? WriteResult::Written : WriteResult::CycleTooLong;
}

// The bytes [first, end) of the range that differ from `present` (byte k of
// the range is byte k - base of `present`) go out as one page write of the
// run from the first to the last differing byte; none when all agree.
WriteResult WriteDifferingRun(uint32_t address, const uint16_t *words, const uint16_t *present, uint32_t base,
                              uint32_t first, uint32_t end) {
    uint32_t low = end, high = first;
    for (uint32_t k = first; k < end; ++k) {
        if (ByteOf(words, k) != ByteOf(present, k - base)) {
            low = std::min(low, k);
            high = k + 1;
        }
    }
    if (low >= high) {
        return WriteResult::Written;
    }
    uint8_t run[kMaxPageBytes];
    for (uint32_t k = low; k < high; ++k) {
        run[k - low] = ByteOf(words, k);
    }
    return WriteRun(address + low, run, high - low, Cycle::Checked);
}

// Each differing byte gets a byte write of its own.
WriteResult WriteBytes(uint32_t address, const uint16_t *words, uint32_t length, const ProgressSink &report,
                       Cycle cycle) {
    if (!TransferAllowed() || !ReportStart(report)) {
        return WriteResult::Failed;
    }
    uint16_t present[kChunkBytes / 2];
    for (uint32_t i = 0; i < length;) {
        const uint32_t n = std::min(length - i, kChunkBytes);
        if (!ReadBlock(address + i, present, n, kNoProgress)) {
            return WriteResult::Failed; // the bus has been recovered already
        }
        for (uint32_t j = 0; j < n; ++j, ++i) {
            const uint8_t wanted = ByteOf(words, i);
            if (wanted != ByteOf(present, j)) {
                const WriteResult result = WriteRun(address + i, &wanted, 1, cycle);
                if (result != WriteResult::Written) {
                    BusRecover();
                    return result;
                }
            }
            if (!Report(report, i, length)) {
                return WriteResult::Failed;
            }
        }
    }
    ReportDone(report);
    return WriteResult::Written;
}

// Compares a window of whole pages (at least 64 bytes, read in chunks of 64)
// at a time; each page piece of it that differs gets one write that stays
// inside its page.
WriteResult WritePages(uint32_t address, const uint16_t *words, uint32_t length, const ProgressSink &report,
                       uint32_t pageBytes) {
    if (!TransferAllowed() || !ReportStart(report)) {
        return WriteResult::Failed;
    }
    const uint32_t window = std::max(pageBytes, kChunkBytes);
    const auto pageStart = [pageBytes](uint32_t at) { return at & ~(pageBytes - 1); };
    uint16_t present[kMaxPageBytes / 2];
    for (uint32_t i = 0; i < length;) {
        const uint32_t windowEnd = std::min(length, pageStart(address + i) + window - address);
        if (!ReadBlock(address + i, present, windowEnd - i, kNoProgress)) {
            return WriteResult::Failed; // the bus has been recovered already
        }
        for (const uint32_t base = i; i < windowEnd;) {
            const uint32_t pieceEnd = std::min(windowEnd, pageStart(address + i) + pageBytes - address);
            const WriteResult result = WriteDifferingRun(address, words, present, base, i, pieceEnd);
            if (result != WriteResult::Written) {
                BusRecover();
                return result;
            }
            if (!Report(report, i, length)) {
                return WriteResult::Failed;
            }
            i = pieceEnd;
        }
    }
    ReportDone(report);
    return WriteResult::Written;
}

bool ReadWord(uint32_t address, uint16_t &word) { return ReadBlock(address, &word, 2, kNoProgress); }

bool WriteWord(uint32_t address, uint16_t word) { return WriteBlock(address, &word, 2, kNoProgress); }

bool WordReadsBack(uint32_t address, uint16_t expected) {
    uint16_t check = 0;
    return ReadWord(address, check) && check == expected;
}

} // namespace

bool ReadBlock(uint32_t address, uint16_t *words, uint32_t length, const ProgressSink &report) {
    if (!TransferAllowed() || !ReportStart(report)) {
        return false;
    }
    uint8_t scratch[kChunkBytes]; // memory-address bytes out, received bytes in
    for (uint32_t c = 0; c < length;) {
        const uint8_t device = ComposeAddress(address + c, scratch);
        const auto n = static_cast<uint16_t>(ChunkAt(address + c, length - c));
        const auto sent = static_cast<uint16_t>(AddressBytes());
        // start, device, address bytes, repeated start, device | 1, n bytes in, stop
        if (BusTransfer(device, scratch, sent, true, scratch, n) != sent + n + 2) {
            BusRecover();
            return false;
        }
        if (!Report(report, c, length)) {
            return false;
        }
        Unpack(scratch, n, c, words);
        c += n;
    }
    return ReportDone(report);
}

bool WriteDataByte(uint32_t address, uint8_t value) {
    return WriteRun(address, &value, 1, Cycle::Original) == WriteResult::Written;
}

bool WriteBlock(uint32_t address, const uint16_t *words, uint32_t length, const ProgressSink &report) {
    return WriteBytes(address, words, length, report, Cycle::Original) == WriteResult::Written;
}

bool PageSizeSupported(uint32_t pageBytes) {
    return pageBytes == 0 || (pageBytes >= 2 && pageBytes <= kMaxPageBytes && std::has_single_bit(pageBytes));
}

WriteResult WriteRange(uint32_t address, const uint16_t *words, uint32_t length, const ProgressSink &report,
                       uint32_t pageBytes) {
    if (!PageSizeSupported(pageBytes)) {
        return WriteResult::Failed;
    }
    return pageBytes == 0 ? WriteBytes(address, words, length, report, Cycle::Checked)
                          : WritePages(address, words, length, report, pageBytes);
}

// Changes the last word of the configured size and puts it back. The EEPROM
// is left as it was found whenever its word could be read at all.
int CheckSize() {
    if (!DeviceAttached() || SizeBits() == 0) {
        return 0;
    }
    const uint32_t top = (uint32_t{1} << SizeBits()) - 2;
    uint16_t saved = 0;
    if (!ReadWord(top, saved)) {
        return 0;
    }
    const auto pattern = static_cast<uint16_t>(saved * kSizePattern);
    const bool changed = WriteWord(top, pattern) && WordReadsBack(top, pattern);
    const bool restored = WriteWord(top, saved);
    return changed && restored && WordReadsBack(top, saved) ? 1 : 0;
}

} // namespace zel
