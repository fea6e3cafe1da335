// A scratch folder per test and helpers to put text into files and get it out.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

class ImageFileTest : public testing::Test {
protected:
    void SetUp() override {
        const auto *info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char &c : name)
            if (c == '/')
                c = '_';
        folder_ = std::filesystem::temp_directory_path() /
                  ("zel-" + name + "-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(folder_);
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::string PathOf(const std::string &name) const { return (folder_ / name).string(); }

    // Writes `bytes` exactly as given (no line-end translation).
    std::string WriteBytes(const std::string &name, const std::string &bytes) const {
        const std::string path = PathOf(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Reads a file in text mode, as the image file routines see it.
    static std::string ReadText(const std::string &path) {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static std::vector<uint16_t> Erased(size_t words) { return std::vector<uint16_t>(words, 0xFFFF); }

    std::filesystem::path folder_;
};
