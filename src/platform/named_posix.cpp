#include "platform/named.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "platform/named_posix.h"

// Substitute for named kernel objects. The objects of a process live in one table on
// the heap, which belongs to no module. The modules of the process find it through
// a shared memory object named after the user and the process (named_posix.h), which
// holds the table's address and a random cookie that the table holds too.
//
// Like the kernel objects on Windows, whose handles the modules never close, the
// table and every object in it stay for the life of the process: a thread given up
// on may still use them while the modules leave at exit. Each module keeps the
// table's address in its own static storage. The last module to leave removes the
// name, so that no object is left behind in the system once the process has ended
// normally. A name left by a process that ended without that (or by the program
// that this process ran before an exec) is of no harm: its address is believed only
// where this process's memory holds the cookie at that address, and otherwise the
// name is taken over.
namespace zel::platform {

inline constexpr size_t kMaxNameLength = 63;

struct NamedMutex {
    NamedMutex *next;
    wchar_t name[kMaxNameLength + 1];
    pthread_mutex_t mutex; // recursive, like a kernel mutex
};

struct NamedMemory {
    NamedMemory *next;
    wchar_t name[kMaxNameLength + 1];
    size_t size;
    void *memory; // zero-filled
};

struct ObjectTable {
    std::atomic<uint64_t> cookie{0};                  // first; set once the table is ready
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER; // guards the lists and `modules`
    unsigned modules = 0;                             // modules that met here and have not left
    NamedMutex *mutexes = nullptr;
    NamedMemory *blocks = nullptr;
};
static_assert(offsetof(ObjectTable, cookie) == 0, "the cookie is read at the table's address");

namespace {

// This module's way to the table.
struct ModuleState {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pid_t processId = 0;          // the process in which `table` was found
    ObjectTable *table = nullptr; // kept after leaving: the table stays reachable
    bool left = false;
};
ModuleState module;

class Hold {
public:
    explicit Hold(pthread_mutex_t *mutex) : mutex_(mutex) { pthread_mutex_lock(mutex_); }
    ~Hold() { pthread_mutex_unlock(mutex_); }
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;

private:
    pthread_mutex_t *mutex_;
};

ObjectTable *NewTable() {
    uint64_t cookie = 0;
    while (cookie == 0)
        if (getrandom(&cookie, sizeof cookie, 0) != static_cast<ssize_t>(sizeof cookie) && errno != EINTR)
            return nullptr;
    auto *table = new (std::nothrow) ObjectTable;
    if (table != nullptr)
        table->cookie.store(cookie, std::memory_order_release);
    return table;
}

// Finds the table named by `point`: `*table` is null when it is not this process's.
// The address is read through the kernel, since it may not be mapped here. False when
// that cannot be told (the system does not let this process read itself that way).
bool Named(const MeetingPoint &point, ObjectTable **table) {
    *table = nullptr;
    if (memcmp(point.magic, kMeetingMagic, sizeof point.magic) != 0 || point.table == 0 || point.cookie == 0)
        return true;
    uint64_t found = 0;
    iovec into{&found, sizeof found};
    iovec from{reinterpret_cast<void *>(static_cast<uintptr_t>(point.table)), sizeof found};
    const ssize_t got = process_vm_readv(getpid(), &into, 1, &from, 1, 0);
    if (got < 0)
        return errno == EFAULT; // EFAULT: not mapped here
    if (got != static_cast<ssize_t>(sizeof found) || found != point.cookie)
        return true;
    auto *named = reinterpret_cast<ObjectTable *>(static_cast<uintptr_t>(point.table));
    // read again as the atomic that its maker set last, which orders what it made before
    if (named->cookie.load(std::memory_order_acquire) == point.cookie)
        *table = named;
    return true;
}

// Whether the object can only be this user's own meeting point: a plain file with a
// single name, of this user, closed to everyone else, empty or of the point's size.
bool Trusted(int fd) {
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid() &&
           (status.st_mode & 077) == 0 && status.st_nlink == 1 &&
           (status.st_size == 0 || status.st_size == static_cast<off_t>(sizeof(MeetingPoint)));
}

bool Removed(int fd) {
    struct stat status;
    return fstat(fd, &status) != 0 || status.st_nlink == 0;
}

// Opens the meeting point, made (empty) when `create` and there is none, and takes
// its lock, which orders the arrivals and departures of all modules. -1 when there
// is none, or none to be trusted. Its lock goes with the descriptor.
int OpenMeetingPoint(const char *name, bool create) {
    for (;;) {
        // without O_CREAT first, so as never to create through someone else's object;
        // shm_open does not follow a symbolic link
        int fd = shm_open(name, O_RDWR | O_CLOEXEC, 0);
        if (fd < 0 && errno == ENOENT && create) {
            fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd < 0 && errno == EEXIST)
                continue; // another module made it just now
        }
        if (fd < 0)
            return -1;
        // trusted before the wait, so that nobody else's lock holds this module up
        int locked = -1;
        if (Trusted(fd)) {
            do
                locked = flock(fd, LOCK_EX);
            while (locked != 0 && errno == EINTR);
        }
        if (locked == 0 && !Removed(fd) && Trusted(fd))
            return fd;
        const bool again = locked == 0 && Removed(fd) && create;
        close(fd);
        if (!again)
            return -1;
        // the last module removed it while this one waited: meet anew
    }
}

bool ReadPoint(int fd, MeetingPoint *point) {
    *point = MeetingPoint{};
    return pread(fd, point, sizeof *point, 0) >= 0; // 0 bytes: made just now
}

bool WritePoint(int fd, const ObjectTable *table) {
    MeetingPoint point{};
    memcpy(point.magic, kMeetingMagic, sizeof point.magic);
    point.table = reinterpret_cast<uintptr_t>(table);
    point.cookie = table->cookie.load(std::memory_order_relaxed);
    return pwrite(fd, &point, sizeof point, 0) == static_cast<ssize_t>(sizeof point);
}

// Finds this process's table or makes and names it.
ObjectTable *Meet(pid_t self) {
    char name[kMeetingNameSize];
    MeetingName(self, name);
    const int fd = OpenMeetingPoint(name, true);
    if (fd < 0)
        return nullptr;
    MeetingPoint point;
    ObjectTable *table = nullptr;
    if (ReadPoint(fd, &point) && Named(point, &table)) {
        if (table == nullptr) {
            // new, or left by an ended process or program that had this id
            ObjectTable *made = NewTable();
            if (made != nullptr && WritePoint(fd, made))
                table = made;
            else
                delete made; // nobody knows of it
        }
    }
    if (table != nullptr) {
        Hold hold(&table->lock);
        ++table->modules;
    }
    close(fd);
    return table;
}

// This process's table; null on failure or once this module has left.
ObjectTable *Table() {
    Hold hold(&module.lock);
    if (module.left)
        return nullptr;
    const pid_t self = getpid();
    if (module.table != nullptr && module.processId == self)
        return module.table;
    // (after a fork the child's modules meet anew, as in a new process: what they
    // opened before stays theirs, in the child's copy of the table)
    ObjectTable *table = Meet(self);
    if (table == nullptr)
        return nullptr;
    module.table = table;
    module.processId = self;
    return table;
}

// At this module's unload (library unload or process exit). The table stays.
void Leave() {
    Hold hold(&module.lock);
    module.left = true;
    ObjectTable *table = module.table;
    // nothing to leave in a fork's child in which this module did not meet again
    if (table == nullptr || module.processId != getpid())
        return;
    char name[kMeetingNameSize];
    MeetingName(module.processId, name);
    const int fd = OpenMeetingPoint(name, false);
    bool last;
    {
        Hold tableHold(&table->lock);
        last = --table->modules == 0;
    }
    if (fd < 0)
        return;
    MeetingPoint point;
    ObjectTable *named = nullptr;
    if (last && ReadPoint(fd, &point) && Named(point, &named) && named == table)
        shm_unlink(name);
    close(fd);
}

struct Leaving {
    ~Leaving() { Leave(); }
} leaving;

bool NameFits(const wchar_t *name) { return name != nullptr && wcslen(name) <= kMaxNameLength; }

template <typename Object> Object *Find(Object *head, const wchar_t *name) {
    for (Object *object = head; object != nullptr; object = object->next)
        if (wcscmp(object->name, name) == 0)
            return object;
    return nullptr;
}

NamedMutex *NewMutex(ObjectTable *table, const wchar_t *name) {
    auto *created = static_cast<NamedMutex *>(calloc(1, sizeof(NamedMutex)));
    if (created == nullptr)
        return nullptr;
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
    created->next = table->mutexes;
    table->mutexes = created;
    return created;
}

NamedMemory *NewMemory(ObjectTable *table, const wchar_t *name, size_t size) {
    auto *created = static_cast<NamedMemory *>(calloc(1, sizeof(NamedMemory)));
    if (created == nullptr)
        return nullptr;
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
    if (!NameFits(name))
        return nullptr;
    ObjectTable *table = Table();
    if (table == nullptr)
        return nullptr;
    Hold hold(&table->lock);
    NamedMutex *mutex = Find(table->mutexes, name);
    return mutex != nullptr ? mutex : NewMutex(table, name);
}

bool LockNamedMutex(NamedMutex *mutex) { return pthread_mutex_lock(&mutex->mutex) == 0; }

bool TryLockNamedMutex(NamedMutex *mutex) { return pthread_mutex_trylock(&mutex->mutex) == 0; }

void UnlockNamedMutex(NamedMutex *mutex) { pthread_mutex_unlock(&mutex->mutex); }

// The mutex stays for the life of the process: a thread given up on may still reach
// it through a handle that its module has closed.
void CloseNamedMutex(NamedMutex *) {}

bool OpenNamedBlock(const wchar_t *name, size_t size, NamedBlock *block) {
    if (!NameFits(name) || size == 0)
        return false;
    ObjectTable *table = Table();
    if (table == nullptr)
        return false;
    Hold hold(&table->lock);
    NamedMemory *memory = Find(table->blocks, name);
    const bool existed = memory != nullptr;
    if (existed && memory->size < size)
        return false;
    if (!existed)
        memory = NewMemory(table, name, size);
    if (memory == nullptr)
        return false;
    *block = NamedBlock{memory, memory->memory, existed};
    return true;
}

} // namespace zel::platform
