// Serial numbers for a production run: a counter file that hands out each
// number once, and the bytes a number is written as.
//
// The counter file holds the next number and, while a run writes some (a
// gang writes one a site at once), the numbers it reserved and the size of
// the log when the oldest of them was reserved. A number is
// reserved (on disk) before any byte of it reaches the EEPROM, so a run
// killed at any moment can skip a number but never hand one out twice. A
// write that failed before its job started gives the number back; once the
// job has started, some of its bytes may be in the EEPROM, so the number is
// lost: never handed out again. Each number's fate is appended to FILE.log,
// one line a unit:
//     2026-12-08T07:20:01Z 1234 written at 0x20 (le, 4 bytes)
//     2026-12-08T07:20:05Z 1235 given back: cannot write '/tmp/...': File too large
//     2026-12-08T07:20:09Z 1236 lost: writing 0x20..0x23 failed (the unit may hold it)
//     2026-12-08T07:21:30Z 1237 lost: reserved by a run that did not finish (the unit may hold it)
// FILE.lock keeps a second zelprog out while one uses the counter.
#pragma once

#include "core/job.h"
#include "core/os.h"
#include "core/status.h"
#include "formats/image.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelprog {

enum class SerialEncoding { LittleEndian, BigEndian, Ascii, Bcd };

// "le", "be", "ascii", "bcd"
std::optional<SerialEncoding> ParseSerialEncoding(std::string_view name);
const char *SerialEncodingName(SerialEncoding encoding);

struct SerialFormat {
    int width = 4; // bytes in the EEPROM, 1..8
    SerialEncoding encoding = SerialEncoding::LittleEndian;
};

inline constexpr int kMaxSerialWidth = 8;

// le/be: binary, least or most significant byte first; ascii: `width`
// decimal digits, zero-padded; bcd: two decimal digits a byte, the most
// significant first. False when the value needs more than `width` bytes.
bool EncodeSerial(uint64_t value, const SerialFormat &format, Bytes &bytes);

struct CounterOptions {
    std::filesystem::path file;
    uint64_t step = 1;
    std::optional<uint64_t> first{}; // starts a new counter file
    // A missing file starts at `first` and an existing one goes on (a
    // list's progress), instead of `first` being refused on an existing one.
    bool startWhenMissing = false;
};

// Now, UTC: "2026-12-08T07:20:01Z".
std::string UtcNow();

class SerialCounter {
public:
    // `control`: notes go to its sink; its stop request ends a wait for the lock.
    SerialCounter(CounterOptions options, JobControl control);
    SerialCounter(const SerialCounter &) = delete;
    SerialCounter &operator=(const SerialCounter &) = delete;

    // Takes the lock (waiting while another zelprog holds it, up to a
    // minute), reads the counter and settles a reservation that an earlier
    // run left behind.
    Status Open();
    uint64_t Next() const { return next_; }
    const std::filesystem::path &LogFile() const { return log_; }

    // Reserves Next() on disk and advances the counter past it.
    Status Reserve(uint64_t &number);
    // The reserved number is in the EEPROM: logged, reservation cleared.
    Status Written(uint64_t number, const std::string &where);
    // No byte of the reserved number reached the EEPROM: logged, the counter
    // set back to it when it was the last one handed out (else it stays
    // unused: a later number may be out).
    Status GiveBack(uint64_t number, const std::string &why);
    // The write of the reserved number started and failed: logged, never handed out again.
    Status Lose(uint64_t number, const std::string &why);

private:
    Status Lock();
    Status Load();
    Status Settle(const std::vector<uint64_t> &reserved, uint64_t logged);
    Status Store();
    void Settled(uint64_t number);
    Status Log(uint64_t number, const std::string &fate);

    CounterOptions options_;
    JobControl control_;
    std::filesystem::path log_, lock_;
    os::FileLock held_;
    uint64_t next_ = 0;
    std::vector<uint64_t> out_; // reserved and not yet settled, oldest first
    uint64_t outLogged_ = 0;    // the log's size when the oldest of them was reserved
};

// A usage error unless the first number of a new counter fits the format:
// checked before any file is made.
Status CheckSerialArguments(const CounterOptions &options, const SerialFormat &format);

} // namespace zelprog
