// The fixture of zelprog's end-to-end tests: the built tool against the
// virtual target, each test with its own state directory (so its own
// backing files) and temporary files.
#pragma once

#include "formats/image.h"
#include "process.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace zelprog::test {

namespace fs = std::filesystem;

inline constexpr std::size_t k24c02 = 256;
inline constexpr const char *kFastWrites = "SIMTWR=1"; // write cycles of 1 ms keep the tests short

using zeltest::RandomBytes;

inline std::string AsString(const Bytes &bytes) { return std::string(bytes.begin(), bytes.end()); }

inline std::size_t CountOf(const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Where the production tests put a unit's serial number (4 bytes, le).
inline constexpr std::size_t kSerialAt = 0x20;

// The serial number a unit's backing file holds; none when the file is
// shorter or those cells are erased.
inline std::optional<uint64_t> SerialIn(const std::string &file) {
    const std::string cells = zeltest::ReadFile(file);
    if (cells.size() < kSerialAt + 4)
        return std::nullopt;
    uint64_t n = 0;
    for (int i = 3; i >= 0; --i)
        n = n << 8 | static_cast<uint8_t>(cells[kSerialAt + static_cast<std::size_t>(i)]);
    return n == 0xFFFFFFFF ? std::nullopt : std::optional<uint64_t>(n);
}

// Each number of a counter's log with its fates in order: "written",
// "given" (back), "lost".
inline std::map<uint64_t, std::vector<std::string>> LogFates(const std::string &counter) {
    std::ifstream in(counter + ".log");
    std::map<uint64_t, std::vector<std::string>> fates;
    std::string time, fate, rest;
    uint64_t number = 0;
    while (in >> time >> number >> fate) {
        std::getline(in, rest);
        fates[number].push_back(fate.substr(0, fate.find(':')));
    }
    return fates;
}

class ZelprogCli : public testing::Test {
protected:
    void SetUp() override {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("zelprog-cli-" + std::string(info->name()) + "-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
        state_ = dir_ / "state";
        SetEnv("XDG_STATE_HOME", state_.string());
        SetEnv("LOCALAPPDATA", state_.string());
        SetEnv("HOPLINK_SIM", kFastWrites);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    ProcessResult Zel(std::vector<std::string> args, const std::string &input = "") {
        args.insert(args.begin(), ZELPROG_PATH);
        return RunProcess(args, input);
    }
    std::string Path(const std::string &name) const { return (dir_ / name).string(); }
    std::string BackingFile(const std::string &part) const {
        return (state_ / "zelprog" / ("eeprom-" + part + ".bin")).string();
    }
    void Write(const std::string &name, const std::string &data) const {
        std::ofstream(dir_ / name, std::ios::binary) << data;
    }
    std::string ReadBacking(const std::string &part) const { return zeltest::ReadFile(BackingFile(part)); }
    std::string Read(const std::string &name) const { return zeltest::ReadFile(dir_ / name); }

    fs::path dir_, state_;
};

} // namespace zelprog::test
