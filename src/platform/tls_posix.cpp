#include "platform/tls.h"

#include <pthread.h>

#include <type_traits>

namespace zel::platform {

// Substitute for TLS slots: pthread keys, which are process-wide indices like TlsAlloc's.
static_assert(std::is_integral_v<pthread_key_t> && sizeof(pthread_key_t) <= sizeof(uint32_t));

bool AllocThreadSlot(uint32_t *slot) {
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0)
        return false;
    *slot = static_cast<uint32_t>(key);
    return true;
}

void *GetThreadSlot(uint32_t slot) { return pthread_getspecific(static_cast<pthread_key_t>(slot)); }

void SetThreadSlot(uint32_t slot, void *value) { pthread_setspecific(static_cast<pthread_key_t>(slot), value); }

} // namespace zel::platform
