// Named objects of this process: a mutex and a zero-filled memory block that
// every module of the process finds under the same name.
#pragma once

#include <cstddef>

namespace zel::platform {

struct NamedMutex;

// Creates the mutex or opens the existing one; not owned afterwards. Null on failure.
NamedMutex *OpenNamedMutex(const wchar_t *name);
// Waits without limit; false when the wait fails. The owning thread may take it again.
bool LockNamedMutex(NamedMutex *mutex);
// Takes the mutex only if no other thread holds it; false when one does.
bool TryLockNamedMutex(NamedMutex *mutex);
void UnlockNamedMutex(NamedMutex *mutex);
void CloseNamedMutex(NamedMutex *mutex);

struct NamedBlock {
    void *handle; // the object; stays open for the life of the process
    void *view;   // this module's writable view of the whole block
    bool existed; // the block had been made before this open
};

// Creates the block of `size` bytes (zero-filled) or opens the existing one,
// and maps a writable view of it. False on failure.
bool OpenNamedBlock(const wchar_t *name, size_t size, NamedBlock *block);

} // namespace zel::platform
