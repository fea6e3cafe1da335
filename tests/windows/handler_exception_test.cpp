// A host built apart from zelapi.dll, whose handler throws: the exception
// leaves the host's code, is caught inside the DLL, and the job ends with
// result 0, as when host and library are one program. Unwinding has to cross from
// one module into the other, which on 32-bit Windows (DWARF-2 tables) only
// works when both use the one shared unwinder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "zelapi.h"

namespace {

enum class Throw { Progress, State, Result };

class ThrowingHandler : public ZelHandler {
public:
    explicit ThrowingHandler(Throw at) : at_(at) {}
    void OnProgressChange(int) override { Maybe(Throw::Progress); }
    void OnStateChange(const char *) override { Maybe(Throw::State); }
    void OnResult(int result) override {
        if (result == 1) {
            Maybe(Throw::Result);
        }
    }
    bool thrown = false;

private:
    void Maybe(Throw here) {
        if (here == at_ && !thrown) {
            thrown = true;
            throw std::runtime_error("host handler failure");
        }
    }
    Throw at_;
};

std::string TempFile(const char *name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name + std::to_string(GetCurrentProcessId());
}

struct ThrowCase {
    const char *name;
    Throw at;
    bool blocking;
};

class HostHandlerThrows : public testing::TestWithParam<ThrowCase> {
protected:
    void SetUp() override {
        backing_ = TempFile("zel-throw-eeprom");
        image_ = TempFile("zel-throw-image");
        const std::string config = "SIMPART=24C02 SIMTWR=0 SIMFILE=\"" + backing_ + "\"";
        ASSERT_EQ(zelInitTrans(config.c_str(), 0, 8, 0), 1);
        FILE *file = std::fopen(image_.c_str(), "w");
        ASSERT_NE(file, nullptr);
        for (int word = 0; word < 128; ++word) {
            std::fprintf(file, "@%04x  ffff\n", word);
        }
        std::fclose(file);
    }
    void TearDown() override {
        SetZelHandler(nullptr);
        zelClose();
        DeleteFileA(backing_.c_str());
        DeleteFileA(image_.c_str());
    }
    int RunVerify(bool blocking) {
        const int returned = zelVerify(image_.c_str(), blocking ? 1 : 0);
        while (zelIsBusy() == 1) {
            Sleep(1);
        }
        return returned;
    }
    std::string backing_;
    std::string image_;
};

TEST_P(HostHandlerThrows, IsCaughtInTheDllAndTheNextJobRuns) {
    const ThrowCase &c = GetParam();
    ThrowingHandler handler(c.at);
    SetZelHandler(&handler);

    const int returned = RunVerify(c.blocking);

    EXPECT_TRUE(handler.thrown);
    // caught, and the job's result stays what the job did: the image matches
    EXPECT_EQ(returned, 1);
    EXPECT_EQ(zelGetResult(), 1);
    SetZelHandler(nullptr);
    EXPECT_EQ(RunVerify(true), 1);
    EXPECT_EQ(zelGetResult(), 1);
}

const ThrowCase kCases[] = {
    {"ProgressBlocking", Throw::Progress, true}, {"StateBlocking", Throw::State, true},
    {"ResultBlocking", Throw::Result, true},     {"ProgressBackground", Throw::Progress, false},
    {"ResultBackground", Throw::Result, false},
};

INSTANTIATE_TEST_SUITE_P(EveryCallback, HostHandlerThrows, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ThrowCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
