// Detection from bus reads on every part of the table, on the virtual target
// with its write-protect pin not wired: what it names, that no cell changes,
// and that no byte after a write-direction address is ended by a stop.
#include "core/detect.h"
#include "core/parts.h"
#include "support/test_data.h"

#include <zelapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace zelprog {
namespace {

namespace fs = std::filesystem;

// Parts whose reads look alike: the same size, address bytes, block bits and
// answering addresses (they differ in page, write cycle or factory IDs). The
// 24AA02 ID parts answer all eight addresses, as a Microchip 24C02 does.
const std::map<std::string, std::vector<std::string>> kReadAlike = {
    {"24c02", {"24c02", "24aa025e48", "24aa025uid"}},
    {"24aa025e48", {"24c02", "24aa025e48", "24aa025uid"}},
    {"24aa025uid", {"24c02", "24aa025e48", "24aa025uid"}},
    {"24aa02e48", {"24c02", "24aa02e48", "24aa02e64", "24aa02uid"}},
    {"24aa02e64", {"24c02", "24aa02e48", "24aa02e64", "24aa02uid"}},
    {"24aa02uid", {"24c02", "24aa02e48", "24aa02e64", "24aa02uid"}},
    {"24c64", {"24c64", "24c65"}},
    {"24c65", {"24c64", "24c65"}},
    {"24c256", {"24c256", "24aa256uid"}},
    {"24aa256uid", {"24c256", "24aa256uid"}},
    {"24c1024", {"24c1024", "24c1026"}},
    {"24c1026", {"24c1024", "24c1026"}},
};

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// The transactions of the bus log in which a stop ends a write-direction
// transfer that carried any byte after its device address.
std::vector<std::string> StopsAfterSentBytes(const std::string &log, int &repeatedStarts) {
    std::vector<std::string> bad;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string word;
        bool writing = false, expectDevice = false;
        int sent = 0;
        while (words >> word) {
            if (word == "S" || word == "Sr") {
                repeatedStarts += word == "Sr";
                expectDevice = true;
                sent = 0;
            } else if (expectDevice && word.size() == 2 && std::isxdigit(static_cast<unsigned char>(word[0]))) {
                expectDevice = false;
                words >> word;
                writing = word == "W";
            } else if (word == "P" && writing && sent > 0) {
                bad.push_back(line);
            } else if (word.size() == 2 && std::isxdigit(static_cast<unsigned char>(word[0]))) {
                ++sent;
            }
        }
    }
    return bad;
}

TEST(Detect, EveryPartFilledOrErasedIsNamedWithoutAWriteOrAStopAfterSentBytes) {
    const fs::path dir = fs::temp_directory_path() / ("zelprog-detect-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    unsigned index = 0;
    for (const PartGeometry &part : KnownParts()) {
        for (bool erased : {false, true}) {
            const unsigned pins = index++ % 8;
            SCOPED_TRACE(part.name + (erased ? " erased" : " random") + " pins " + std::to_string(pins));
            const std::size_t bytes = std::size_t{1} << part.sizeBits;
            const std::vector<uint8_t> cells =
                erased ? std::vector<uint8_t>(bytes, 0xFF) : zeltest::RandomBytes(bytes, 1000 + index);
            const fs::path file = dir / (part.name + ".bin"), log = dir / (part.name + ".log");
            std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char *>(cells.data()), bytes);
            // both ways of sending: a batch per transaction, and access by access
            zelSetBatching(erased ? 0 : 1);
            const std::string link = "SIMPART=" + part.name +
                                     " SIMWP=off SIMTWR=0 SIMADDR=" + std::to_string(pins) + " SIMFILE=\"" +
                                     file.string() + "\" SIMLOG=\"" + log.string() + "\"";
            ASSERT_EQ(zelInitTrans(link.c_str(), 0, 0, 0), 1);
            Detection d;
            const bool read = Detect(d);
            zelClose();
            ASSERT_TRUE(read);

            const auto alike = kReadAlike.find(part.name);
            if (erased) {
                EXPECT_NE(std::find(d.candidates.begin(), d.candidates.end(), part.name), d.candidates.end());
                EXPECT_EQ(d.bytes, 0u);
                EXPECT_FALSE(d.sure);
                EXPECT_NE(d.note.find("check-size"), std::string::npos) << d.note;
            } else {
                EXPECT_EQ(Sorted(d.candidates),
                          alike == kReadAlike.end() ? std::vector<std::string>{part.name} : Sorted(alike->second));
                EXPECT_EQ(d.sure, alike == kReadAlike.end());
                EXPECT_EQ(d.bytes, bytes);
                EXPECT_EQ(d.addressBytes, part.addressBytes);
            }
            EXPECT_TRUE(zeltest::ReadFile(file) == std::string(cells.begin(), cells.end())) << "a cell changed";
            int repeatedStarts = 0;
            EXPECT_EQ(StopsAfterSentBytes(zeltest::ReadFile(log), repeatedStarts), std::vector<std::string>{});
            EXPECT_GT(repeatedStarts, 0);
        }
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}

} // namespace
} // namespace zelprog
