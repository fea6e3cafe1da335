// The ledger: where serial numbers come from and where each unit's record
// goes. Backends: the counter file and its log (one station), a list file of
// serial values with its own counter, and a PostgreSQL database that any
// number of stations share.
//
// Every backend keeps the same promise: a number is handed out once. It is
// reserved durably before any byte of it is sent; it becomes "sending"
// durably before the first register access of its write; from then on a
// failed unit loses it (the unit may hold it), and only a number that is
// still "reserved" can be given back. A run that dies leaves its numbers to
// be settled by the next Open: never handed out again unless the backend
// knows that no byte of them was sent.
//
// One Ledger is used from one thread.
#pragma once

#include "core/job.h"
#include "core/serial.h"
#include "core/status.h"
#include "formats/image.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelprog {

// One serial number as a ledger hands it out.
struct SerialValue {
    uint64_t number = 0; // the counter's value, or the list entry's place (from 1)
    Bytes bytes;         // what goes into the EEPROM
    std::string text;    // how records and messages show it: the decimal number, or the entry
};

// What came of one unit. Times are UTC, "2026-12-08T07:20:01Z".
struct UnitRecord {
    std::string time{};    // when the unit's write began
    std::string station{}; // the station's name (--station, default the host name)
    std::string site{};    // the link the unit was on
    std::string serial{};  // SerialValue::text; empty: the unit got none
    std::string where{};   // "at 0x20 (le, 4 bytes: e8 03 00 00)"
    std::string image{};   // the image file's name, without its folder; empty: none
    std::string imageSha256{};
    std::string ranges{}; // "0x0000..0x00ff, 0x0200..0x020f"
    std::string result{}; // "written", "given back", "lost", "failed"
    std::string reason{}; // why, when not written
    uint64_t durationMs = 0;
    uint64_t mismatches = 0;
    std::string factoryId{}; // hex bytes of the part's factory-programmed ID; empty: none read
};

// "written", "given back", "lost", "failed"
bool IsUnitResult(std::string_view result);

// Which records to list; empty fields match every record.
struct RecordFilter {
    std::string serial{};
    std::string result{};
    std::string since{}, until{}; // times as in UnitRecord, or their leading part ("2026-12-08")
    bool Matches(const UnitRecord &record) const;
};

struct LedgerOptions {
    // counter.file: a counter file, or a postgresql:// (postgres://) URI.
    CounterOptions counter{};
    // Non-empty: the values come from this list, in order (serial_list.h).
    std::filesystem::path serialList{};
    SerialFormat format{};
    std::string station{}; // empty: the host name
};

bool IsDatabaseUri(std::string_view counter);

class Ledger {
public:
    virtual ~Ledger() = default;

    // Takes the backend's lock (the counter file's lock file; the station's
    // advisory lock in the database) and settles what a run that died left.
    // Nothing else may be called before it succeeded.
    virtual Status Open() = 0;
    // The next value, durably "reserved" for `site` before this returns. A
    // usage error, with nothing reserved, when it does not fit the format.
    virtual Status Reserve(const std::string &site, SerialValue &value) = 0;
    // Durably "sending": called before the first register access of the
    // value's write. A failure here means the write must not start.
    virtual Status Sending(const SerialValue &value) = 0;
    // The value is in the EEPROM, verified; `where` completes its line.
    virtual Status Written(const SerialValue &value, const std::string &where) = 0;
    // No byte of the value reached the EEPROM: it is handed out again. A
    // value that is no longer "reserved" is lost instead.
    virtual Status GiveBack(const SerialValue &value, const std::string &why) = 0;
    // The value's write started and failed: never handed out again.
    virtual Status Lose(const SerialValue &value, const std::string &why) = 0;
    // Appends the unit's record (durably).
    virtual Status Record(const UnitRecord &record) = 0;
    // The records that match, oldest first. Needs no Open.
    virtual Status Records(const RecordFilter &filter, std::vector<UnitRecord> &out) = 0;
};

// The backend that `options` names. `control`: notes go to its sink; its
// stop request ends a wait for a lock.
std::unique_ptr<Ledger> MakeLedger(const LedgerOptions &options, JobControl control);

// A usage error for options that no backend takes (a --first that does not
// fit the format, --first with a list): checked before anything is made.
Status CheckLedgerOptions(const LedgerOptions &options);

// Reserves the ledger's next value, hands its bytes to `write` (which puts
// them into the EEPROM, verified, through jobs that follow the control it is
// given) and records the outcome: written when `write` succeeds; lost once a
// job of `write` has started; else given back (which a backend turns into
// lost when "sending" reached it). "Sending" is recorded before the first
// job of `write` is given to the library. `where` tells where the value went
// ("at 0x20 (le, 4 bytes: e8 03 00 00)"). With a `record`, its time,
// serial, where, result, reason, duration and mismatches are filled in and
// it is recorded, once a value was reserved.
Status WriteSerial(Ledger &ledger, const std::string &site,
                   const std::function<std::string(const SerialValue &)> &where, const JobControl &control,
                   const std::function<Status(const Bytes &, const JobControl &)> &write, SerialValue &value,
                   UnitRecord *record = nullptr);

// JSON of one record, as the counter file's records hold it and `records --json` prints it.
std::string RecordJson(const UnitRecord &record);
bool ParseRecordJson(std::string_view line, UnitRecord &record);

} // namespace zelprog
