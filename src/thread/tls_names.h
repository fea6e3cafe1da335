// Names of the process-wide objects of the thread-exit registry.
#pragma once

#include <cstdint>
#include <string>

namespace zel {

inline constexpr const wchar_t *kTlsMutexPrefix = L"TLS Mutex ";
inline constexpr const wchar_t *kTlsMemoryPrefix = L"TLS Memory ";

// `prefix` followed by the process id as eight lower-case hex digits.
std::wstring TlsObjectName(const wchar_t *prefix, uint32_t processId);

} // namespace zel
