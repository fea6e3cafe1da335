// The ledger in PostgreSQL, for real: stations (zelprog processes) that
// share one database, a server that goes away mid-run, runs killed at
// random moments, and what is refused. Each number is used at most once:
// written into one unit, or lost, never handed out twice.
#include "core/ledger.h"
#include "pg_fixture.h"

#include <map>
#include <set>
#include <thread>

namespace zelprog::test {
namespace {

class PgStations : public PgTest {
protected:
    std::string UnitFile(const std::string &unit) const { return Path("unit-" + unit + ".bin"); }
    std::vector<std::string> Args(const std::string &station, const std::string &unit,
                                  const std::string &simulation = "SIMTWR=0") const {
        return {ZELPROG_PATH, "--link", "SIMPART=24c02 " + simulation + " SIMFILE=" + UnitFile(unit),
                "--part",     "24c02",  "-q",
                "serial",     "--at",   "0x20",
                "--counter",  uri_,     "--station",
                station};
    }
    ProcessResult Unit(const std::string &station, const std::string &unit,
                       const std::string &simulation = "SIMTWR=0", bool first = false) const {
        std::vector<std::string> args = Args(station, unit, simulation);
        if (first)
            args.insert(args.end(), {"--first", "1000"});
        return RunProcess(args);
    }
    std::optional<uint64_t> NumberIn(const std::string &unit) const { return SerialIn(UnitFile(unit)); }
    // Each number's rows' states, in the order they were reserved.
    std::map<uint64_t, std::vector<std::string>> States() const {
        std::map<uint64_t, std::vector<std::string>> states;
        for (const auto &row :
             Query("SELECT number, state FROM zelprog_units WHERE sequence = 'serial' ORDER BY id"))
            states[std::stoull(row[0])].push_back(row[1]);
        return states;
    }
    // Every number from the first to the sequence's next is accounted for:
    // given back and used again, or ended written or lost, exactly once;
    // a written number is in exactly one of `units`, and no unit holds a
    // number the ledger does not call written.
    void ExpectEveryNumberUsedOnce(const std::vector<std::string> &units) const {
        const auto states = States();
        const Rows next = Query("SELECT next::text FROM zelprog_sequences WHERE name = 'serial'");
        ASSERT_EQ(next.size(), 1u);
        const uint64_t end = std::stoull(next[0][0]);
        std::map<uint64_t, std::string> holder;
        for (const std::string &unit : units)
            if (const std::optional<uint64_t> n = NumberIn(unit)) {
                EXPECT_TRUE(holder.emplace(*n, unit).second) << *n << " in " << unit << " and " << holder[*n];
            }
        EXPECT_EQ(states.size(), end - 1000) << "a row for every number handed out";
        for (const auto &[number, list] : states) {
            SCOPED_TRACE(number);
            for (std::size_t i = 0; i + 1 < list.size(); ++i)
                EXPECT_EQ(list[i], "given back") << "only a number given back is handed out again";
            const std::string &fate = list.back();
            EXPECT_TRUE(fate == "written" || fate == "lost" || fate == "given back") << fate;
            EXPECT_EQ(holder.count(number), fate == "written" ? 1u : holder.count(number)) << fate;
            if (fate != "written" && fate != "lost") {
                EXPECT_EQ(holder.count(number), 0u) << "a unit holds a number the ledger gave back";
            }
        }
        for (const auto &[number, unit] : holder) {
            ASSERT_EQ(states.count(number), 1u) << number << " in " << unit;
            EXPECT_NE(states.at(number).back(), "given back") << number << " in " << unit;
        }
    }
};

TEST_F(PgStations, TwoStationsOfAHundredUnitsEachUseEveryNumberOnceWithARecordForEach) {
    constexpr int kUnits = 100;
    ASSERT_EQ(Unit("setup", "setup", "SIMTWR=0", true).exitCode, 0);
    std::vector<std::string> units = {"setup"};
    int failures[2] = {0, 0};
    std::vector<std::thread> stations;
    for (int s = 0; s < 2; ++s)
        stations.emplace_back([&, s] {
            for (int i = 0; i < kUnits; ++i) {
                const std::string unit = std::to_string(s) + "-" + std::to_string(i);
                const bool faulty = i % 25 == 7; // the first data byte refused: lost
                const ProcessResult r =
                    Unit(s == 0 ? "east" : "west", unit, faulty ? "SIMTWR=0 SIMFAULT=nak:3" : "SIMTWR=0");
                if (r.exitCode != (faulty ? 1 : 0)) {
                    ++failures[s];
                    ADD_FAILURE() << unit << ": " << r.exitCode << " " << r.err;
                }
            }
        });
    for (std::thread &t : stations)
        t.join();
    EXPECT_EQ(failures[0] + failures[1], 0);
    for (int s = 0; s < 2; ++s)
        for (int i = 0; i < kUnits; ++i)
            units.push_back(std::to_string(s) + "-" + std::to_string(i));
    ExpectEveryNumberUsedOnce(units);
    const Rows counts = Query("SELECT station, state, count(*) FROM zelprog_units GROUP BY 1, 2 ORDER BY 1, 2");
    EXPECT_EQ(counts, (Rows{{"east", "lost", "4"},
                            {"east", "written", "96"},
                            {"setup", "written", "1"},
                            {"west", "lost", "4"},
                            {"west", "written", "96"}}));
    const ProcessResult listed =
        RunProcess({ZELPROG_PATH, "records", "--counter", uri_, "--json", "--result", "lost"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(CountOf(listed.out, "\"result\":\"lost\""), 8u) << listed.out;
    EXPECT_EQ(CountOf(listed.out, "\"reason\":\"writing 0x20..0x23 failed"), 8u) << listed.out;
}

TEST_F(PgStations, AServerLostMidWriteStopsTheStationAndNoNumberIsHandedOutTwice) {
    // A server of its own: the suite's is shared with tests running beside this one.
    const std::string state = Path("own-server.state"), script = ZELPROG_PG_SERVER;
    struct Stopped { // on every path out of the test, a failed assertion's too
        std::string script, state;
        ~Stopped() { RunProcess({"/bin/bash", script, "stop", state}); }
    } stopped{script, state};
    ASSERT_EQ(RunProcess({"/bin/bash", script, "start", state}).exitCode, 0);
    const std::string own = zeltest::ReadFile(state);
    SetEnv("PGHOST", own.substr(0, own.find('\n')));
    uri_ = "postgresql:///postgres";
    ASSERT_EQ(Unit("line", "0", "SIMTWR=0", true).exitCode, 0);
    ASSERT_EQ(Unit("line", "1").exitCode, 0);

    std::vector<std::string> midWrite = Args("line", "2", "SIMTWR=20"); // 4 bytes, 20 ms each
    midWrite.erase(std::find(midWrite.begin(), midWrite.end(), "-q"));
    const ProcessResult lost = RunAndAct(midWrite, "Writing", [&] {
        EXPECT_EQ(RunProcess({"/bin/bash", script, "pause", state}).exitCode, 0);
    });
    EXPECT_EQ(lost.exitCode, 4) << lost.err;
    EXPECT_NE(lost.err.find("was lost"), std::string::npos) << lost.err;
    EXPECT_NE(lost.err.find("this station stops"), std::string::npos) << lost.err;

    const ProcessResult down = Unit("line", "3");
    EXPECT_EQ(down.exitCode, 4) << down.err;
    EXPECT_NE(down.err.find("cannot reach the database"), std::string::npos) << down.err;
    EXPECT_NE(down.err.find("no job was started"), std::string::npos) << down.err;
    EXPECT_EQ(NumberIn("3"), std::nullopt) << "nothing written without the ledger";

    ASSERT_EQ(RunProcess({"/bin/bash", script, "resume", state}).exitCode, 0);
    for (const char *unit : {"3", "4"})
        EXPECT_EQ(Unit("line", unit).exitCode, 0);
    PQfinish(db_);
    db_ = nullptr;
    const std::string info = "host=" + own.substr(0, own.find('\n')) + " user=postgres dbname=postgres";
    db_ = PQconnectdb(info.c_str());
    ASSERT_EQ(PQstatus(db_), CONNECTION_OK);
    EXPECT_EQ(States()[1002], std::vector<std::string>{"lost"}) << "the number being sent is settled as lost";
    ExpectEveryNumberUsedOnce({"0", "1", "2", "3", "4"});
    PQfinish(db_);
    db_ = nullptr;
}

TEST_F(PgStations, StationsKilledAtRandomMomentsNeverHandANumberOutTwice) {
    constexpr int kRuns = 24;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Unit("line", "0", "SIMTWR=2", true).exitCode, 0);
    const auto run =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    std::mt19937 random(27);
    std::uniform_int_distribution<long long> moment(0, run.count() * 5 / 4);
    std::vector<std::string> units = {"0"};
    for (int i = 1; i <= kRuns; ++i) {
        units.push_back(std::to_string(i));
        RunAndKill(Args("line", units.back(), "SIMTWR=2"), std::chrono::microseconds(moment(random)));
    }
    units.push_back("last");
    const ProcessResult last = Unit("line", "last");
    ASSERT_EQ(last.exitCode, 0) << last.err;
    EXPECT_TRUE(Query("SELECT id FROM zelprog_units WHERE state IN ('reserved', 'sending')").empty())
        << "the station's next start settles what its killed runs left";
    ExpectEveryNumberUsedOnce(units);
}

struct Refusal {
    const char *name;
    const char *before; // SQL run first; null: none
    const char *station;
    std::vector<std::string> extra;
    int exitCode;
    const char *says;
};

TEST_F(PgStations, WhatCannotBeTrustedIsRefusedBeforeAnyByteIsWritten) {
    ASSERT_EQ(Unit("line", "setup", "SIMTWR=0", true).exitCode, 0);
    PGconn *holder = Connect(database_);
    ASSERT_NE(holder, nullptr);
    Query(holder, "SELECT pg_advisory_lock(1515870811, hashtext('busy'))"); // a running station named "busy"
    const std::vector<Refusal> cases = {
        {"a second station of one name", nullptr, "busy", {}, 2, "a station named 'busy' is running"},
        {"--first on a sequence that exists", nullptr, "line", {"--first", "5"}, 2, "leave out --first"},
        {"a newer schema",
         "UPDATE zelprog_schema SET version = 2",
         "line",
         {},
         2,
         "newer than this zelprog's (1)"},
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.before != nullptr)
            Query(c.before);
        std::vector<std::string> args = Args(c.station, "u");
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const ProcessResult r = RunProcess(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(NumberIn("u"), std::nullopt);
    }
    PQfinish(holder);
    EXPECT_EQ(Query("SELECT count(*), max(next)::text FROM zelprog_units, zelprog_sequences"),
              (Rows{{"1", "1001"}}))
        << "nothing reserved";

    std::vector<std::string> secret = Args("line", "u");
    secret[secret.size() - 3] = "postgresql://nobody:s3cr3t-w0rd@/" + database_ + "?host=" + socket_ + "/missing";
    const ProcessResult unreachable = RunProcess(secret);
    EXPECT_EQ(unreachable.exitCode, 4) << unreachable.err;
    EXPECT_NE(unreachable.err.find("cannot reach the database"), std::string::npos) << unreachable.err;
    EXPECT_EQ(unreachable.err.find("s3cr3t-w0rd"), std::string::npos) << "never the password: " << unreachable.err;
    EXPECT_EQ(NumberIn("u"), std::nullopt);
}

TEST_F(PgStations, OnlyANumberStillReservedIsGivenBackAndThenHandedOutFirst) {
    ASSERT_EQ(Unit("line", "setup", "SIMTWR=0", true).exitCode, 0);
    const std::unique_ptr<Ledger> ledger = MakeLedger({.counter = {.file = uri_}, .station = "bench"}, {});
    ASSERT_TRUE(ledger->Open().Ok());
    SerialValue first, second, again;
    ASSERT_TRUE(ledger->Reserve("a", first).Ok());
    ASSERT_TRUE(ledger->Reserve("b", second).Ok());
    EXPECT_EQ(first.number, 1001u);
    EXPECT_EQ(second.bytes, (Bytes{0xea, 0x03, 0, 0}));
    ASSERT_TRUE(ledger->Sending(first).Ok());
    ASSERT_TRUE(ledger->GiveBack(first, "the link failed").Ok());
    ASSERT_TRUE(ledger->GiveBack(second, "no unit").Ok());
    ASSERT_TRUE(ledger->Reserve("a", again).Ok());
    EXPECT_EQ(again.number, 1002u) << "the number given back comes first; the one being sent never again";
    EXPECT_EQ(States()[1001], std::vector<std::string>{"lost"});
    EXPECT_FALSE(ledger->Lose(first, "twice").Ok()) << "a settled number stays settled";
}

} // namespace
} // namespace zelprog::test
