// A gang end to end: a supervisor and one worker process a virtual site,
// with workers and supervisors killed while they write.
#include "cli_fixture.h"

#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <thread>

namespace zelprog::test {
namespace {

constexpr uint64_t kFirst = 1000;

class ZelprogGang : public ZelprogCli {
protected:
    void SetUp() override {
        ZelprogCli::SetUp();
        counter_ = Path("line.counter");
        image_ = RandomBytes(k24c02, 27);
        Write("fw.bin", AsString(image_));
    }
    std::string SiteFile(const std::string &site) const { return Path("site-" + site + ".bin"); }
    std::vector<std::string> GangArgs(const std::vector<std::string> &sites, int units = 1) const {
        std::vector<std::string> args = {ZELPROG_PATH,  "--part",
                                         "24c02",       "--json",
                                         "gang",        Path("fw.bin"),
                                         "--serial-at", "0x20",
                                         "--counter",   counter_,
                                         "--first",     std::to_string(kFirst),
                                         "--units",     std::to_string(units)};
        if (std::filesystem::exists(counter_))
            args.erase(args.begin() + 10, args.begin() + 12); // --first only starts a counter
        for (const std::string &site : sites)
            args.insert(args.end(), {"--site", "SIMPART=24c02 SIMFILE=" + SiteFile(site)});
        return args;
    }
    std::optional<uint64_t> NumberIn(const std::string &site) const { return SerialIn(SiteFile(site)); }
    std::map<uint64_t, std::vector<std::string>> Fates() const { return LogFates(counter_); }
    // No number written twice or after it was lost, and every number up to
    // the highest one logged has a fate.
    void ExpectEveryNumberOnce() const {
        const auto fates = Fates();
        ASSERT_FALSE(fates.empty());
        EXPECT_EQ(fates.begin()->first, kFirst);
        EXPECT_EQ(fates.rbegin()->first - kFirst + 1, fates.size()) << "a number without a fate";
        for (const auto &[number, list] : fates) {
            SCOPED_TRACE(number);
            for (std::size_t i = 0; i + 1 < list.size(); ++i)
                EXPECT_EQ(list[i], "given") << "only a number given back is handed out again";
        }
    }

    std::string counter_;
    Bytes image_;
};

using Json = nlohmann::json;

TEST_F(ZelprogGang, AWorkerKilledMidWriteLosesItsNumberWhileTheOtherSitesPass) {
    SetEnv("HOPLINK_SIM", "SIMTWR=3"); // 32 page writes: time to be killed inside the write
    long victim = 0;
    std::string victimSerial;
    bool killed = false;
    Json summary;
    const ProcessResult r = RunWatching(GangArgs({"1", "2", "3", "4"}), [&](const std::string &line) {
        const Json event = Json::parse(line, nullptr, false);
        const std::string kind = event.value("event", "");
        if (kind == "site" && event.value("site", 0) == 2 && event.value("state", "") == "writing") {
            victim = event.value("pid", 0L);
            victimSerial = event.value("serial", "");
        } else if (kind == "progress" && event.value("site", 0) == 2 && event.value("percent", 0) >= 30 &&
                   !killed && victim > 0) {
            KillProcess(victim);
            killed = true;
        } else if (kind == "summary") {
            summary = event;
        }
    });
    ASSERT_TRUE(killed) << r.out;
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_EQ(summary.value("passed", -1), 3) << r.out;
    EXPECT_EQ(summary.value("failed", -1), 1) << r.out;
    EXPECT_EQ(summary.value("numbersUsed", -1), 4) << r.out;

    const auto fates = Fates();
    ASSERT_EQ(fates.size(), 4u);
    const uint64_t lost = std::stoull(victimSerial);
    for (const auto &[number, list] : fates)
        EXPECT_EQ(list, std::vector<std::string>{number == lost ? "lost" : "written"}) << number;
    std::set<uint64_t> held;
    for (const std::string site : {"1", "3", "4"}) {
        SCOPED_TRACE("site " + site);
        Bytes expected = image_;
        const std::optional<uint64_t> n = NumberIn(site);
        ASSERT_TRUE(n && fates.count(*n) && *n != lost);
        EXPECT_TRUE(held.insert(*n).second) << "one number on two sites";
        for (std::size_t i = 0; i < 4; ++i)
            expected[kSerialAt + i] = static_cast<uint8_t>(*n >> (8 * i));
        EXPECT_EQ(zeltest::ReadFile(SiteFile(site)), AsString(expected));
    }

    const ProcessResult next = RunProcess(GangArgs({"5"}));
    ASSERT_EQ(next.exitCode, 0) << next.out;
    EXPECT_EQ(NumberIn("5"), kFirst + 4) << "the lost number is not handed out again";
}

// The kill moments are random (seeded, so a failure can be replayed): the
// assertions hold whatever the moment, so no moment is a wrong one.
TEST_F(ZelprogGang, SupervisorsAndWorkersKilledAtSeededMomentsNeverHandANumberOutTwice) {
    constexpr int kRuns = 8;
    constexpr int kSites = 3;
    SetEnv("HOPLINK_SIM", "SIMTWR=1");
    auto sites = [](int run) {
        std::vector<std::string> names;
        for (int s = 0; s < kSites; ++s)
            names.push_back(std::to_string(run) + "-" + std::to_string(s));
        return names;
    };
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(RunProcess(GangArgs(sites(0), 2)).exitCode, 0);
    const auto run =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    std::mt19937 random(27);
    std::uniform_int_distribution<long long> moment(0, run.count() * 5 / 4);
    std::uniform_int_distribution<int> site(1, kSites);
    for (int i = 1; i <= kRuns; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        const std::chrono::microseconds after(moment(random));
        if (i % 2 == 1) {
            RunAndKill(GangArgs(sites(i), 2), after);
            continue;
        }
        const int victim = site(random);
        std::thread killer;
        RunWatching(GangArgs(sites(i), 2), [&](const std::string &line) {
            const Json event = Json::parse(line, nullptr, false);
            if (event.value("event", "") == "site" && event.value("site", 0) == victim && !killer.joinable()) {
                const long pid = event.value("pid", 0L);
                killer = std::thread([pid, after] {
                    std::this_thread::sleep_for(after); // the moment is the random input, not a wait
                    KillProcess(pid);
                });
            }
        });
        if (killer.joinable())
            killer.join();
    }
    const ProcessResult last = RunProcess(GangArgs(sites(kRuns + 1)));
    ASSERT_EQ(last.exitCode, 0) << last.out;
    ExpectEveryNumberOnce();
    const auto fates = Fates();
    for (const std::string &name : sites(kRuns + 1)) {
        const std::optional<uint64_t> n = NumberIn(name);
        ASSERT_TRUE(n && fates.count(*n)) << name;
        EXPECT_EQ(fates.at(*n).back(), "written") << name;
    }
}

} // namespace
} // namespace zelprog::test
