#include "core/ledger.h"

#include "core/os.h"
#include "core/serial_list.h"
#ifdef ZELPROG_POSTGRESQL
#include "core/pg_ledger.h"
#endif

#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>

namespace zelprog {
namespace {

std::filesystem::path Beside(const std::filesystem::path &file, const char *suffix) {
    std::filesystem::path p = file;
    p += suffix;
    return p;
}

// The counter file's ledger: SerialCounter for the numbers (a list's
// progress is a counter of its lines), records as JSON lines beside it.
// The counter file has no "sending" state: a reservation that a dead run
// left is always settled as lost.
class FileLedger : public Ledger {
public:
    FileLedger(const LedgerOptions &options, JobControl control)
        : values_(options), counter_(CounterOf(options), std::move(control)),
          records_(Beside(CounterOf(options).file, ".records")) {}

    Status Open() override {
        Status status = values_.Load();
        return status.Ok() ? counter_.Open() : status;
    }
    Status Reserve(const std::string &, SerialValue &value) override {
        Status status = values_.ValueOf(counter_.Next(), value);
        if (status.Ok())
            status = counter_.Reserve(value.number);
        return status;
    }
    Status Sending(const SerialValue &) override { return {}; }
    Status Written(const SerialValue &value, const std::string &where) override {
        return counter_.Written(value.number, where);
    }
    Status GiveBack(const SerialValue &value, const std::string &why) override {
        return counter_.GiveBack(value.number, why);
    }
    Status Lose(const SerialValue &value, const std::string &why) override {
        return counter_.Lose(value.number, why);
    }
    Status Record(const UnitRecord &record) override {
        std::string error;
        if (!os::AppendToFile(records_, RecordJson(record) + "\n", error))
            return Status::Fail(kExitFile, "the unit record could not be written: " + error);
        return {};
    }
    Status Records(const RecordFilter &filter, std::vector<UnitRecord> &out) override {
        std::error_code ec;
        if (!std::filesystem::exists(records_, ec))
            return {};
        std::ifstream in(records_, std::ios::binary);
        if (!in)
            return Status::Fail(kExitFile, "cannot read '" + records_.string() + "'");
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            UnitRecord record;
            if (ParseRecordJson(line, record)) {
                if (filter.Matches(record))
                    out.push_back(std::move(record));
            } else if (!in.eof()) { // the last line may be one that a running station is appending
                return Status::Fail(kExitFile, "line " + std::to_string(number) + " of '" + records_.string() +
                                                   "' is not a unit record zelprog wrote");
            }
        }
        return {};
    }

private:
    static CounterOptions CounterOf(const LedgerOptions &options) {
        if (options.serialList.empty())
            return options.counter;
        return {.file = SerialListProgress(options.serialList), .step = 1, .first = 1, .startWhenMissing = true};
    }

    SerialValues values_;
    SerialCounter counter_;
    std::filesystem::path records_;
};

#ifndef ZELPROG_POSTGRESQL
// What a build without the database client makes of a postgresql:// counter.
class RefusedLedger : public Ledger {
public:
    Status Open() override { return Refused(); }
    Status Reserve(const std::string &, SerialValue &) override { return Refused(); }
    Status Sending(const SerialValue &) override { return Refused(); }
    Status Written(const SerialValue &, const std::string &) override { return Refused(); }
    Status GiveBack(const SerialValue &, const std::string &) override { return Refused(); }
    Status Lose(const SerialValue &, const std::string &) override { return Refused(); }
    Status Record(const UnitRecord &) override { return Refused(); }
    Status Records(const RecordFilter &, std::vector<UnitRecord> &) override { return Refused(); }

private:
    static Status Refused() {
        return Status::Fail(kExitUsage, "this zelprog was built without PostgreSQL (the Windows builds keep the "
                                        "counter in a file): give --counter a file");
    }
};
#endif

bool AtOrAfter(const std::string &time, const std::string &bound) {
    return time.compare(0, bound.size(), bound) >= 0;
}

bool AtOrBefore(const std::string &time, const std::string &bound) {
    return time.compare(0, bound.size(), bound) <= 0;
}

} // namespace

bool IsUnitResult(std::string_view result) {
    return result == "written" || result == "given back" || result == "lost" || result == "failed";
}

bool RecordFilter::Matches(const UnitRecord &record) const {
    return (serial.empty() || record.serial == serial) && (result.empty() || record.result == result) &&
           (since.empty() || AtOrAfter(record.time, since)) && (until.empty() || AtOrBefore(record.time, until));
}

bool IsDatabaseUri(std::string_view counter) {
    return counter.rfind("postgresql://", 0) == 0 || counter.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Ledger> MakeLedger(const LedgerOptions &options, JobControl control) {
    if (!IsDatabaseUri(options.counter.file.string()))
        return std::make_unique<FileLedger>(options, std::move(control));
#ifdef ZELPROG_POSTGRESQL
    LedgerOptions named = options;
    if (named.station.empty())
        named.station = os::HostName();
    return MakePgLedger(named, std::move(control));
#else
    return std::make_unique<RefusedLedger>();
#endif
}

Status CheckLedgerOptions(const LedgerOptions &options) {
    if (!options.serialList.empty() && options.counter.first)
        return Status::Fail(kExitUsage, "--first starts a counter: a --serial-list starts at its first line");
    if (!options.serialList.empty() && !options.counter.file.empty() &&
        !IsDatabaseUri(options.counter.file.string()))
        return Status::Fail(kExitUsage,
                            "a --serial-list keeps its own progress beside it: leave out --counter FILE "
                            "(a postgresql:// --counter is taken)");
    return options.serialList.empty() ? CheckSerialArguments(options.counter, options.format) : Status{};
}

Status WriteSerial(Ledger &ledger, const std::string &site,
                   const std::function<std::string(const SerialValue &)> &where, const JobControl &control,
                   const std::function<Status(const Bytes &, const JobControl &)> &write, SerialValue &value,
                   UnitRecord *record) {
    const auto began = std::chrono::steady_clock::now();
    const std::string time = UtcNow();
    Status status = ledger.Reserve(site, value);
    if (!status.Ok())
        return status;
    bool sending = false, started = false;
    uint64_t mismatches = 0;
    JobControl watched = control;
    watched.starting = [&]() -> Status {
        Status marked;
        if (!sending)
            marked = ledger.Sending(value);
        sending = true; // a failed "sending" may still have reached the ledger: it is never given back then
        if (marked.Ok() && control.starting)
            marked = control.starting();
        return marked;
    };
    watched.started = [&] {
        started = true;
        if (control.started)
            control.started();
    };
    watched.sink = [&](const Event &event) {
        if (event.contains("address") && event.contains("expected"))
            ++mismatches;
        if (control.sink)
            control.sink(event);
    };
    status = write(value.bytes, watched);
    const std::string went = where(value);
    const char *fate = status.Ok() ? "written" : started ? "lost" : "given back";
    Status recorded = status.Ok() ? ledger.Written(value, went)
                      : started   ? ledger.Lose(value, status.message + " (the unit may hold it)")
                                  : ledger.GiveBack(value, status.message);
    if (record != nullptr) {
        record->time = time;
        record->serial = value.text;
        record->where = went;
        record->result = fate;
        record->reason = status.Ok() ? "" : status.message;
        record->durationMs = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began)
                .count());
        record->mismatches = mismatches;
        const Status kept = ledger.Record(*record);
        if (recorded.Ok())
            recorded = kept;
    }
    return recorded.Ok() ? status : recorded;
}

std::string RecordJson(const UnitRecord &r) {
    nlohmann::ordered_json j = {{"time", r.time},
                                {"station", r.station},
                                {"site", r.site},
                                {"serial", r.serial},
                                {"where", r.where},
                                {"image", r.image},
                                {"imageSha256", r.imageSha256},
                                {"ranges", r.ranges},
                                {"result", r.result},
                                {"reason", r.reason},
                                {"durationMs", r.durationMs},
                                {"mismatches", r.mismatches},
                                {"factoryId", r.factoryId}};
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool ParseRecordJson(std::string_view line, UnitRecord &r) {
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_object())
        return false;
    const std::pair<const char *, std::string *> texts[] = {{"time", &r.time},
                                                            {"station", &r.station},
                                                            {"site", &r.site},
                                                            {"serial", &r.serial},
                                                            {"where", &r.where},
                                                            {"image", &r.image},
                                                            {"imageSha256", &r.imageSha256},
                                                            {"ranges", &r.ranges},
                                                            {"result", &r.result},
                                                            {"reason", &r.reason},
                                                            {"factoryId", &r.factoryId}};
    for (const auto &[key, field] : texts) {
        const auto it = j.find(key);
        if (it == j.end() || !it->is_string())
            return false;
        *field = it->get<std::string>();
    }
    const std::pair<const char *, uint64_t *> numbers[] = {{"durationMs", &r.durationMs},
                                                           {"mismatches", &r.mismatches}};
    for (const auto &[key, field] : numbers) {
        const auto it = j.find(key);
        if (it == j.end() || !it->is_number_unsigned())
            return false;
        *field = it->get<uint64_t>();
    }
    return true;
}

} // namespace zelprog
