#include "platform/tls.h"

#include <windows.h>

namespace zel::platform {

bool AllocThreadSlot(uint32_t *slot) {
    const DWORD index = TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES)
        return false;
    *slot = index;
    return true;
}

void *GetThreadSlot(uint32_t slot) { return TlsGetValue(slot); }

void SetThreadSlot(uint32_t slot, void *value) { TlsSetValue(slot, value); }

} // namespace zel::platform
