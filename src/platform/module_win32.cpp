#include "platform/module.h"

#include <windows.h>

namespace zel::platform {

void *FindSiblingFunction(const void *anchor, const char *name) {
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!GetModuleHandleExW(flags, static_cast<LPCWSTR>(anchor), &module)) {
        return nullptr;
    }
    return reinterpret_cast<void *>(GetProcAddress(module, name));
}

} // namespace zel::platform
