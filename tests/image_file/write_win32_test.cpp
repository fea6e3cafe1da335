// A target that another process holds open, which only Windows refuses to
// replace.
#include "image_file_fixture.h"

#include "jobs/image_file.h"

#include <fstream>
#include <iterator>
#include <windows.h>

namespace {

TEST_F(ImageFileTest, RecordsEndWithTheTextLineEnd) {
    const std::string path = PathOf("out.hex");
    const std::vector<uint16_t> image = {0x0102, 0x0304};
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), image.data(), 4));
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "@0000  0102\r\n@0001  0304\r\n");
}

struct HeldCase {
    const char *name;
    DWORD sharing; // what the holder lets others do with the file
    bool written;  // in place; otherwise refused with the target as it was
};

void PrintTo(const HeldCase &c, std::ostream *out) { *out << c.name; }

class HeldTargetTest : public ImageFileTest, public testing::WithParamInterface<HeldCase> {};

TEST_P(HeldTargetTest, WrittenInPlaceWhereItMayBe) {
    const HeldCase &c = GetParam();
    const std::string path = WriteBytes("out.hex", "old contents\n");
    const HANDLE held =
        CreateFileA(path.c_str(), GENERIC_READ, c.sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const std::vector<uint16_t> image = {0x0102};
    testing::internal::CaptureStdout();
    const bool written = zel::WriteImageFile(path.c_str(), image.data(), 2);
    const std::string out = testing::internal::GetCapturedStdout();
    CloseHandle(held);

    EXPECT_EQ(written, c.written);
    EXPECT_EQ(out, c.written ? "" : "Couldn't open '" + path + "' for output\n");
    EXPECT_EQ(ReadText(path), c.written ? "@0000  0102\n" : "old contents\n");
    EXPECT_EQ(FolderEntries(), 1);
}

INSTANTIATE_TEST_SUITE_P(Sharing, HeldTargetTest,
                         testing::Values(HeldCase{"ReadAndWrite", FILE_SHARE_READ | FILE_SHARE_WRITE, true},
                                         HeldCase{"ReadOnly", FILE_SHARE_READ, false}),
                         [](const testing::TestParamInfo<HeldCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
