// Thread-local slots: one value per thread under a slot index that every
// module of the process may use.
#pragma once

#include <cstdint>

namespace zel::platform {

// False when no slot is left.
bool AllocThreadSlot(uint32_t *slot);
// The calling thread's value in `slot`; null until the thread sets one.
void *GetThreadSlot(uint32_t slot);
void SetThreadSlot(uint32_t slot, void *value);

} // namespace zel::platform
