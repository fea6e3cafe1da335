// A scratch folder per test, and files put in and read out of it.
#pragma once

#include "support/test_data.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

class ImageFileTest : public testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / ("zel-image-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(folder_);
    }

    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string PathOf(const std::string &name) const { return (folder_ / name).string(); }

    // Writes `bytes` exactly as given, without line-end translation.
    std::string WriteBytes(const std::string &name, const std::string &bytes) const {
        std::ofstream(PathOf(name), std::ios::binary) << bytes;
        return PathOf(name);
    }

    // Reads a file in text mode, as the image file routines see it.
    static std::string ReadText(const std::string &path) { return zeltest::ReadFile(path, std::ios::in); }

    static std::vector<uint16_t> Erased(size_t words) { return std::vector<uint16_t>(words, 0xFFFF); }

    // Entries in the scratch folder: what a write left beside its target.
    std::ptrdiff_t FolderEntries() const {
        return std::distance(std::filesystem::directory_iterator(folder_), std::filesystem::directory_iterator());
    }

    std::filesystem::path folder_;
};
