#include "platform/named.h"

#include <windows.h>

namespace zel::platform {

NamedMutex *OpenNamedMutex(const wchar_t *name) {
    return reinterpret_cast<NamedMutex *>(CreateMutexW(nullptr, FALSE, name));
}

bool LockNamedMutex(NamedMutex *mutex) {
    const DWORD result = WaitForSingleObject(reinterpret_cast<HANDLE>(mutex), INFINITE);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

bool TryLockNamedMutex(NamedMutex *mutex) {
    const DWORD result = WaitForSingleObject(reinterpret_cast<HANDLE>(mutex), 0);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void UnlockNamedMutex(NamedMutex *mutex) { ReleaseMutex(reinterpret_cast<HANDLE>(mutex)); }

void CloseNamedMutex(NamedMutex *mutex) { CloseHandle(reinterpret_cast<HANDLE>(mutex)); }

bool OpenNamedBlock(const wchar_t *name, size_t size, NamedBlock *block) {
    const auto size64 = static_cast<unsigned long long>(size);
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                        static_cast<DWORD>(size64 >> 32), static_cast<DWORD>(size64), name);
    if (mapping == nullptr)
        return false;
    // ERROR_ALREADY_EXISTS (183): another module of this process made the block first
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    void *view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, size);
    if (view == nullptr) {
        CloseHandle(mapping);
        return false;
    }
    *block = NamedBlock{mapping, view, existed};
    return true;
}

} // namespace zel::platform
