// zelGetVersion through the library as hosts load it.
#include "zelapi.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(GetVersion, CopiesVersionTextAndTerminator) {
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(zelGetVersion(buffer), 1);
    EXPECT_EQ(std::string(buffer, 5), std::string("2.1\0x", 5));
}

TEST(GetVersion, NullBufferStillSucceeds) { EXPECT_EQ(zelGetVersion(nullptr), 1); }

TEST(GetVersion, EveryCallReadsAfresh) {
    for (int i = 0; i < 3; ++i) {
        char buffer[16] = {};
        ASSERT_EQ(zelGetVersion(buffer), 1);
        EXPECT_STREQ(buffer, "2.1");
    }
}

} // namespace
