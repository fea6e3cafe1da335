#include "thread/tls_names.h"

#include <cwchar>

namespace zel {

std::wstring TlsObjectName(const wchar_t *prefix, uint32_t processId) {
    wchar_t name[64];
    // the "%s%08x" naming; %ls is the wide string conversion on every C library
    const int length =
        swprintf(name, sizeof name / sizeof name[0], L"%ls%08x", prefix, static_cast<unsigned>(processId));
    return length < 0 ? std::wstring() : std::wstring(name, static_cast<size_t>(length));
}

} // namespace zel
