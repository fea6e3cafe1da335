// Whole jobs over the emulated FTDI chip: the shipped zelprog, its GUI's API
// and the Python package open SPITRANS=FTDI, and the shipped hoplink loads
// the stand-in libftdi1 (first on LD_LIBRARY_PATH) in place of the real one.
// Every run's emulator report must show a bus within the I2C timing.
#include "gui/client.h"
#include "gui/gui.h"
#include "support/test_data.h"
#include "zelprog/process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

namespace {

namespace fs = std::filesystem;
using zelprog::test::ProcessResult;
using zelprog::test::RunProcess;
using zelprog::test::SetEnv;
using zelprog::test::UnsetEnv;

constexpr size_t k24c02 = 256;
constexpr const char *kAdapter = "SPITRANS=FTDI FTDICHIP=FT232H FTDISERIAL=ZEL001";

std::string AsString(const std::vector<uint8_t> &bytes) { return {bytes.begin(), bytes.end()}; }

class FtdiJobs : public testing::Test {
protected:
    void SetUp() override {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("zel-ftdi-" + std::string(info->name()) + "-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        SetEnv("XDG_STATE_HOME", (dir_ / "state").string());
        UnsetEnv("HOPLINK_SIM");
        SetEnv("ZEL_FTDI_EMU_REPORT", (dir_ / "report-%p.json").string());
        World("device=FT232H:ZEL001");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // The emulated devices; the EEPROM is a 24C02 in this test's backing
    // file. Its write cycles take no time: they would run in emulated time,
    // the library's polling limit in real time, and a descheduled test
    // would outlast the limit.
    void World(const std::string &keys) {
        SetEnv("ZEL_FTDI_EMU", keys + ";part=24C02;file=" + Backing() + ";sim=SIMTWR=0");
    }
    std::string Backing() const { return (dir_ / "eeprom.bin").string(); }
    std::string Path(const std::string &name) const { return (dir_ / name).string(); }

    ProcessResult Zel(std::vector<std::string> args, const std::string &link = kAdapter) {
        args.insert(args.begin(), {ZELPROG_PATH, "--link", link, "--part", "24c02"});
        return RunProcess(args);
    }

    std::vector<nlohmann::json> Reports() const {
        std::vector<nlohmann::json> reports;
        for (const fs::directory_entry &entry : fs::directory_iterator(dir_))
            if (entry.path().filename().string().rfind("report-", 0) == 0)
                reports.push_back(nlohmann::json::parse(zeltest::ReadFile(entry.path()), nullptr, false));
        return reports;
    }

    // Every run met the I2C timing, hung nowhere and fought no device.
    void ExpectCleanBus(size_t runs) const {
        const std::vector<nlohmann::json> reports = Reports();
        EXPECT_GE(reports.size(), runs);
        for (const nlohmann::json &report : reports) {
            ASSERT_TRUE(report.is_object());
            EXPECT_EQ(report.value("violations_total", -1), 0) << report.dump();
            EXPECT_FALSE(report.value("hung", true)) << report.dump();
            EXPECT_GT(report.value("elapsed_ns", 0.0), 0.0) << "the pacing took emulated time";
        }
    }

    fs::path dir_;
};

TEST_F(FtdiJobs, ZelprogCommands) {
    const std::vector<uint8_t> image = zeltest::RandomBytes(k24c02, 26);
    std::ofstream(Path("image.bin"), std::ios::binary) << AsString(image);
    std::vector<uint8_t> other = image;
    other[0x41] ^= 0x10;
    std::ofstream(Path("other.bin"), std::ios::binary) << AsString(other);
    struct Step {
        std::vector<std::string> args;
        int exitCode;
        const char *out; // in standard output
    };
    const Step steps[] = {
        {{"info"}, 0, "device address: 0xa0"},
        {{"program", Path("image.bin")}, 0, ""},
        {{"verify", Path("image.bin")}, 0, ""},
        {{"verify", Path("other.bin")}, 1, ""},
        {{"dump", Path("dump.bin")}, 0, ""},
        {{"check-size"}, 0, ""},
        {{"clear"}, 0, ""},
    };
    for (const Step &step : steps) {
        const ProcessResult r = Zel(step.args);
        EXPECT_EQ(r.exitCode, step.exitCode) << step.args[0] << ": " << r.err;
        EXPECT_NE(r.out.find(step.out), std::string::npos) << step.args[0] << ": " << r.out;
    }
    EXPECT_EQ(zeltest::ReadFile(Path("dump.bin")), AsString(image));
    EXPECT_EQ(zeltest::ReadFile(Backing()), std::string(k24c02, '\xFF'));
    ExpectCleanBus(std::size(steps));
}

// The pacing of each speed meets that speed's limits, and fast pacing breaks
// the standard limits (so the check of the other runs can fail).
TEST_F(FtdiJobs, PacingPerSpeed) {
    std::ofstream(Path("image.bin"), std::ios::binary) << AsString(zeltest::RandomBytes(k24c02, 29));
    struct Case {
        const char *link;
        const char *limits;
        bool violations;
    };
    const Case cases[] = {
        {"SPITRANS=FTDI FTDISPEED=fast", "fast", false},
        {"SPITRANS=FTDI FTDISPEED=fast", "standard", true},
    };
    for (const Case &c : cases) {
        for (const fs::directory_entry &entry : fs::directory_iterator(dir_))
            if (entry.path().filename().string().rfind("report-", 0) == 0)
                fs::remove(entry.path());
        World(std::string("device=FT232H:ZEL001;speed=") + c.limits);
        const ProcessResult r = Zel({"program", Path("image.bin")}, c.link);
        EXPECT_EQ(r.exitCode, 0) << c.limits << ": " << r.err;
        const std::vector<nlohmann::json> reports = Reports();
        ASSERT_EQ(reports.size(), 1u) << c.limits;
        EXPECT_EQ(reports[0].value("violations_total", -1) > 0, c.violations) << reports[0].dump();
    }
}

TEST_F(FtdiJobs, PortsListTheAdapters) {
    World("device=FT232H:ZEL001;device=FT2232H:DUAL7");
    const ProcessResult r = RunProcess({ZELPROG_PATH, "ports"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, std::string("sim0\nsim1\n") + kAdapter +
                         "\nSPITRANS=FTDI FTDICHIP=FT2232H FTDISERIAL=DUAL7 FTDIIFACE=A\n"
                         "SPITRANS=FTDI FTDICHIP=FT2232H FTDISERIAL=DUAL7 FTDIIFACE=B\n");
}

TEST_F(FtdiJobs, FaultsAreNamed) {
    struct Case {
        const char *world;
        const char *link;
        const char *err;
    };
    const Case cases[] = {
        {"", "SPITRANS=FTDI", "hoplink: no FTDI FT232H, FT2232H or FT4232H found"},
        {"device=FT232H:ZEL001", "SPITRANS=FTDI FTDISERIAL=ZEL999",
         "no FTDI device has the serial number 'ZEL999' (present: ZEL001)"},
        {"device=FT232H:ZEL001;device=FT232H:ZEL002", "SPITRANS=FTDI", "choose one with FTDISERIAL="},
        {"device=FT232H:ZEL001;denied=*", kAdapter, "/etc/udev/rules.d/11-ftdi.rules"},
    };
    for (const Case &c : cases) {
        World(c.world);
        const ProcessResult r = Zel({"info"}, c.link);
        EXPECT_EQ(r.exitCode, 3) << c.world;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.world << ": " << r.err;
    }
}

// Write-protect on line 8 of an 8-pin channel: the writes fail, nothing is
// written.
TEST_F(FtdiJobs, LinesAnEightPinChannelLacks) {
    std::ofstream(Path("image.bin"), std::ios::binary) << std::string(k24c02, 'x');
    World("device=FT4232H:QUAD1;scl=6;sda=7;wp=3");
    const ProcessResult r = Zel({"program", Path("image.bin")}, "SPITRANS=FTDI");
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.err.find("an FT4232H channel has lines 0-7 (ADBUS0-7) only"), std::string::npos) << r.err;
    const std::string cells = zeltest::ReadFile(Backing());
    EXPECT_EQ(cells.size(), k24c02);
    EXPECT_EQ(cells.find('x'), std::string::npos);
}

// Unplugged in the middle of a program: the job fails, and every byte
// reported written is in the EEPROM.
TEST_F(FtdiJobs, UnpluggedMidJob) {
    const std::vector<uint8_t> image = zeltest::RandomBytes(k24c02, 27);
    std::ofstream(Path("image.bin"), std::ios::binary) << AsString(image);
    World("device=FT232H:ZEL001;unplug_bytes=40000");
    const ProcessResult r = Zel({"--json", "program", Path("image.bin")});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("was it unplugged?"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("\"event\":\"result\""), std::string::npos) << r.out;
    const std::string cells = zeltest::ReadFile(Backing());
    size_t written = 0;
    while (written < k24c02 && cells[written] == static_cast<char>(image[written]))
        ++written;
    EXPECT_LT(written, k24c02) << "the unplug came before the end";
    // progress counts written bytes: none beyond those in the EEPROM
    int percent = -1;
    for (size_t at = r.out.find("\"percent\":"); at != std::string::npos; at = r.out.find("\"percent\":", at + 1))
        percent = std::max(percent, std::stoi(r.out.substr(at + 10)));
    EXPECT_GE(percent, 0) << r.out;
    EXPECT_LE(static_cast<size_t>(percent) * k24c02 / 100, written) << r.out;
}

TEST_F(FtdiJobs, PythonPackage) {
    const std::string script = "import sys; sys.path.insert(0, '" PYTHON_DIR "')\n"
                               "import zelapi\n"
                               "with zelapi.open(link='" +
                               std::string(kAdapter) +
                               "', part='24c02') as ee:\n"
                               "    ee.write(bytes(range(256)))\n"
                               "    assert ee.read() == bytes(range(256))\n"
                               "    assert ee.check_size()\n";
    SetEnv("ZELAPI_LIBRARY", ZELAPI_LIBRARY);
    if (*PYTHON_PRELOAD) {
        SetEnv("LD_PRELOAD", PYTHON_PRELOAD);
        SetEnv("ASAN_OPTIONS", "detect_leaks=0");
    }
    const ProcessResult r = RunProcess({PYTHON3, "-c", script});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string expected;
    for (int i = 0; i < 256; ++i)
        expected += static_cast<char>(i);
    EXPECT_EQ(zeltest::ReadFile(Backing()), expected);
    ExpectCleanBus(1);
}

TEST_F(FtdiJobs, GuiApi) {
    using namespace zelprog::gui;
    std::unique_ptr<App> app = std::make_unique<App>(GuiOptions{});
    test::Client client(app->Port(), app->Token());
    std::thread server([&] { app->Run(); });
    test::EventStream events(client);
    const nlohmann::ordered_json hello = events.Next();
    const std::string page = hello["page"];
    const auto post = [&](const std::string &target, const std::string &body) {
        return client.Send({test::http::verb::post, target, body, {{"X-Zel-Page", page}}});
    };
    const nlohmann::json state = client.Send({}).Json();
    EXPECT_NE(std::find(state["ports"].begin(), state["ports"].end(), kAdapter), state["ports"].end())
        << state["ports"].dump();
    const nlohmann::json unlisted = {{"kind", "ftdi"}, {"device", "SPITRANS=FTDI FTDISERIAL=ZEL999"}};
    EXPECT_EQ(post("/api/open", unlisted.dump()).status, 400) << "only an adapter the transport lists";
    const nlohmann::json open = {{"kind", "ftdi"}, {"device", kAdapter}, {"part", "24c02"}};
    const test::Reply opened = post("/api/open", open.dump());
    EXPECT_EQ(opened.status, 200) << opened.body;
    const std::vector<uint8_t> image = zeltest::RandomBytes(k24c02, 28);
    EXPECT_EQ(post("/api/write", AsString(image)).status, 202);
    EXPECT_EQ(events.UntilJobEnd().back()["event"], "result");
    EXPECT_EQ(post("/api/close", "").status, 200);
    app->Quit();
    server.join();
    app.reset();
    EXPECT_EQ(zeltest::ReadFile(Backing()), AsString(image));
    ExpectCleanBus(1);
}

} // namespace
