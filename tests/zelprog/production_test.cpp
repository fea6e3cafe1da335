// zelprog on a production line, end to end: serial numbers across many
// units (each its own backing file), with failures, with two stations on
// one counter, and with runs killed at random moments.
#include "cli_fixture.h"

#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <thread>

namespace zelprog::test {
namespace {

constexpr uint64_t kFirst = 1000;

class ZelprogProduction : public ZelprogCli {
protected:
    void SetUp() override {
        ZelprogCli::SetUp();
        SetEnv("HOPLINK_SIM", "SIMTWR=0");
        counter_ = Path("units.counter");
    }
    std::string UnitFile(const std::string &unit) const { return Path("unit-" + unit + ".bin"); }
    std::vector<std::string> SerialArgs(const std::string &unit) const {
        return {ZELPROG_PATH, "--link", "SIMPART=24c02 SIMFILE=" + UnitFile(unit),
                "--part",     "24c02",  "-q",
                "serial",     "--at",   "0x20",
                "--counter",  counter_};
    }
    ProcessResult Serial(const std::string &unit, bool first = false) const {
        std::vector<std::string> args = SerialArgs(unit);
        if (first)
            args.insert(args.end(), {"--first", std::to_string(kFirst)});
        return RunProcess(args);
    }
    std::optional<uint64_t> NumberIn(const std::string &unit) const { return SerialIn(UnitFile(unit)); }
    // The number that `serial` printed: "serial N at 0x20: ...".
    static std::optional<uint64_t> Printed(const ProcessResult &r) {
        unsigned long long n = 0;
        if (std::sscanf(r.out.c_str(), "serial %llu at", &n) != 1)
            return std::nullopt;
        return n;
    }
    std::map<uint64_t, std::vector<std::string>> Fates() const { return LogFates(counter_); }
    std::string ReadCounter() const { return Read("units.counter"); }

    std::string counter_;
};

TEST_F(ZelprogProduction, HundredUnitsGetEveryNumberOnceAndAFailedWriteLosesOnlyItsOwn) {
#ifdef _WIN32
    constexpr int kUnits = 30; // each process start costs far more under wine
#else
    constexpr int kUnits = 100;
#endif
    uint64_t next = kFirst;
    std::set<uint64_t> lost;
    for (int i = 0; i < kUnits; ++i) {
        SCOPED_TRACE("unit " + std::to_string(i));
        const std::string unit = std::to_string(i);
        if (i % 9 == 4) {
            SetEnv("HOPLINK_SIM", "SIMTWR=0 SIMFAULT=nak:3"); // the first data byte of the write is refused
            const ProcessResult failed = Serial(unit);
            SetEnv("HOPLINK_SIM", "SIMTWR=0");
            EXPECT_EQ(failed.exitCode, 1) << failed.err;
            lost.insert(next++); // the address bytes reached the EEPROM
        }
        const ProcessResult r = Serial(unit, i == 0);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Printed(r), next) << r.out;
        EXPECT_EQ(NumberIn(unit), next);
        ++next;
    }
    const auto fates = Fates();
    ASSERT_EQ(fates.size(), next - kFirst) << "every number once";
    for (const auto &[number, list] : fates)
        EXPECT_EQ(list, std::vector<std::string>{lost.count(number) ? "lost" : "written"}) << number;
}

struct SerialFailure {
    const char *name;
    const char *simulation;
    int exitCode;
    const char *fate;
};

TEST_F(ZelprogProduction, AProgramThatFailsOnceItsJobStartedLosesItsSerialNumber) {
    Write("fw.bin", AsString(RandomBytes(k24c02, 8)));
    const std::vector<SerialFailure> cases = {
        {"a worn cell after the serial number", "SIMTWR=0 SIMFAULT=worn:0x80", 1, "lost"},
        {"a write cycle that outlasts the polling", "SIMTWR=1000", 1,
         "lost"},                                           // far past the window: no late probe sees it end
        {"Ctrl-C while writing", "SIMTWR=10", 130, "lost"}, // 32 page cycles of 10 ms
        {"the image's temporary file is too large to write", "SIMTWR=0", 4, "given"},
    };
    ASSERT_EQ(Serial("setup", true).exitCode, 0);
    uint64_t next = kFirst + 1;
    int index = 0;
    for (const SerialFailure &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string unit = "u" + std::to_string(index++);
        const bool interrupt = c.exitCode == 130, limit = c.exitCode == 4;
        if ((interrupt || limit) && !CanInterrupt())
            continue; // neither signals nor a file-size limit on this platform
        std::vector<std::string> args = {ZELPROG_PATH,   "--link",      "SIMPART=24c02 SIMFILE=" + UnitFile(unit),
                                         "--part",       "24c02",       "program",
                                         Path("fw.bin"), "--serial-at", "0x20",
                                         "--counter",    counter_};
        SetEnv("HOPLINK_SIM", c.simulation);
        ProcessResult r;
        if (interrupt)
            r = RunAndInterrupt(args, "Writing...");
        else if (limit)
            r = RunWithFileSizeLimit(args, 1024); // the counter and its log fit, the image's text does not
        else
            r = RunProcess(args);
        SetEnv("HOPLINK_SIM", "SIMTWR=0");
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(Fates()[next], std::vector<std::string>{c.fate});
        const ProcessResult after = Serial(unit);
        ASSERT_EQ(after.exitCode, 0) << after.err;
        const uint64_t expected = std::string(c.fate) == "lost" ? next + 1 : next;
        EXPECT_EQ(Printed(after), expected) << "a lost number is never handed out again";
        next = expected + 1;
    }
}

TEST_F(ZelprogProduction, AUnitFromAListIsRecordedWithItsImageRangesAndFactoryId) {
    std::string cells(k24c02, '\xff');
    cells.replace(0xFA, 6, std::string("\x00\x04\xa3\x12\x34\x56", 6)); // the part's EUI-48
    Write("unit-0.bin", cells);
    Write("fw.bin", "\x11\x22\x33\x44");
    Write("serials.txt", "# lot 7\n\"AB-01\"\n0xc0ffee\n");
    const std::vector<std::string> args = {ZELPROG_PATH,
                                           "--link",
                                           "SIMPART=24aa02e48 SIMFILE=" + UnitFile("0"),
                                           "--part",
                                           "24aa02e48",
                                           "-q",
                                           "program",
                                           Path("fw.bin"),
                                           "--offset",
                                           "0x40",
                                           "--serial-at",
                                           "0x20",
                                           "--serial-list",
                                           Path("serials.txt"),
                                           "--station",
                                           "bench 3"};
    const ProcessResult r = RunProcess(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "serial AB-01 at 0x20: 41 42 2d 30 31\n");
    const ProcessResult listed =
        RunProcess({ZELPROG_PATH, "records", "--serial-list", Path("serials.txt"), "--json", "--serial", "AB-01"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    const auto record = nlohmann::json::parse(listed.out);
    EXPECT_EQ(record["station"], "bench 3");
    EXPECT_EQ(record["image"], "fw.bin");
    EXPECT_EQ(record["ranges"], "0x20..0x24, 0x40..0x43");
    EXPECT_EQ(record["result"], "written");
    EXPECT_EQ(record["factoryId"], "0004a3123456");
    EXPECT_EQ(record["imageSha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(Read("unit-0.bin").substr(0x20, 5), "AB-01");
    const ProcessResult next = RunProcess(args);
    EXPECT_EQ(next.out, "serial 0xc0ffee at 0x20: c0 ff ee\n") << "the list goes on in order";
}

// The files beside the counter: its name and what follows it.
std::set<std::string> CounterFiles(const fs::path &dir) {
    std::set<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind("units.counter", 0) == 0)
            names.insert(entry.path().filename().string());
    return names;
}

TEST_F(ZelprogProduction, ARefusedOrFailedNewCounterLeavesNoFileThatStopsTheNextTry) {
    std::vector<std::string> tooNarrow = SerialArgs("0");
    tooNarrow.insert(tooNarrow.end(), {"--first", "1000", "--width", "1"});
    const ProcessResult refused = RunProcess(tooNarrow);
    EXPECT_EQ(refused.exitCode, 2) << refused.err;
    EXPECT_NE(refused.err.find("1000, does not fit 1 bytes"), std::string::npos) << refused.err;
    EXPECT_EQ(CounterFiles(dir_), std::set<std::string>{});
    if (CanInterrupt()) {
        std::vector<std::string> args = SerialArgs("0");
        args.insert(args.end(), {"--first", "1000"});
        const ProcessResult full = RunWithFileSizeLimit(args, 16); // as on a full disk
        EXPECT_EQ(full.exitCode, 4) << full.err;
        EXPECT_EQ(CounterFiles(dir_), std::set<std::string>{"units.counter.lock"});
    }
    const ProcessResult corrected = Serial("0", true);
    EXPECT_EQ(corrected.exitCode, 0) << corrected.err;
    EXPECT_EQ(Printed(corrected), kFirst);
}

TEST_F(ZelprogProduction, TwoStationsOnOneCounterNeverWriteTheSameNumber) {
    constexpr int kPerStation = 12;
    ASSERT_EQ(Serial("setup", true).exitCode, 0);
    std::vector<std::optional<uint64_t>> printed[2];
    std::vector<std::thread> stations;
    for (int s = 0; s < 2; ++s)
        stations.emplace_back([&, s] {
            for (int i = 0; i < kPerStation; ++i)
                printed[s].push_back(Printed(RunProcess(SerialArgs(std::to_string(s) + "-" + std::to_string(i)))));
        });
    for (std::thread &t : stations)
        t.join();
    std::set<uint64_t> numbers;
    for (int s = 0; s < 2; ++s)
        for (int i = 0; i < kPerStation; ++i) {
            const std::string unit = std::to_string(s) + "-" + std::to_string(i);
            ASSERT_TRUE(printed[s][static_cast<std::size_t>(i)].has_value()) << unit;
            EXPECT_EQ(NumberIn(unit), printed[s][static_cast<std::size_t>(i)]) << unit;
            EXPECT_TRUE(numbers.insert(*printed[s][static_cast<std::size_t>(i)]).second) << "used twice: " << unit;
        }
    EXPECT_EQ(*numbers.begin(), kFirst + 1);
    EXPECT_EQ(*numbers.rbegin(), kFirst + 2 * kPerStation) << "none skipped";
}

TEST_F(ZelprogProduction, RunsKilledAtRandomMomentsNeverHandANumberOutTwice) {
    if (!CanInterrupt())
        GTEST_SKIP() << "no signals on this platform";
    constexpr int kRuns = 50;
    SetEnv("HOPLINK_SIM", "SIMTWR=3"); // the write cycle gives the kill a moment inside the write, too
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Serial("0", true).exitCode, 0);
    const auto run =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    std::mt19937 random(15);
    std::uniform_int_distribution<long long> moment(0, run.count() * 5 / 4);
    for (int i = 1; i <= kRuns; ++i)
        RunAndKill(SerialArgs(std::to_string(i)), std::chrono::microseconds(moment(random)));
    const ProcessResult last = Serial("last");
    ASSERT_EQ(last.exitCode, 0) << last.err;

    std::map<uint64_t, std::string> holder;
    for (int i = 0; i <= kRuns + 1; ++i) {
        const std::string unit = i <= kRuns ? std::to_string(i) : "last";
        const std::optional<uint64_t> n = NumberIn(unit);
        if (n) {
            EXPECT_TRUE(holder.emplace(*n, unit).second) << *n << " in unit " << unit << " and " << holder[*n];
        }
    }
    const auto fates = Fates();
    const uint64_t end = *Printed(last) + 1;
    for (uint64_t n = kFirst; n < end; ++n) {
        SCOPED_TRACE(n);
        ASSERT_EQ(fates.count(n), 1u) << "the log accounts for every number";
        const std::string &fate = fates.at(n).back();
        EXPECT_TRUE(fate == "written" || fate == "lost") << fate;
        if (fate == "written") {
            EXPECT_EQ(holder.count(n), 1u) << "a written number is in a unit";
        }
    }
    EXPECT_EQ(fates.size(), end - kFirst);
    for (const auto &[n, unit] : holder)
        EXPECT_TRUE(n >= kFirst && n < end) << n << " in unit " << unit;
}

// The backing file is mapped shared and a byte goes into it whole, so a
// process killed at any moment leaves every byte as it was or as the job
// meant it, and its lock dies with it. The kill moments are random (seeded):
// the assertions hold for every moment, so no moment is a wrong one.
TEST_F(ZelprogCli, ProgramsAndClearsKilledAtRandomMomentsLeaveEveryByteOldOrNew) {
    if (!CanInterrupt())
        GTEST_SKIP() << "no signals on this platform";
    constexpr int kKills = 100;
    constexpr int kKilled = 128 + 9;
    const std::vector<std::string> part = {ZELPROG_PATH, "--part", "24c02", "-q"};
    auto args = [&](std::vector<std::string> command) {
        command.insert(command.begin(), part.begin(), part.end());
        return command;
    };
    ASSERT_EQ(RunProcess(args({"clear"})).exitCode, 0);
    const auto started = std::chrono::steady_clock::now();
    Write("image.bin", AsString(RandomBytes(k24c02, 0)));
    ASSERT_EQ(RunProcess(args({"program", Path("image.bin")})).exitCode, 0);
    const auto run =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    std::mt19937 random(42);
    std::uniform_int_distribution<long long> moment(0, run.count() * 5 / 4);
    int endedByThemselves = 0;
    for (int i = 1; i <= kKills; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        const std::string before = ReadBacking("24c02");
        std::string meant;
        std::vector<std::string> command;
        if (i % 2 == 0) {
            meant = AsString(RandomBytes(k24c02, static_cast<unsigned>(i)));
            Write("image.bin", meant);
            command = {"program", Path("image.bin")};
        } else {
            const uint8_t fill = static_cast<uint8_t>(i);
            meant.assign(k24c02, static_cast<char>(fill));
            command = {"clear", "--fill", std::to_string(fill)};
        }
        const ProcessResult r = RunAndKill(args(command), std::chrono::microseconds(moment(random)));
        const std::string after = ReadBacking("24c02");
        ASSERT_EQ(after.size(), k24c02);
        for (std::size_t k = 0; k < k24c02; ++k)
            ASSERT_TRUE(after[k] == before[k] || after[k] == meant[k]) << "byte " << k;
        if (r.exitCode != kKilled) {
            ++endedByThemselves;
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(after, meant);
        }
        // the next process opens the file: no lock of the killed one is left
        const ProcessResult dump = RunProcess(args({"dump", "-", "--format", "bin"}));
        ASSERT_EQ(dump.exitCode, 0) << dump.err;
        EXPECT_EQ(dump.out, after);
    }
    EXPECT_GE(kKills - endedByThemselves, kKills / 4) << "runs are killed before they end";
}

} // namespace
} // namespace zelprog::test
