#include "platform/version_info.h"

#include <windows.h>

namespace zel::platform {

uint32_t VersionInfoSize(const char *fileName, uint32_t *handle) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(fileName, &ignored);
    if (handle)
        *handle = 0;
    return static_cast<uint32_t>(size);
}

int ReadVersionInfo(const char *fileName, uint32_t handle, uint32_t length, void *data) {
    return GetFileVersionInfoA(fileName, handle, length, data) ? 1 : 0;
}

int QueryVersionValue(void *block, const char *subBlock, void **value, unsigned *length) {
    UINT reported = 0;
    const BOOL found = VerQueryValueA(block, subBlock, value, &reported);
    *length = reported;
    return found ? 1 : 0;
}

} // namespace zel::platform
