#include "core/pg_ledger.h"

#include "core/serial_list.h"

#include <libpq-fe.h>

#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace zelprog {
namespace {

// Advisory lock keys: the schema's creation, and a station's name.
constexpr const char *kSchemaLockKey = "1515870810";
constexpr const char *kStationLockClass = "1515870811";
constexpr uint64_t kMaxNumber = UINT64_MAX;
constexpr std::chrono::seconds kStationPatience{3};
constexpr std::chrono::milliseconds kStationPoll{50};

struct ResultFree {
    void operator()(PGresult *result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

struct ConnectionFree {
    void operator()(PGconn *connection) const { PQfinish(connection); }
};

bool ParseNumber(const char *text, uint64_t &value) {
    uint64_t v = 0;
    if (text == nullptr || *text == '\0')
        return false;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || v > (kMaxNumber - static_cast<unsigned>(*c - '0')) / 10)
            return false;
        v = v * 10 + static_cast<unsigned>(*c - '0');
    }
    value = v;
    return true;
}

std::string Field(const Result &result, int row, int column) { return PQgetvalue(result.get(), row, column); }

class PgLedger : public Ledger {
public:
    PgLedger(const LedgerOptions &options, JobControl control)
        : options_(options), control_(std::move(control)), values_(options),
          sequence_(options.serialList.empty() ? "serial" : "list:" + options.serialList.filename().string()) {
        PQconninfoOption *parsed = PQconninfoParse(options.counter.file.string().c_str(), nullptr);
        for (PQconninfoOption *o = parsed; o != nullptr && o->keyword != nullptr; ++o)
            if (std::string(o->keyword) == "password" && o->val != nullptr)
                password_ = o->val;
        PQconninfoFree(parsed);
    }

    // The station's lock goes with the session's end anyway; let go of it
    // first, so that the station's next run finds it free at once.
    ~PgLedger() override {
        if (locked_ && connection_ && PQstatus(connection_.get()) == CONNECTION_OK)
            Exec("SELECT pg_advisory_unlock($1::integer, hashtext($2))", {kStationLockClass, options_.station});
    }

    Status Open() override {
        Status status = values_.Load();
        if (status.Ok())
            status = Connect();
        if (status.Ok())
            status = MakeSchema();
        if (status.Ok())
            status = LockStation();
        if (status.Ok())
            status = OpenSequence();
        return status.Ok() ? Settle() : status;
    }

    Status Reserve(const std::string &site, SerialValue &value) override {
        Status status = Begin();
        Result returned, advanced;
        uint64_t number = 0;
        if (status.Ok())
            status = Exec("DELETE FROM zelprog_returned WHERE sequence = $1 AND number = "
                          "(SELECT min(number) FROM zelprog_returned WHERE sequence = $1) RETURNING number::text",
                          {sequence_}, &returned);
        if (status.Ok() && PQntuples(returned.get()) == 0) {
            const std::string step = std::to_string(options_.counter.step);
            status = Exec("UPDATE zelprog_sequences SET next = next + $2::numeric WHERE name = $1 "
                          "AND next <= $3::numeric - $2::numeric RETURNING (next - $2::numeric)::text",
                          {sequence_, step, std::to_string(kMaxNumber)}, &advanced);
            if (status.Ok() && PQntuples(advanced.get()) != 1)
                status = Status::Fail(kExitUsage, "the sequence '" + sequence_ + "' cannot advance any further");
        }
        const Result &row = advanced ? advanced : returned;
        if (status.Ok() && !ParseNumber(PQgetvalue(row.get(), 0, 0), number))
            status = Status::Fail(kExitFile, Where() + " holds a number zelprog cannot read");
        if (status.Ok())
            status = values_.ValueOf(number, value);
        Result inserted;
        if (status.Ok())
            status = Exec("INSERT INTO zelprog_units (sequence, number, serial, state, station, site) "
                          "VALUES ($1, $2, $3, 'reserved', $4, $5) RETURNING id::text",
                          {sequence_, std::to_string(number), value.text, options_.station, site}, &inserted);
        if (status.Ok())
            status = Commit();
        if (!status.Ok()) {
            Rollback();
            return status;
        }
        rows_[value.text] = Field(inserted, 0, 0);
        return {};
    }

    Status Sending(const SerialValue &value) override {
        return Step(value, "UPDATE zelprog_units SET state = 'sending' WHERE id = $1 AND state = 'reserved'", {});
    }

    Status Written(const SerialValue &value, const std::string &where) override {
        return Step(value,
                    "UPDATE zelprog_units SET state = 'written', location = $2 "
                    "WHERE id = $1 AND state IN ('reserved', 'sending')",
                    {where});
    }

    Status Lose(const SerialValue &value, const std::string &why) override {
        return Step(value,
                    "UPDATE zelprog_units SET state = 'lost', reason = $2 "
                    "WHERE id = $1 AND state IN ('reserved', 'sending')",
                    {why});
    }

    // Only a row still "reserved" is given back; one that became "sending"
    // (its write may have begun) is lost instead.
    Status GiveBack(const SerialValue &value, const std::string &why) override {
        const auto row = rows_.find(value.text);
        if (row == rows_.end())
            return NotReserved(value);
        Result back;
        Status status = Begin();
        if (status.Ok())
            status = Exec("UPDATE zelprog_units SET state = 'given back', reason = $2 "
                          "WHERE id = $1 AND state = 'reserved' RETURNING sequence, number",
                          {row->second, why}, &back);
        if (status.Ok() && PQntuples(back.get()) == 1)
            status = Exec("INSERT INTO zelprog_returned (sequence, number) VALUES ($1, $2) ON CONFLICT DO NOTHING",
                          {Field(back, 0, 0), Field(back, 0, 1)});
        else if (status.Ok())
            status =
                Exec("UPDATE zelprog_units SET state = 'lost', reason = $2 WHERE id = $1 AND state = 'sending'",
                     {row->second, why + " (its write may have begun: the unit may hold it)"});
        if (status.Ok())
            status = Commit();
        if (!status.Ok())
            Rollback();
        return status;
    }

    Status Record(const UnitRecord &r) override {
        const auto row = rows_.find(r.serial);
        if (row == rows_.end())
            return Exec("INSERT INTO zelprog_units (sequence, number, serial, state, station, site, location, "
                        "image, image_sha256, ranges, reason, duration_ms, mismatches, factory_id) VALUES "
                        "('', 0, $1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12)",
                        {r.serial, r.result, r.station, r.site, r.where, r.image, r.imageSha256, r.ranges,
                         r.reason, std::to_string(r.durationMs), std::to_string(r.mismatches), r.factoryId});
        return Exec(
            "UPDATE zelprog_units SET site = $2, location = CASE WHEN $3 = '' THEN location ELSE $3 END, "
            "image = $4, image_sha256 = $5, ranges = $6, reason = CASE WHEN $7 = '' THEN reason ELSE $7 END, "
            "duration_ms = $8, mismatches = $9, factory_id = $10 WHERE id = $1",
            {row->second, r.site, r.where, r.image, r.imageSha256, r.ranges, r.reason,
             std::to_string(r.durationMs), std::to_string(r.mismatches), r.factoryId});
    }

    Status Records(const RecordFilter &filter, std::vector<UnitRecord> &out) override {
        Status status = connection_ ? Status{} : Connect();
        Result exists, rows;
        if (status.Ok())
            status = Exec("SELECT to_regclass('zelprog_units') IS NOT NULL", {}, &exists);
        if (!status.Ok() || Field(exists, 0, 0) != "t")
            return status;
        status = Exec("SELECT to_char(time AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), station, site, "
                      "serial, location, image, image_sha256, ranges, state, reason, duration_ms::text, "
                      "mismatches::text, factory_id FROM zelprog_units "
                      "WHERE ($1 = '' OR serial = $1) AND ($2 = '' OR state = $2) ORDER BY id",
                      {filter.serial, filter.result}, &rows);
        for (int i = 0; status.Ok() && i < PQntuples(rows.get()); ++i) {
            UnitRecord r{.time = Field(rows, i, 0),
                         .station = Field(rows, i, 1),
                         .site = Field(rows, i, 2),
                         .serial = Field(rows, i, 3),
                         .where = Field(rows, i, 4),
                         .image = Field(rows, i, 5),
                         .imageSha256 = Field(rows, i, 6),
                         .ranges = Field(rows, i, 7),
                         .result = Field(rows, i, 8),
                         .reason = Field(rows, i, 9),
                         .factoryId = Field(rows, i, 12)};
            ParseNumber(PQgetvalue(rows.get(), i, 10), r.durationMs);
            ParseNumber(PQgetvalue(rows.get(), i, 11), r.mismatches);
            if (filter.Matches(r))
                out.push_back(std::move(r));
        }
        return status;
    }

private:
    // "the database 'line' on '/run/postgresql'": never the URI, which may hold a password.
    std::string Where() const {
        const char *db = connection_ ? PQdb(connection_.get()) : nullptr;
        const char *host = connection_ ? PQhost(connection_.get()) : nullptr;
        return "the database '" + std::string(db ? db : "?") + "' on '" + std::string(host ? host : "?") + "'";
    }

    std::string Scrubbed(std::string text) const {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        for (std::size_t at; !password_.empty() && (at = text.find(password_)) != std::string::npos;)
            text.replace(at, password_.size(), "***");
        std::string line;
        for (char c : text)
            if (c == '\n' || c == '\t')
                line += line.empty() || line.back() == ' ' ? "" : " ";
            else
                line += c;
        return line;
    }

    Status Connect() {
        const std::string uri = options_.counter.file.string();
        // The URI comes after the defaults, so that what it names wins.
        const char *keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
        const char *values[] = {"10", "zelprog", uri.c_str(), nullptr};
        connection_.reset(PQconnectdbParams(keys, values, 1));
        if (connection_ && PQstatus(connection_.get()) == CONNECTION_OK) {
            PQsetNoticeProcessor(
                connection_.get(), [](void *, const char *) {}, nullptr); // "already exists"
            return {};
        }
        const std::string why = connection_ ? Scrubbed(PQerrorMessage(connection_.get())) : "out of memory";
        connection_.reset();
        return Status::Fail(kExitFile, "cannot reach the database of --counter: " + why + "; no job was started");
    }

    Status Failure(const char *text) const {
        const std::string why = Scrubbed(text);
        if (!connection_ || PQstatus(connection_.get()) != CONNECTION_OK)
            return Status::Fail(kExitFile, "the connection to " + Where() + " was lost (" + why +
                                               "): this station stops; a number it was sending stays so and is "
                                               "settled as lost when it starts again");
        return Status::Fail(kExitFile, Where() + " refused a step of the ledger: " + why);
    }

    Status Exec(const std::string &sql, const std::vector<std::string> &params, Result *out = nullptr) {
        if (!connection_)
            return Status::Fail(kExitFile, "the ledger's database is not open");
        std::vector<const char *> values;
        for (const std::string &p : params)
            values.push_back(p.c_str());
        // Several statements in one text go only without parameters.
        Result result(values.empty()
                          ? PQexec(connection_.get(), sql.c_str())
                          : PQexecParams(connection_.get(), sql.c_str(), static_cast<int>(values.size()), nullptr,
                                         values.data(), nullptr, nullptr, 0));
        const ExecStatusType kind = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
        if (kind != PGRES_COMMAND_OK && kind != PGRES_TUPLES_OK)
            return Failure(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(connection_.get()));
        if (out != nullptr)
            *out = std::move(result);
        return {};
    }

    Status Begin() { return Exec("BEGIN", {}); }
    Status Commit() { return Exec("COMMIT", {}); }
    void Rollback() {
        if (connection_ && PQstatus(connection_.get()) == CONNECTION_OK)
            Result(PQexec(connection_.get(), "ROLLBACK"));
    }

    Status NotReserved(const SerialValue &value) const {
        return Status::Fail(kExitFile, "the serial value " + value.text + " was not reserved by this station");
    }

    // One committed UPDATE of the value's row, which must find it.
    Status Step(const SerialValue &value, const std::string &sql, std::vector<std::string> params) {
        const auto row = rows_.find(value.text);
        if (row == rows_.end())
            return NotReserved(value);
        params.insert(params.begin(), row->second);
        Result result;
        Status status = Exec(sql, params, &result);
        if (status.Ok() && std::string(PQcmdTuples(result.get())) != "1")
            return Status::Fail(kExitFile,
                                "the serial value " + value.text + " is no longer reserved in " + Where());
        return status;
    }

    Status MakeSchema() {
        Result version;
        Status status = Begin();
        if (status.Ok())
            status = Exec("SELECT pg_advisory_xact_lock($1::bigint)", {kSchemaLockKey});
        if (status.Ok())
            status = Exec("CREATE TABLE IF NOT EXISTS zelprog_schema (version integer NOT NULL)", {});
        if (status.Ok())
            status = Exec("SELECT coalesce(max(version), 0)::text FROM zelprog_schema", {}, &version);
        const int found = status.Ok() ? std::stoi(Field(version, 0, 0)) : 0;
        if (status.Ok() && found > kPgSchemaVersion)
            status =
                Status::Fail(kExitUsage, Where() + " holds zelprog's tables in version " + std::to_string(found) +
                                             ", newer than this zelprog's (" + std::to_string(kPgSchemaVersion) +
                                             "): use a newer zelprog; nothing was changed");
        if (status.Ok() && found == 0)
            status = Exec("CREATE TABLE zelprog_sequences (name text PRIMARY KEY, next numeric(20, 0) NOT NULL);"
                          "CREATE TABLE zelprog_returned (sequence text NOT NULL, number numeric(20, 0) NOT NULL, "
                          "PRIMARY KEY (sequence, number));"
                          "CREATE TABLE zelprog_units (id bigserial PRIMARY KEY, sequence text NOT NULL, "
                          "number numeric(20, 0) NOT NULL, serial text NOT NULL, state text NOT NULL, "
                          "time timestamptz NOT NULL DEFAULT now(), station text NOT NULL, site text NOT NULL, "
                          "location text NOT NULL DEFAULT '', image text NOT NULL DEFAULT '', "
                          "image_sha256 text NOT NULL DEFAULT '', ranges text NOT NULL DEFAULT '', "
                          "reason text NOT NULL DEFAULT '', duration_ms bigint NOT NULL DEFAULT 0, "
                          "mismatches bigint NOT NULL DEFAULT 0, factory_id text NOT NULL DEFAULT '');"
                          "CREATE INDEX zelprog_units_station ON zelprog_units (station, state);"
                          "CREATE INDEX zelprog_units_serial ON zelprog_units (serial);"
                          "INSERT INTO zelprog_schema (version) VALUES (" +
                              std::to_string(kPgSchemaVersion) + ")",
                          {});
        if (status.Ok())
            status = Commit();
        if (!status.Ok())
            Rollback();
        return status;
    }

    // A session lock: it ends with the connection, however this process ends.
    // The server lets a lock go only once the ended session's process has
    // finished, a moment after its client left: a busy lock is tried again
    // for a few seconds before the station is refused.
    Status LockStation() {
        const auto deadline = std::chrono::steady_clock::now() + kStationPatience;
        while (true) {
            Result locked;
            const Status status = Exec("SELECT pg_try_advisory_lock($1::integer, hashtext($2))",
                                       {kStationLockClass, options_.station}, &locked);
            if (!status.Ok())
                return status;
            if (Field(locked, 0, 0) == "t") {
                locked_ = true;
                return {};
            }
            if (std::chrono::steady_clock::now() >= deadline ||
                (control_.stopRequested && control_.stopRequested()))
                return Status::Fail(kExitUsage, "a station named '" + options_.station + "' is running on " +
                                                    Where() +
                                                    ": give this one another --station NAME; no job was started");
            std::this_thread::sleep_for(kStationPoll);
        }
    }

    Status OpenSequence() {
        Result made;
        const std::optional<uint64_t> first =
            options_.serialList.empty() ? options_.counter.first : std::optional<uint64_t>(1);
        if (first) {
            Status status =
                Exec("INSERT INTO zelprog_sequences (name, next) VALUES ($1, $2) ON CONFLICT DO NOTHING",
                     {sequence_, std::to_string(*first)}, &made);
            if (status.Ok() && options_.serialList.empty() && std::string(PQcmdTuples(made.get())) != "1")
                return Status::Fail(kExitUsage, "--first starts a new sequence, and '" + sequence_ +
                                                    "' exists in " + Where() +
                                                    ": leave out --first to go on from it");
            return status;
        }
        Status status = Exec("SELECT 1 FROM zelprog_sequences WHERE name = $1", {sequence_}, &made);
        if (status.Ok() && PQntuples(made.get()) == 0)
            return Status::Fail(kExitUsage, "there is no sequence '" + sequence_ + "' in " + Where() +
                                                ": pass --first N to start it");
        return status;
    }

    // What an earlier run of this station left: "reserved" rows are given
    // back (no byte of them was sent), "sending" rows are lost.
    Status Settle() {
        Result back, lost;
        Status status = Begin();
        if (status.Ok())
            status = Exec("WITH back AS (UPDATE zelprog_units SET state = 'given back', "
                          "reason = 'reserved by a run of this station that did not finish' "
                          "WHERE station = $1 AND state = 'reserved' RETURNING sequence, number) "
                          "INSERT INTO zelprog_returned SELECT sequence, number FROM back ON CONFLICT DO NOTHING",
                          {options_.station}, &back);
        if (status.Ok())
            status = Exec("UPDATE zelprog_units SET state = 'lost', "
                          "reason = 'being sent when a run of this station ended (the unit may hold it)' "
                          "WHERE station = $1 AND state = 'sending'",
                          {options_.station}, &lost);
        if (status.Ok())
            status = Commit();
        if (!status.Ok()) {
            Rollback();
            return status;
        }
        const std::string given = PQcmdTuples(back.get()), gone = PQcmdTuples(lost.get());
        if ((given != "0" || gone != "0") && control_.sink)
            control_.sink(NoteEvent("an earlier run of station '" + options_.station + "' did not finish: " +
                                    given + " of its numbers given back, " + gone + " lost"));
        return {};
    }

    LedgerOptions options_;
    JobControl control_;
    SerialValues values_;
    std::string sequence_;
    std::string password_;
    std::unique_ptr<PGconn, ConnectionFree> connection_;
    std::map<std::string, std::string> rows_; // a value's text -> the id of its row
    bool locked_ = false;
};

} // namespace

std::unique_ptr<Ledger> MakePgLedger(const LedgerOptions &options, JobControl control) {
    return std::make_unique<PgLedger>(options, std::move(control));
}

} // namespace zelprog
