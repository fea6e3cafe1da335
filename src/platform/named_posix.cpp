#include "platform/named.h"

#include <pthread.h>

#include <cstdlib>
#include <cwchar>

namespace zel::platform {

inline constexpr size_t kMaxNameLength = 63;

struct NamedMutex {
    NamedMutex *next;
    wchar_t name[kMaxNameLength + 1];
    unsigned opens;          // open handles; the mutex goes with the last close
    pthread_mutex_t mutex;   // recursive, like a kernel mutex
};

struct NamedMemory {
    NamedMemory *next;
    wchar_t name[kMaxNameLength + 1];
    size_t size;
    void *memory;   // zero-filled; lives as long as the process
};

} // namespace zel::platform

// Substitute for named kernel objects: this in-process table, reached through one
// default-visibility symbol that every module resolves to the same object, dies with the process.
extern "C" {
struct ZelNamedObjects {
    pthread_mutex_t lock;   // guards both lists and every `opens`
    zel::platform::NamedMutex *mutexes;
    zel::platform::NamedMemory *blocks;
};
__attribute__((visibility("default"), weak))
ZelNamedObjects ZelapiProcessNamedObjectsV1 = {PTHREAD_MUTEX_INITIALIZER, nullptr, nullptr};
}

namespace zel::platform {
namespace {

class TableLock {
public:
    TableLock() { pthread_mutex_lock(&ZelapiProcessNamedObjectsV1.lock); }
    ~TableLock() { pthread_mutex_unlock(&ZelapiProcessNamedObjectsV1.lock); }
    TableLock(const TableLock &) = delete;
    TableLock &operator=(const TableLock &) = delete;
};

bool NameFits(const wchar_t *name) { return name != nullptr && wcslen(name) <= kMaxNameLength; }

template <typename Object> Object *Find(Object *head, const wchar_t *name) {
    for (Object *object = head; object != nullptr; object = object->next)
        if (wcscmp(object->name, name) == 0) return object;
    return nullptr;
}

NamedMutex *NewMutex(const wchar_t *name) {
    auto *created = static_cast<NamedMutex *>(calloc(1, sizeof(NamedMutex)));
    if (created == nullptr) return nullptr;
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    const int failed = pthread_mutex_init(&created->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    if (failed) {
        free(created);
        return nullptr;
    }
    wcscpy(created->name, name);
    created->next = ZelapiProcessNamedObjectsV1.mutexes;
    ZelapiProcessNamedObjectsV1.mutexes = created;
    return created;
}

void Unlink(NamedMutex *mutex) {
    NamedMutex **link = &ZelapiProcessNamedObjectsV1.mutexes;
    while (*link != mutex) link = &(*link)->next;
    *link = mutex->next;
}

NamedMemory *NewMemory(const wchar_t *name, size_t size) {
    auto *created = static_cast<NamedMemory *>(calloc(1, sizeof(NamedMemory)));
    if (created == nullptr) return nullptr;
    created->memory = calloc(1, size);
    if (created->memory == nullptr) {
        free(created);
        return nullptr;
    }
    wcscpy(created->name, name);
    created->size = size;
    created->next = ZelapiProcessNamedObjectsV1.blocks;
    ZelapiProcessNamedObjectsV1.blocks = created;
    return created;
}

} // namespace

NamedMutex *OpenNamedMutex(const wchar_t *name) {
    if (!NameFits(name)) return nullptr;
    TableLock table;
    NamedMutex *mutex = Find(ZelapiProcessNamedObjectsV1.mutexes, name);
    if (mutex == nullptr) mutex = NewMutex(name);
    if (mutex != nullptr) ++mutex->opens;
    return mutex;
}

bool LockNamedMutex(NamedMutex *mutex) { return pthread_mutex_lock(&mutex->mutex) == 0; }

bool TryLockNamedMutex(NamedMutex *mutex) { return pthread_mutex_trylock(&mutex->mutex) == 0; }

void UnlockNamedMutex(NamedMutex *mutex) { pthread_mutex_unlock(&mutex->mutex); }

void CloseNamedMutex(NamedMutex *mutex) {
    TableLock table;
    if (--mutex->opens != 0) return;
    Unlink(mutex);
    pthread_mutex_destroy(&mutex->mutex);
    free(mutex);
}

bool OpenNamedBlock(const wchar_t *name, size_t size, NamedBlock *block) {
    if (!NameFits(name) || size == 0) return false;
    TableLock table;
    NamedMemory *memory = Find(ZelapiProcessNamedObjectsV1.blocks, name);
    const bool existed = memory != nullptr;
    if (existed && memory->size < size) return false;
    if (!existed) memory = NewMemory(name, size);
    if (memory == nullptr) return false;
    *block = NamedBlock{memory, memory->memory, existed};
    return true;
}

} // namespace zel::platform
