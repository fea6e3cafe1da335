#include <gtest/gtest.h>

#include "thread/tls_names.h"

namespace zel {
namespace {

TEST(TlsNames, PrefixThenEightLowerCaseHexDigitsOfTheProcessId) {
    struct Case {
        const wchar_t *prefix;
        uint32_t processId;
        const wchar_t *name;
    };
    const Case cases[] = {
        {kTlsMutexPrefix, 1234, L"TLS Mutex 000004d2"},
        {kTlsMemoryPrefix, 1234, L"TLS Memory 000004d2"},
        {kTlsMutexPrefix, 0, L"TLS Mutex 00000000"},
        {kTlsMemoryPrefix, 0xABCDEF01u, L"TLS Memory abcdef01"},
        {kTlsMutexPrefix, 0xFFFFFFFFu, L"TLS Mutex ffffffff"},
    };
    for (const Case &c : cases) {
        const std::wstring name = TlsObjectName(c.prefix, c.processId);
        EXPECT_EQ(name, std::wstring(c.name)) << c.processId;
    }
    EXPECT_EQ(TlsObjectName(kTlsMutexPrefix, 1234).size(), 18u);
    EXPECT_EQ(TlsObjectName(kTlsMemoryPrefix, 1234).size(), 19u);
}

} // namespace
} // namespace zel
