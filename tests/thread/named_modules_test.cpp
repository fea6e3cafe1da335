#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_posix.h"

// The test program has no named-object code of its own: the modules that take
// part are the ones it loads, each with dlopen(RTLD_LOCAL). Every test runs in a
// process of its own (CTest).
namespace {

using zel::platform::MeetingPoint;

struct NamedMutex;

class Module {
public:
    explicit Module(const char *path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ == nullptr) {
            ADD_FAILURE() << dlerror();
            return;
        }
        Bind(openMutex, "NamedModuleOpenMutex");
        Bind(lock, "NamedModuleLock");
        Bind(tryLock, "NamedModuleTryLock");
        Bind(unlock, "NamedModuleUnlock");
        Bind(close, "NamedModuleClose");
        Bind(openBlock, "NamedModuleOpenBlock");
    }
    ~Module() { Unload(); }
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;

    bool Loaded() const { return handle_ != nullptr && openBlock != nullptr; }
    void Unload() {
        if (handle_ != nullptr)
            dlclose(handle_);
        handle_ = nullptr;
    }
    // The module stays loaded for the rest of the process, like a library nobody unloads.
    void KeepLoaded() { handle_ = nullptr; }

    NamedMutex *(*openMutex)(const wchar_t *name) = nullptr;
    bool (*lock)(NamedMutex *mutex) = nullptr;
    bool (*tryLock)(NamedMutex *mutex) = nullptr;
    void (*unlock)(NamedMutex *mutex) = nullptr;
    void (*close)(NamedMutex *mutex) = nullptr;
    void *(*openBlock)(const wchar_t *name, size_t size, bool *existed) = nullptr;

private:
    template <typename Function> void Bind(Function &function, const char *name) {
        function = reinterpret_cast<Function>(dlsym(handle_, name));
        if (function == nullptr)
            ADD_FAILURE() << "no " << name;
    }

    void *handle_;
};

std::wstring ObjectName(const wchar_t *prefix) {
    wchar_t name[64];
    swprintf(name, 64, L"%ls%08x", prefix, static_cast<unsigned>(getpid()));
    return name;
}

constexpr size_t kBlockSize = 64;

// The shared memory object through which the modules of this process meet.
std::string MeetingName() {
    char name[zel::platform::kMeetingNameSize];
    zel::platform::MeetingName(getpid(), name);
    return name;
}

// Where the system keeps the shared memory objects (Linux).
std::string MeetingPath() { return "/dev/shm" + MeetingName(); }

bool MeetingPointExists() {
    struct stat status;
    return lstat(MeetingPath().c_str(), &status) == 0;
}

// Whether a thread other than the caller finds the mutex held, asked through `module`.
bool HeldElsewhere(Module &module, NamedMutex *mutex) {
    bool taken = false;
    std::thread other([&] {
        taken = module.tryLock(mutex);
        if (taken)
            module.unlock(mutex);
    });
    other.join();
    return !taken;
}

bool ZeroFilled(const char *view) {
    return std::all_of(view, view + kBlockSize, [](char c) { return c == 0; });
}

// Runs `checks` in a child process, which ends with _exit: it meets at a fresh name,
// and what its modules leave behind is not looked at by the leak check at exit. The
// name is removed at the end.
void InChild(const std::function<void()> &checks) {
    fflush(stdout);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        checks();
        shm_unlink(MeetingName().c_str());
        fflush(stdout);
        fflush(stderr);
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's checks failed (above)";
}

std::string FileContent(const std::string &path) {
    std::string content;
    if (FILE *file = fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t length;
        while ((length = fread(buffer, 1, sizeof buffer, file)) > 0)
            content.append(buffer, length);
        fclose(file);
    }
    return content;
}

// Makes a shared memory object of this user at `path` with `content`.
void MakeObject(const std::string &path, const std::string &content, mode_t mode = 0600) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(fchmod(fd, mode), 0);
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
}

std::string PointContent(const char (&magic)[8], const void *table, uint64_t cookie) {
    MeetingPoint point{};
    memcpy(point.magic, magic, sizeof point.magic);
    point.table = reinterpret_cast<uintptr_t>(table);
    point.cookie = cookie;
    return std::string(reinterpret_cast<const char *>(&point), sizeof point);
}

TEST(NamedObjects, EveryModuleFindsTheSameObjectsAndTheyOutliveTheirMaker) {
    const std::wstring mutexName = ObjectName(L"TLS Mutex "), blockName = ObjectName(L"TLS Memory ");
    Module a(ZEL_NAMED_MODULE_A), b(ZEL_NAMED_MODULE_B);
    ASSERT_TRUE(a.Loaded() && b.Loaded());
    b.KeepLoaded(); // so that the objects stay reachable for the leak check at exit
    NamedMutex *mutexA = a.openMutex(mutexName.c_str());
    NamedMutex *mutexB = b.openMutex(mutexName.c_str());
    ASSERT_TRUE(mutexA != nullptr && mutexB != nullptr);
    ASSERT_TRUE(a.lock(mutexA));
    EXPECT_TRUE(HeldElsewhere(b, mutexB));
    a.unlock(mutexA);
    EXPECT_FALSE(HeldElsewhere(b, mutexB));
    ASSERT_TRUE(b.lock(mutexB));
    EXPECT_TRUE(HeldElsewhere(a, mutexA));

    bool existed = true;
    auto *viewA = static_cast<char *>(a.openBlock(blockName.c_str(), kBlockSize, &existed));
    ASSERT_NE(viewA, nullptr);
    EXPECT_FALSE(existed);
    EXPECT_TRUE(ZeroFilled(viewA));
    strcpy(viewA, "made by a");
    auto *viewB = static_cast<char *>(b.openBlock(blockName.c_str(), kBlockSize, &existed));
    ASSERT_NE(viewB, nullptr);
    EXPECT_TRUE(existed);
    EXPECT_STREQ(viewB, "made by a");

    // the maker closes its handle and leaves; what it made stays for the others
    a.close(mutexA);
    a.Unload();
    EXPECT_EQ(dlopen(ZEL_NAMED_MODULE_A, RTLD_NOW | RTLD_NOLOAD), nullptr);
    strcpy(viewB, "written by b");
    Module c(ZEL_NAMED_MODULE_A); // the first file loaded anew: a third module
    ASSERT_TRUE(c.Loaded());
    NamedMutex *mutexC = c.openMutex(mutexName.c_str());
    ASSERT_NE(mutexC, nullptr);
    EXPECT_TRUE(HeldElsewhere(c, mutexC));
    b.unlock(mutexB);
    EXPECT_FALSE(HeldElsewhere(c, mutexC));
    auto *viewC = static_cast<char *>(c.openBlock(blockName.c_str(), kBlockSize, &existed));
    ASSERT_NE(viewC, nullptr);
    EXPECT_TRUE(existed);
    EXPECT_STREQ(viewC, "written by b");
    c.close(mutexC);
    c.Unload();
    EXPECT_TRUE(MeetingPointExists()); // b is still here
    EXPECT_STREQ(viewB, "written by b");
}

// A process whose modules have all left leaves no shared memory object behind; a
// module loaded after that starts afresh.
TEST(NamedObjects, TheLastModuleToLeaveRemovesTheMeetingPoint) {
    InChild([] {
        const std::wstring blockName = ObjectName(L"TLS Memory ");
        EXPECT_FALSE(MeetingPointExists());
        Module a(ZEL_NAMED_MODULE_A), b(ZEL_NAMED_MODULE_B);
        ASSERT_TRUE(a.Loaded() && b.Loaded());
        bool existed = true;
        auto *view = static_cast<char *>(a.openBlock(blockName.c_str(), kBlockSize, &existed));
        ASSERT_NE(view, nullptr);
        strcpy(view, "made by a");
        ASSERT_NE(b.openBlock(blockName.c_str(), kBlockSize, &existed), nullptr);
        EXPECT_TRUE(existed);
        a.Unload();
        EXPECT_TRUE(MeetingPointExists());
        b.Unload();
        EXPECT_FALSE(MeetingPointExists());

        Module c(ZEL_NAMED_MODULE_B);
        ASSERT_TRUE(c.Loaded());
        view = static_cast<char *>(c.openBlock(blockName.c_str(), kBlockSize, &existed));
        ASSERT_NE(view, nullptr);
        EXPECT_FALSE(existed);
        EXPECT_TRUE(ZeroFilled(view));
        EXPECT_TRUE(MeetingPointExists());
    });
}

// The modules of a fork's child meet anew, as in a new process, and agree.
TEST(NamedObjects, TheModulesOfAForksChildMeetAnew) {
    const std::wstring blockName = ObjectName(L"TLS Memory ");
    Module a(ZEL_NAMED_MODULE_A);
    ASSERT_TRUE(a.Loaded());
    a.KeepLoaded();
    bool existed = true;
    auto *parentView = static_cast<char *>(a.openBlock(blockName.c_str(), kBlockSize, &existed));
    ASSERT_NE(parentView, nullptr);
    strcpy(parentView, "the parent's");
    InChild([&] {
        Module b(ZEL_NAMED_MODULE_B);
        ASSERT_TRUE(b.Loaded());
        bool existed = true;
        auto *viewB = static_cast<char *>(b.openBlock(blockName.c_str(), kBlockSize, &existed));
        ASSERT_NE(viewB, nullptr);
        EXPECT_FALSE(existed);
        strcpy(viewB, "the child's");
        auto *viewA = static_cast<char *>(a.openBlock(blockName.c_str(), kBlockSize, &existed));
        ASSERT_NE(viewA, nullptr);
        EXPECT_TRUE(existed);
        EXPECT_STREQ(viewA, "the child's");
        EXPECT_STREQ(parentView, "the parent's"); // the child's copy of the parent's block
        b.KeepLoaded();
    });
    EXPECT_STREQ(parentView, "the parent's");
}

// What a process whose modules did not leave (a crash, _exit) left at its name.
std::string LeftByAnEndedProcess() {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        Module module(ZEL_NAMED_MODULE_A);
        bool existed = true;
        auto *view =
            static_cast<char *>(module.openBlock(ObjectName(L"TLS Memory ").c_str(), kBlockSize, &existed));
        if (view != nullptr)
            strcpy(view, "the ended process's");
        const std::string content = FileContent(MeetingPath());
        shm_unlink(MeetingName().c_str());
        if (view == nullptr || existed ||
            write(pipeFds[1], content.data(), content.size()) != static_cast<ssize_t>(content.size()))
            _exit(1);
        _exit(0);
    }
    ::close(pipeFds[1]);
    std::string content;
    char buffer[256];
    ssize_t length;
    while ((length = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        content.append(buffer, size_t(length));
    ::close(pipeFds[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    return content;
}

// What this process finds at its name when it starts may be left by an earlier
// process with the same id, or by the program that this process ran before an exec:
// the address in it means nothing here. The modules make a table of their own
// and name it, and touch nothing at the address that they found.
TEST(NamedObjects, AMeetingPointLeftByAnEarlierProcessOrProgramIsNotJoined) {
    char memory[kBlockSize]; // mapped memory of this process
    memset(memory, 0x5a, sizeof memory);
    uint64_t memoryStart;
    memcpy(&memoryStart, memory, sizeof memoryStart);
    void *unmapped = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(unmapped, MAP_FAILED);
    munmap(unmapped, 4096);
    const std::string ended = LeftByAnEndedProcess();
    ASSERT_EQ(ended.size(), sizeof(MeetingPoint)) << "the ended process left no meeting point";

    const struct {
        const char *what;
        std::string content;
    } cases[] = {
        {"left by an ended process with the same id", ended},
        {"an address mapped here, without the table's cookie",
         PointContent(zel::platform::kMeetingMagic, memory, memoryStart + 1)},
        {"an address not mapped here", PointContent(zel::platform::kMeetingMagic, unmapped, 1)},
        {"another magic, with the cookie found at the address",
         PointContent({'Z', 'E', 'L', 'N', 'A', 'M', 'E', 'X'}, memory, memoryStart)},
    };
    for (const auto &left : cases) {
        SCOPED_TRACE(left.what);
        InChild([&] {
            MakeObject(MeetingPath(), left.content);
            Module module(ZEL_NAMED_MODULE_B);
            ASSERT_TRUE(module.Loaded());
            bool existed = true;
            auto *view =
                static_cast<char *>(module.openBlock(ObjectName(L"TLS Memory ").c_str(), kBlockSize, &existed));
            ASSERT_NE(view, nullptr);
            EXPECT_FALSE(existed);
            EXPECT_TRUE(ZeroFilled(view));
            NamedMutex *mutex = module.openMutex(ObjectName(L"TLS Mutex ").c_str());
            ASSERT_NE(mutex, nullptr);
            ASSERT_TRUE(module.lock(mutex));
            EXPECT_TRUE(HeldElsewhere(module, mutex));
            module.unlock(mutex);
            EXPECT_TRUE(std::all_of(memory, memory + sizeof memory, [](char c) { return c == 0x5a; }));
            const std::string now = FileContent(MeetingPath());
            EXPECT_EQ(now.size(), sizeof(MeetingPoint));
            EXPECT_NE(now, left.content); // this process's table is named there now
            module.KeepLoaded();
        });
    }
}

// An object at this process's name that this process cannot trust to be its own
// is not used, not locked and not written: the named objects cannot be opened
// while it is there.
TEST(NamedObjects, AnObjectPlantedAtTheNameIsNotUsed) {
    struct Planting {
        const char *what;
        bool needsRoot;
        std::function<void(const std::string &name, const std::string &other)> plant;
    };
    const Planting plantings[] = {
        {"open to the group and others", false,
         [](const std::string &name, const std::string &) { MakeObject(name, "", 0640); }},
        {"another user's", true,
         [](const std::string &name, const std::string &) {
             MakeObject(name, "");
             ASSERT_EQ(chown(name.c_str(), 65534, 65534), 0);
         }},
        {"a symbolic link to an object of this user", false,
         [](const std::string &name, const std::string &other) {
             MakeObject(other, "");
             ASSERT_EQ(symlink(other.c_str(), name.c_str()), 0);
         }},
        {"a second link to an object of this user", false,
         [](const std::string &name, const std::string &other) {
             MakeObject(other, "");
             ASSERT_EQ(link(other.c_str(), name.c_str()), 0);
         }},
        {"an object of another size", false,
         [](const std::string &name, const std::string &) { MakeObject(name, std::string(4096, '\x5a')); }},
    };
    for (const Planting &planting : plantings) {
        SCOPED_TRACE(planting.what);
        if (planting.needsRoot && geteuid() != 0) {
            printf("not checked without root: %s\n", planting.what);
            continue;
        }
        InChild([&] {
            const std::string name = MeetingPath(), other = name + "-other";
            planting.plant(name, other);
            if (testing::Test::HasFatalFailure())
                return;
            struct stat before;
            ASSERT_EQ(stat(name.c_str(), &before), 0);
            const std::string content = FileContent(name);
            {
                Module module(ZEL_NAMED_MODULE_A);
                ASSERT_TRUE(module.Loaded());
                bool existed = false;
                EXPECT_EQ(module.openBlock(ObjectName(L"TLS Memory ").c_str(), kBlockSize, &existed), nullptr);
                EXPECT_EQ(module.openMutex(ObjectName(L"TLS Mutex ").c_str()), nullptr);
            }
            struct stat after;
            ASSERT_EQ(stat(name.c_str(), &after), 0);
            EXPECT_EQ(after.st_mode, before.st_mode);
            EXPECT_EQ(after.st_uid, before.st_uid);
            EXPECT_EQ(after.st_nlink, before.st_nlink);
            EXPECT_EQ(FileContent(name), content);
            unlink(name.c_str());
            unlink(other.c_str());

            // once it is gone the modules meet there
            Module module(ZEL_NAMED_MODULE_A);
            bool existed = true;
            EXPECT_NE(module.openBlock(ObjectName(L"TLS Memory ").c_str(), kBlockSize, &existed), nullptr);
            EXPECT_FALSE(existed);
            module.KeepLoaded();
        });
    }
}

} // namespace
