// A module holding nothing but the named-object code. The tests load it with
// dlopen(RTLD_LOCAL) under more than one file name: each load is a module of its own,
// with its own copy of that code and of its static storage.
#include "platform/named.h"

#define NAMED_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

using zel::platform::NamedMutex;

NAMED_MODULE_EXPORT NamedMutex *NamedModuleOpenMutex(const wchar_t *name) {
    return zel::platform::OpenNamedMutex(name);
}

NAMED_MODULE_EXPORT bool NamedModuleLock(NamedMutex *mutex) { return zel::platform::LockNamedMutex(mutex); }

NAMED_MODULE_EXPORT bool NamedModuleTryLock(NamedMutex *mutex) { return zel::platform::TryLockNamedMutex(mutex); }

NAMED_MODULE_EXPORT void NamedModuleUnlock(NamedMutex *mutex) { zel::platform::UnlockNamedMutex(mutex); }

NAMED_MODULE_EXPORT void NamedModuleClose(NamedMutex *mutex) { zel::platform::CloseNamedMutex(mutex); }

// This module's view of the block; null on failure.
NAMED_MODULE_EXPORT void *NamedModuleOpenBlock(const wchar_t *name, size_t size, bool *existed) {
    zel::platform::NamedBlock block{};
    if (!zel::platform::OpenNamedBlock(name, size, &block))
        return nullptr;
    *existed = block.existed;
    return block.view;
}
