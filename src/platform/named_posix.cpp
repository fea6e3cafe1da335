#include "platform/named.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

// Substitute for named kernel objects. The objects of a process live in one table
// on the heap, which belongs to no module, so they outlive the module that made
// them. The modules of the process find the table through a shared memory object
// named after the user and the process, which holds the table's address; it is
// removed when the last module leaves.
namespace zel::platform {

inline constexpr size_t kMaxNameLength = 63;

struct ObjectTable;

struct NamedMutex {
    NamedMutex *next;
    ObjectTable *table;
    wchar_t name[kMaxNameLength + 1];
    unsigned opens;          // open handles; the mutex goes with the last close
    pthread_mutex_t mutex;   // recursive, like a kernel mutex
};

struct NamedMemory {
    NamedMemory *next;
    wchar_t name[kMaxNameLength + 1];
    size_t size;
    void *memory;   // zero-filled
};

struct ObjectTable {
    pthread_mutex_t lock;   // guards both lists, every `opens` and `modules`
    unsigned modules;       // modules that met here and have not left
    pid_t namedBy;          // the process whose meeting point holds this table; 0: none
    NamedMutex *mutexes;
    NamedMemory *blocks;
};

namespace {

inline constexpr char kMagic[8] = {'Z', 'E', 'L', 'N', 'A', 'M', 'E', 'D'};

// The content of the meeting point.
struct MeetingPoint {
    char magic[8];
    uint64_t processId;
    uint64_t startTime;   // tells a later process given the same id apart
    uint64_t table;
};

// This module's own way to the table; only this module reads it.
struct ModuleState {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pid_t processId = 0;
    ObjectTable *table = nullptr;
    bool joined = false;
    bool left = false;
};
ModuleState module;

// The start of the process in clock ticks since boot; 0 when it cannot be read.
uint64_t StartTime() {
    FILE *stat = fopen("/proc/self/stat", "re");
    if (stat == nullptr) return 0;
    char line[1024];
    const size_t length = fread(line, 1, sizeof line - 1, stat);
    fclose(stat);
    line[length] = '\0';
    const char *field = strrchr(line, ')');   // the command name may hold anything
    if (field == nullptr) return 0;
    // the start time is field 22; field 3 follows the name
    for (int number = 2; number < 22 && field != nullptr; ++number) field = strchr(field + 1, ' ');
    return field == nullptr ? 0 : strtoull(field + 1, nullptr, 10);
}

void MeetingName(pid_t processId, char (&name)[64]) {
    snprintf(name, sizeof name, "/zelapi-%u-%u", static_cast<unsigned>(geteuid()),
             static_cast<unsigned>(processId));
}

void FreeTable(ObjectTable *table) {
    for (NamedMemory *block = table->blocks; block != nullptr;) {
        NamedMemory *next = block->next;
        free(block->memory);
        free(block);
        block = next;
    }
    pthread_mutex_destroy(&table->lock);
    free(table);
}

ObjectTable *NewTable() {
    auto *table = static_cast<ObjectTable *>(calloc(1, sizeof(ObjectTable)));
    if (table == nullptr) return nullptr;
    if (pthread_mutex_init(&table->lock, nullptr) != 0) {
        free(table);
        return nullptr;
    }
    return table;
}

// Opens the meeting point of this process and takes its lock, which orders the
// meetings and leavings of all modules. -1 on failure.
int OpenMeetingPoint(const char *name, bool create) {
    for (;;) {
        const int fd = shm_open(name, O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
        if (fd < 0) return -1;
        int locked;
        do locked = flock(fd, LOCK_EX);
        while (locked != 0 && errno == EINTR);
        struct stat status;
        if (locked != 0 || fstat(fd, &status) != 0 || status.st_uid != geteuid() ||
            (status.st_mode & 077) != 0) {
            close(fd);   // not ours to trust
            return -1;
        }
        if (status.st_nlink != 0) return fd;
        close(fd);   // the last module removed it while this one waited: meet anew
        if (!create) return -1;
    }
}

MeetingPoint *MapMeetingPoint(int fd) {
    struct stat status;
    if (fstat(fd, &status) != 0) return nullptr;
    if (static_cast<size_t>(status.st_size) < sizeof(MeetingPoint) &&
        ftruncate(fd, sizeof(MeetingPoint)) != 0)
        return nullptr;
    void *view = mmap(nullptr, sizeof(MeetingPoint), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return view == MAP_FAILED ? nullptr : static_cast<MeetingPoint *>(view);
}

bool Ours(const MeetingPoint *point, pid_t self, uint64_t startTime) {
    return memcmp(point->magic, kMagic, sizeof kMagic) == 0 && point->processId == uint64_t(self) &&
           point->startTime == startTime && point->table != 0;
}

// Finds this process's table, or makes it and names it. `inherited`: the table
// this module used before a fork, now the child's copy.
ObjectTable *Meet(pid_t self, ObjectTable *inherited) {
    char name[64];
    MeetingName(self, name);
    const int fd = OpenMeetingPoint(name, true);
    if (fd < 0) return nullptr;
    MeetingPoint *point = MapMeetingPoint(fd);
    ObjectTable *table = nullptr;
    if (point != nullptr) {
        const uint64_t startTime = StartTime();
        if (Ours(point, self, startTime)) {
            table = reinterpret_cast<ObjectTable *>(static_cast<uintptr_t>(point->table));
        } else {
            // new, or left by an ended process that had the same id
            table = inherited != nullptr ? inherited : NewTable();
            if (table != nullptr) {
                memcpy(point->magic, kMagic, sizeof kMagic);
                point->processId = uint64_t(self);
                point->startTime = startTime;
                point->table = reinterpret_cast<uintptr_t>(table);
                table->namedBy = self;
            }
        }
        munmap(point, sizeof(MeetingPoint));
    }
    if (table != nullptr && table != inherited) {
        pthread_mutex_lock(&table->lock);
        ++table->modules;
        pthread_mutex_unlock(&table->lock);
    }
    close(fd);
    return table;
}

class ModuleLock {
public:
    ModuleLock() { pthread_mutex_lock(&module.lock); }
    ~ModuleLock() { pthread_mutex_unlock(&module.lock); }
    ModuleLock(const ModuleLock &) = delete;
    ModuleLock &operator=(const ModuleLock &) = delete;
};

// This process's table; null on failure or once this module has left.
ObjectTable *Table() {
    ModuleLock hold;
    if (module.left) return nullptr;
    const pid_t self = getpid();
    if (module.table != nullptr && module.processId == self) return module.table;
    ObjectTable *table = Meet(self, module.joined ? module.table : nullptr);
    if (table == nullptr) return nullptr;
    module.table = table;
    module.processId = self;
    module.joined = true;
    return table;
}

// Frees the table once no module and no open mutex needs it; called under its lock,
// which it releases.
void UnlockTable(ObjectTable *table) {
    const bool unused = table->modules == 0 && table->mutexes == nullptr;
    pthread_mutex_unlock(&table->lock);
    if (unused) FreeTable(table);
}

// At this module's unload (library unload or process exit).
void Leave() {
    ModuleLock hold;
    module.left = true;
    if (!module.joined) return;
    ObjectTable *table = module.table;
    const pid_t self = getpid();
    char name[64];
    MeetingName(self, name);
    // a fork's child that never met here has no meeting point of its own
    const int fd = table->namedBy == self ? OpenMeetingPoint(name, false) : -1;
    pthread_mutex_lock(&table->lock);
    if (--table->modules == 0 && fd >= 0) {
        MeetingPoint *point = MapMeetingPoint(fd);
        if (point != nullptr) {
            if (point->table == reinterpret_cast<uintptr_t>(table)) {
                shm_unlink(name);
                table->namedBy = 0;
            }
            munmap(point, sizeof(MeetingPoint));
        }
    }
    UnlockTable(table);
    if (fd >= 0) close(fd);
    module.joined = false;
    module.table = nullptr;
}

struct Leaving {
    ~Leaving() { Leave(); }
} leaving;

bool NameFits(const wchar_t *name) { return name != nullptr && wcslen(name) <= kMaxNameLength; }

template <typename Object> Object *Find(Object *head, const wchar_t *name) {
    for (Object *object = head; object != nullptr; object = object->next)
        if (wcscmp(object->name, name) == 0) return object;
    return nullptr;
}

NamedMutex *NewMutex(ObjectTable *table, const wchar_t *name) {
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
    created->table = table;
    created->next = table->mutexes;
    table->mutexes = created;
    return created;
}

void Unlink(NamedMutex *mutex) {
    NamedMutex **link = &mutex->table->mutexes;
    while (*link != mutex) link = &(*link)->next;
    *link = mutex->next;
}

NamedMemory *NewMemory(ObjectTable *table, const wchar_t *name, size_t size) {
    auto *created = static_cast<NamedMemory *>(calloc(1, sizeof(NamedMemory)));
    if (created == nullptr) return nullptr;
    created->memory = calloc(1, size);
    if (created->memory == nullptr) {
        free(created);
        return nullptr;
    }
    wcscpy(created->name, name);
    created->size = size;
    created->next = table->blocks;
    table->blocks = created;
    return created;
}

} // namespace

NamedMutex *OpenNamedMutex(const wchar_t *name) {
    if (!NameFits(name)) return nullptr;
    ObjectTable *table = Table();
    if (table == nullptr) return nullptr;
    pthread_mutex_lock(&table->lock);
    NamedMutex *mutex = Find(table->mutexes, name);
    if (mutex == nullptr) mutex = NewMutex(table, name);
    if (mutex != nullptr) ++mutex->opens;
    pthread_mutex_unlock(&table->lock);
    return mutex;
}

bool LockNamedMutex(NamedMutex *mutex) { return pthread_mutex_lock(&mutex->mutex) == 0; }

bool TryLockNamedMutex(NamedMutex *mutex) { return pthread_mutex_trylock(&mutex->mutex) == 0; }

void UnlockNamedMutex(NamedMutex *mutex) { pthread_mutex_unlock(&mutex->mutex); }

void CloseNamedMutex(NamedMutex *mutex) {
    ObjectTable *table = mutex->table;
    pthread_mutex_lock(&table->lock);
    if (--mutex->opens == 0) {
        Unlink(mutex);
        pthread_mutex_destroy(&mutex->mutex);
        free(mutex);
    }
    UnlockTable(table);
}

bool OpenNamedBlock(const wchar_t *name, size_t size, NamedBlock *block) {
    if (!NameFits(name) || size == 0) return false;
    ObjectTable *table = Table();
    if (table == nullptr) return false;
    pthread_mutex_lock(&table->lock);
    NamedMemory *memory = Find(table->blocks, name);
    const bool existed = memory != nullptr;
    if (!existed || memory->size >= size) {
        if (!existed) memory = NewMemory(table, name, size);
        if (memory != nullptr) *block = NamedBlock{memory, memory->memory, existed};
    }
    const bool opened = memory != nullptr && (!existed || memory->size >= size);
    pthread_mutex_unlock(&table->lock);
    return opened;
}

} // namespace zel::platform
