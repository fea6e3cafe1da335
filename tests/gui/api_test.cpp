// The GUI server in this process, on a free port, driven through its HTTP
// API as the page drives it; the EEPROM is the virtual target, whose backing
// files lie in a state folder of the test's own.
#include "gui/client.h"
#include "support/test_data.h"
#include "zelprog/process.h"

#include "formats/image.h"
#include "formats/image_format.h"
#include "gui/gui.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace zelprog::gui::test {
namespace {

namespace fs = std::filesystem;
using zelprog::test::ProcessResult;
using zelprog::test::RunProcess;
using zelprog::test::SetEnv;
using zeltest::RandomBytes;
using zeltest::ReadFile;

constexpr std::size_t k24c02 = 256;

std::string AsString(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

class GuiApi : public testing::Test {
protected:
    void SetUp() override {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("zelprog-gui-" + std::string(info->name()) + "-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_ / "zelprog");
        SetEnv("XDG_STATE_HOME", dir_.string());
        SetEnv("LOCALAPPDATA", dir_.string()); // the state folder on Windows
        Start({});
    }

    void TearDown() override {
        Stop();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    void Start(const GuiOptions &options) {
        app_ = std::make_unique<App>(options);
        client_ = std::make_unique<Client>(app_->Port(), app_->Token());
        thread_ = std::thread([this] { app_->Run(); });
    }

    void Stop() {
        app_->Quit();
        thread_.join();
        app_.reset();
    }

    // The backing file that zelprog keeps for the part.
    std::string Backing(const std::string &part = "24c02") const {
        return (dir_ / "zelprog" / ("eeprom-" + part + ".bin")).string();
    }

    std::string CliConfig(const std::string &part, const std::string &file) const {
        return "SIMPART=" + part + " SIMFILE=\"" + file + "\" SIMTWR=0";
    }

    void WriteFile(const std::string &path, const std::string &data) const {
        std::ofstream(path, std::ios::binary) << data;
    }

    Reply Post(const std::string &target, const std::string &body = "", const std::string &page = "") const {
        return client_->Send({http::verb::post, target, body, {{"X-Zel-Page", page.empty() ? page_ : page}}});
    }

    // Takes control with an event stream and opens the 24C02 through a
    // configuration string.
    void OpenDevice(const std::string &config = "SIMPART=24c02 SIMTWR=0", int pageSize = -1) {
        events_ = std::make_unique<EventStream>(*client_);
        const nlohmann::ordered_json hello = events_->Next();
        ASSERT_EQ(hello["event"], "hello");
        ASSERT_TRUE(hello["control"].get<bool>());
        page_ = hello["page"];
        const nlohmann::json open = {
            {"kind", "config"}, {"config", config}, {"part", "24c02"}, {"pageSize", pageSize}};
        const Reply reply = Post("/api/open", open.dump());
        ASSERT_EQ(reply.status, 200) << reply.body;
        ASSERT_EQ(reply.Json()["link"]["bytes"], k24c02);
    }

    // Starts a job and returns its events up to its end.
    std::vector<nlohmann::ordered_json> Job(const std::string &target, const std::string &body = "") {
        const Reply reply = Post(target, body);
        EXPECT_EQ(reply.status, 202) << reply.body;
        if (reply.status != 202)
            return {};
        return events_->UntilJobEnd();
    }

    // Closes the link, so that the backing file is free to read.
    std::string ChipFile(const std::string &file) {
        EXPECT_EQ(Post("/api/close").status, 200);
        return ReadFile(file);
    }

    fs::path dir_;
    std::unique_ptr<App> app_;
    std::unique_ptr<Client> client_;
    std::thread thread_;
    std::unique_ptr<EventStream> events_;
    std::string page_;
};

struct Screening {
    const char *name;
    Call call;
    int status;
};

TEST_F(GuiApi, OnlyThisRunsPageGetsIn) {
    const std::string port = std::to_string(client_->Port());
    const std::string wrongToken = "zelprog-" + port + "=" + std::string(32, '0');
    const std::vector<Screening> cases = {
        {"the cookie", {http::verb::get, "/api/state", "", {}}, 200},
        {"localhost by name", {http::verb::get, "/api/state", "", {{"Host", "localhost:" + port}}}, 200},
        {"the page itself", {http::verb::get, "/", "", {}}, 200},
        {"no token", {http::verb::get, "/api/state", "", {{"Cookie", ""}}}, 403},
        {"wrong token", {http::verb::get, "/api/state", "", {{"Cookie", wrongToken}}}, 403},
        {"another port's cookie",
         {http::verb::get, "/api/state", "", {{"Cookie", "zelprog-1=" + app_->Token()}}},
         403},
        {"wrong token in the URL",
         {http::verb::get, "/?token=" + std::string(32, 'a'), "", {{"Cookie", ""}}},
         403},
        {"page without token", {http::verb::get, "/", "", {{"Cookie", ""}}}, 403},
        {"foreign host", {http::verb::get, "/api/state", "", {{"Host", "evil.example:" + port}}}, 403},
        {"host without port", {http::verb::get, "/api/state", "", {{"Host", "127.0.0.1"}}}, 403},
        {"no host", {http::verb::get, "/api/state", "", {{"Host", ""}}}, 403},
        {"foreign origin", {http::verb::get, "/api/state", "", {{"Origin", "http://evil.example"}}}, 403},
        {"origin of another port", {http::verb::get, "/api/state", "", {{"Origin", "http://127.0.0.1:1"}}}, 403},
        {"own origin", {http::verb::get, "/api/state", "", {{"Origin", "http://127.0.0.1:" + port}}}, 200},
        {"foreign origin posting", {http::verb::post, "/api/close", "", {{"Origin", "http://evil.example"}}}, 403},
        {"a path on the disk", {http::verb::get, "/../../../../etc/passwd", "", {}}, 404},
        {"a dotted asset path", {http::verb::get, "/js/../index.html", "", {}}, 404},
        {"control without the page", {http::verb::post, "/api/close", "", {}}, 409},
        {"unknown format", {http::verb::post, "/api/decode?format=elf&size=256", "x", {}}, 400},
        {"odd size", {http::verb::post, "/api/decode?format=bin&size=300", "x", {}}, 400},
    };
    for (const Screening &c : cases) {
        SCOPED_TRACE(c.name);
        const Reply reply = client_->Send(c.call);
        EXPECT_EQ(reply.status, c.status) << reply.body;
        if (reply.status >= 400) {
            EXPECT_TRUE(reply.Json().contains("error")) << "every refusal says why: " << reply.body;
        }
    }
}

TEST_F(GuiApi, TheTokenAddressSetsAStrictCookieAndLeavesTheUrl) {
    const Reply reply = client_->Send({http::verb::get, "/?token=" + app_->Token(), "", {{"Cookie", ""}}});
    EXPECT_EQ(reply.status, 303);
    EXPECT_EQ(reply.headers.at("Location"), "/");
    const std::string cookie = reply.headers.at("Set-Cookie");
    EXPECT_EQ(cookie.rfind(client_->Cookie() + ";", 0), 0u) << cookie;
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos) << cookie;
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos) << cookie;
    EXPECT_EQ(app_->Token().size(), 32u) << "128 bits as hex digits";
}

TEST_F(GuiApi, MalformedOrOversizedRequestsGetAnAnswerThatSaysWhy) {
    const std::string head = "POST /api/decode?format=bin&size=256 HTTP/1.1\r\nHost: " + client_->Host() +
                             "\r\nCookie: " + client_->Cookie() + "\r\n";
    const std::vector<std::pair<std::string, int>> cases = {
        {"NOT-HTTP\r\n\r\n", 400},
        {head + "Content-Length: x\r\n\r\n", 400},
        {head + "Content-Length: " + std::to_string(5u << 20) + "\r\n\r\n", 413}, // refused before the body
        {"GET /api/state HTTP/1.1\r\nHost: " + client_->Host() + "\r\nX: " + std::string(20000, 'a') + "\r\n\r\n",
         413},
    };
    for (const auto &[raw, status] : cases) {
        SCOPED_TRACE(raw.substr(0, 60));
        const Reply reply = client_->SendRaw(raw);
        EXPECT_EQ(reply.status, status) << reply.body;
        EXPECT_TRUE(reply.Json().contains("error"));
    }
}

TEST_F(GuiApi, ABrokenIntelHexUploadNamesItsLineAndChangesNothing) {
    const Bytes before = RandomBytes(k24c02, 3);
    WriteFile(Backing(), AsString(before));
    OpenDevice();
    std::string hex = EncodeImage(ImageFormat::IntelHex, RandomBytes(k24c02, 4));
    const std::size_t third = hex.find('\n', hex.find('\n') + 1) + 1;
    hex[third + 9] = 'G'; // a data digit of the third record
    const Reply reply = Post("/api/decode?format=ihex", hex);
    EXPECT_EQ(reply.status, 400) << reply.body;
    EXPECT_NE(reply.Json()["error"].get<std::string>().find("line 3"), std::string::npos) << reply.body;
    EXPECT_EQ(ChipFile(Backing()), AsString(before));
}

TEST_F(GuiApi, EveryImageFormatRoundTripsThroughEncodeAndDecode) {
    const Bytes image = RandomBytes(k24c02, 6);
    for (const char *name : {"text", "bin", "ihex", "srec"}) {
        SCOPED_TRACE(name);
        const Reply encoded = Post(std::string("/api/encode?format=") + name, AsString(image));
        ASSERT_EQ(encoded.status, 200) << encoded.body;
        const Reply decoded = Post(std::string("/api/decode?format=") + name + "&size=256", encoded.body);
        ASSERT_EQ(decoded.status, 200) << decoded.body;
        EXPECT_EQ(decoded.body, AsString(image));
    }
}

TEST_F(GuiApi, WriteVerifyAndReadThroughTheApi) {
    OpenDevice();
    const Bytes image = RandomBytes(k24c02, 5);
    const auto write = Job("/api/write", AsString(image));
    ASSERT_FALSE(write.empty());
    EXPECT_EQ(write.back()["event"], "result") << write.back().dump();
    EXPECT_EQ(write.back()["command"], "program");

    EXPECT_EQ(Job("/api/verify", AsString(image)).back()["event"], "result");
    Bytes other = image;
    other[0x11] ^= 0xFF;
    const auto mismatch = Job("/api/verify", AsString(other));
    ASSERT_FALSE(mismatch.empty());
    EXPECT_EQ(mismatch.back()["event"], "error");
    std::vector<nlohmann::json> messages;
    for (const auto &e : mismatch)
        if (e["event"] == "message")
            messages.push_back(e);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0]["address"], 0x11) << "by its byte address: " << messages[0].dump();
    EXPECT_EQ(messages[0]["expected"], other[0x11]);
    EXPECT_EQ(messages[0]["read"], image[0x11]);

    EXPECT_EQ(Job("/api/read").back()["event"], "result");
    const Reply chip = client_->Send({http::verb::get, "/api/chip", "", {}});
    EXPECT_EQ(chip.status, 200);
    EXPECT_EQ(chip.body, AsString(image));
    EXPECT_EQ(ChipFile(Backing()), AsString(image));
}

TEST_F(GuiApi, ASecondPageIsToldTheEepromIsInUse) {
    OpenDevice();
    EventStream second(*client_);
    const nlohmann::ordered_json hello = second.Next();
    EXPECT_FALSE(hello["control"].get<bool>());
    EXPECT_NE(hello["text"].get<std::string>().find("in use"), std::string::npos);
    const Reply refused = Post("/api/read", "", "not-the-page");
    EXPECT_EQ(refused.status, 409) << refused.body;
    EXPECT_EQ(Post("/api/read").status, 202) << "the first page keeps control";
    events_->UntilJobEnd();
}

TEST_F(GuiApi, BadJobRequestsAreRefusedAndChangeNothing) {
    OpenDevice();
    EXPECT_EQ(Post("/api/write", std::string(10, 'x')).status, 400) << "an image of the wrong size";
    EXPECT_EQ(Post("/api/erase?fill=300").status, 400);
    EXPECT_EQ(ChipFile(Backing()), std::string(k24c02, '\xff'));
}

// Events without the measured rate and time left, which differ run by run.
std::vector<nlohmann::ordered_json> WithoutTimes(std::vector<nlohmann::ordered_json> events) {
    for (auto &e : events) {
        e.erase("bytesPerSecond");
        e.erase("secondsLeft");
    }
    return events;
}

struct SameJob {
    const char *name;
    const char *target;           // the GUI's request
    std::vector<std::string> cli; // the command line's command and its arguments
};

TEST_F(GuiApi, AJobsEventStreamIsTheJsonOfTheCommandLine) {
    const Bytes image = RandomBytes(k24c02, 9);
    const std::string file = (dir_ / "image.bin").string();
    WriteFile(file, AsString(image));
    const std::vector<SameJob> jobs = {
        {"write", "/api/write", {"program", file}},
        {"read", "/api/read", {"dump", (dir_ / "out.bin").string()}},
        {"verify", "/api/verify", {"verify", file}},
    };
    OpenDevice();
    for (const SameJob &job : jobs) {
        SCOPED_TRACE(job.name);
        std::vector<std::string> args = {
            ZELPROG_PATH, "--json", "--all", "--link", CliConfig("24c02", (dir_ / "cli.bin").string()),
            "--part",     "24c02"};
        args.insert(args.end(), job.cli.begin(), job.cli.end());
        const ProcessResult cli = RunProcess(args);
        ASSERT_EQ(cli.exitCode, 0) << cli.err;
        std::vector<nlohmann::ordered_json> expected;
        std::istringstream lines(cli.out);
        for (std::string line; std::getline(lines, line);)
            expected.push_back(nlohmann::ordered_json::parse(line));

        const auto streamed = Job(job.target, std::string(job.target) == "/api/read" ? "" : AsString(image));
        ASSERT_GT(streamed.size(), 3u);
        EXPECT_EQ(WithoutTimes(streamed), WithoutTimes(expected));
        for (std::size_t i = 0; i < std::min(streamed.size(), expected.size()); ++i)
            EXPECT_EQ(streamed[i].dump().substr(0, 20), expected[i].dump().substr(0, 20))
                << "keys in the same order";
    }
}

struct RefusedConfig {
    const char *name;
    std::string config;
    const char *reason; // part of the refusal's text
};

TEST_F(GuiApi, APageConfigurationThatNamesAFileOrAKeyNotListedIsRefused) {
    const std::string victim = (dir_ / "victim.bin").string();
    const std::string trace = (dir_ / "trace.txt").string();
    WriteFile(victim, std::string(128, 'v'));
    const std::vector<RefusedConfig> cases = {
        {"the backing file", "SIMPART=24C01 SIMFILE=" + victim, "SIMFILE is not taken from the page"},
        {"in lower case", "simpart=24c01 simfile=\"" + victim + "\"", "SIMFILE is not taken"},
        {"a transaction log", "SIMPART=24c02 SIMLOG=" + trace, "traces are asked for on the command line"},
        {"a waveform", "SIMVCD=" + trace, "traces are asked for on the command line"},
        {"a key not listed", "SIMPART=24c02 SIMFUTURE=1", "'SIMFUTURE' is not one the page may set"},
        {"a quoted key", "\"SIMFILE\"=" + victim, "is not one the page may set"},
        {"a key given twice", "SIMPART=24c02 SIMPART=24c01", "SIMPART is given twice"},
        {"a part that names a path", "SIMPART=../../victim", "unknown part"},
        {"an open quote", "SIMPART=\"24c02 SIMFILE=" + victim, "not closed"},
        {"a control character", std::string("SIMTWR=0\v") + "SIMFILE=" + victim, "control character"},
        {"a word without a key", "=24c02", "is not KEY=VALUE"},
    };
    OpenDevice();
    for (const RefusedConfig &c : cases) {
        SCOPED_TRACE(c.name);
        const nlohmann::json open = {{"kind", "config"}, {"config", c.config}, {"part", "24c01"}};
        const Reply reply = Post("/api/open", open.dump());
        EXPECT_EQ(reply.status, 400) << reply.body;
        EXPECT_NE(reply.Json().value("error", "").find(c.reason), std::string::npos) << reply.body;
    }
    EXPECT_EQ(ReadFile(victim), std::string(128, 'v'));
    EXPECT_FALSE(fs::exists(trace));
    EXPECT_TRUE(client_->Send({}).Json()["open"].get<bool>()) << "the link open before stays open";
}

TEST_F(GuiApi, TheLinkGivenOnTheCommandLineMayNameFilesAndTraces) {
    Stop();
    const std::string file = (dir_ / "bench.bin").string(), trace = (dir_ / "bus.txt").string();
    GuiOptions options;
    options.link = "SIMPART=24c02 SIMTWR=0 SIMFILE=\"" + file + "\" SIMLOG=\"" + trace + "\"";
    Start(options);
    EXPECT_EQ(client_->Send({}).Json()["commandLink"], options.link);
    events_ = std::make_unique<EventStream>(*client_);
    page_ = events_->Next()["page"];
    const Reply opened = Post("/api/open", nlohmann::json{{"kind", "command"}, {"part", "24c02"}}.dump());
    ASSERT_EQ(opened.status, 200) << opened.body;
    const Bytes image = RandomBytes(k24c02, 8);
    EXPECT_EQ(Job("/api/write", AsString(image)).back()["event"], "result");
    EXPECT_EQ(ChipFile(file), AsString(image));
    EXPECT_GT(fs::file_size(trace), 0u);
}

// Opened as a 24C02, the target is a 24C16: detect goes by the bus reads.
TEST_F(GuiApi, DetectTellsWhatTheReadsShowAndWritesNothing) {
    Stop();
    const std::string file = (dir_ / "unit.bin").string();
    const Bytes cells = RandomBytes(2048, 9);
    WriteFile(file, AsString(cells));
    GuiOptions options;
    options.link = "SIMPART=24c16 SIMWP=off SIMFILE=\"" + file + "\"";
    Start(options);
    events_ = std::make_unique<EventStream>(*client_);
    page_ = events_->Next()["page"];
    ASSERT_EQ(Post("/api/open", nlohmann::json{{"kind", "command"}, {"part", "24c02"}}.dump()).status, 200);
    const auto events = Job("/api/detect");
    ASSERT_GE(events.size(), 2u);
    const auto &found = events[events.size() - 2];
    EXPECT_EQ(found["event"], "detect") << found.dump();
    EXPECT_EQ(found["bytes"], 2048);
    EXPECT_EQ(found["candidates"], nlohmann::json::array({"24c16"}));
    EXPECT_EQ(events.back()["event"], "result");
    EXPECT_EQ(ChipFile(file), AsString(cells));
}

// A Write that runs long enough for the requests below to reach it: byte
// writes with a write cycle of 2 ms, 256 of them.
TEST_F(GuiApi, RequestsRefusedDuringAJobChangeNeitherItsImageNorTheLink) {
    OpenDevice("SIMPART=24c02 SIMTWR=2", 0);
    const Bytes image(k24c02, 0x11);
    const std::string other(k24c02, '\x22');
    const nlohmann::json reopen = {{"kind", "config"}, {"config", "SIMPART=24c01"}, {"part", "24c01"}};
    ASSERT_EQ(Post("/api/write", AsString(image)).status, 202);
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"/api/verify", other},    {"/api/write", other},        {"/api/read", ""},
        {"/api/erase?fill=0", ""}, {"/api/check-size", ""},      {"/api/write-header", ""},
        {"/api/close", ""},        {"/api/open", reopen.dump()}, {"/api/detect", ""},
    };
    for (const auto &[target, body] : refused) {
        SCOPED_TRACE(target);
        const Reply reply = Post(target, body);
        EXPECT_EQ(reply.status, 400) << reply.body;
        EXPECT_NE(reply.Json().value("error", "").find("a job is running"), std::string::npos) << reply.body;
    }
    const auto events = events_->UntilJobEnd();
    ASSERT_EQ(events.back()["event"], "result") << events.back().dump();
    EXPECT_EQ(client_->Send({http::verb::get, "/api/chip", "", {}}).body, AsString(image))
        << "what the page compares with";
    EXPECT_EQ(Job("/api/verify", AsString(image)).back()["event"], "result");
    EXPECT_EQ(ChipFile(Backing()), AsString(image));
}

TEST_F(GuiApi, ConnectionsBeyondTheBoundAreRefusedAtOnceAndIdleOnesClosed) {
    Stop();
    GuiOptions options;
    options.limits.maxConnections = 4;
    options.limits.idleTimeout = std::chrono::milliseconds(300);
    Start(options);
    boost::asio::io_context io;
    std::vector<boost::asio::ip::tcp::socket> idle;
    for (int i = 0; i < 5; ++i) {
        idle.emplace_back(io);
        idle.back().connect({boost::asio::ip::address_v4::loopback(), client_->Port()});
    }
    char byte = 0;
    boost::system::error_code ec;
    EXPECT_EQ(idle[4].read_some(boost::asio::buffer(&byte, 1), ec), 0u);
    EXPECT_EQ(ec, boost::asio::error::eof) << "the fifth is closed as it comes";
    EXPECT_EQ(idle[0].available(ec), 0u);
    idle[0].non_blocking(true);
    idle[0].read_some(boost::asio::buffer(&byte, 1), ec);
    EXPECT_EQ(ec, boost::asio::error::would_block) << "the first four are still open";
    for (int i = 0; i < 4; ++i) {
        idle[i].non_blocking(false);
        idle[i].read_some(boost::asio::buffer(&byte, 1), ec);
        EXPECT_EQ(ec, boost::asio::error::eof) << "an idle connection is closed by the server";
    }
    EXPECT_EQ(client_->Send({}).status, 200);
}

#ifndef _WIN32
// Sockets made before the limit comes down hold every descriptor below it;
// connected after, they wait in the listen queue while the server can take
// none. An answer on a connection made before shows that the server has
// seen them. Once they are gone the server must take the page's requests again.
TEST_F(GuiApi, TwoHundredIdleConnectionsUnderALimitOf64DescriptorsLeaveThePageWorking) {
    namespace asio = boost::asio;
    asio::io_context io;
    asio::ip::tcp::socket probe(io);
    probe.connect({asio::ip::address_v4::loopback(), client_->Port()});
    boost::beast::flat_buffer buffer;
    const auto answered = [&] {
        http::request<http::empty_body> state{http::verb::get, "/api/state", 11};
        state.set(http::field::host, client_->Host());
        state.set(http::field::cookie, client_->Cookie());
        http::write(probe, state);
        http::response<http::string_body> answer;
        http::read(probe, buffer, answer);
        return answer.result_int() == 200;
    };
    ASSERT_TRUE(answered()) << "the probe's connection is taken while descriptors are left";
    std::vector<asio::ip::tcp::socket> flood;
    for (int i = 0; i < 200; ++i)
        flood.emplace_back(io, asio::ip::tcp::v4());
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    for (auto &socket : flood)
        socket.connect({asio::ip::address_v4::loopback(), client_->Port()});
    ASSERT_TRUE(answered());
    flood.clear();
    EXPECT_EQ(client_->Send({}).status, 200);
    OpenDevice();
    EXPECT_EQ(Job("/api/read").back()["event"], "result");
}

// The browser is started by a stand-in for xdg-open that records what it
// was given: the command line holds a file's path, never the token, and
// the file is this user's alone.
TEST_F(GuiApi, TheBrowserIsOpenedOnAPrivateFileAndTheTokenStandsOnNoCommandLine) {
    const fs::path bin = dir_ / "bin", run = dir_ / "run", record = dir_ / "opened.txt";
    fs::create_directories(bin);
    fs::create_directories(run);
    WriteFile((bin / "xdg-open").string(),
              "#!/bin/sh\n{ printf '%s\\n' \"$@\"; stat -c '%a' \"$1\"; cat \"$1\"; } > '" + record.string() +
                  "'\necho 'the opener ran' >&2\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    SetEnv("PATH", bin.string() + ":" + std::getenv("PATH"));
    SetEnv("XDG_RUNTIME_DIR", run.string());
    const ProcessResult gui = zelprog::test::RunAndInterrupt({ZELPROG_PATH, "gui"}, "the opener ran");
    ASSERT_EQ(gui.exitCode, 0) << gui.err;
    const std::string url = gui.out.substr(0, gui.out.find('\n'));
    const std::string token = url.substr(url.find("token=") + 6);
    ASSERT_EQ(token.size(), 32u) << url;
    std::istringstream opened(ReadFile(record.string()));
    std::string argument, mode;
    std::getline(opened, argument);
    std::getline(opened, mode);
    EXPECT_EQ(argument.find(token), std::string::npos) << argument;
    EXPECT_EQ(fs::path(argument).parent_path(), run / "zelprog");
    EXPECT_EQ(mode, "600");
    EXPECT_NE(ReadFile(record.string()).find("url=" + url + "\""), std::string::npos)
        << "the file sends the browser on";
    EXPECT_FALSE(fs::exists(argument)) << "removed when the server ends";
}
#endif

} // namespace
} // namespace zelprog::gui::test
