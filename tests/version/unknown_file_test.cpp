// A file without version information gives an invalid reader and empty texts.
#include "version/version_info.h"

#include <gtest/gtest.h>

namespace {

TEST(VersionInfoOfUnknownFile, IsInvalidWithEmptyTexts) {
    zel::VersionInfo<std::string> info("NoSuchLibrary.dll");
    EXPECT_FALSE(info.Valid());
    EXPECT_EQ(info.InfoSize(), 0u);
    EXPECT_EQ(info.GetFileVersion(), "");
    unsigned count = 5;
    EXPECT_EQ(info.QueryTranslations(&count), nullptr);
    EXPECT_EQ(count, 0u);
}

} // namespace
