#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>

// The test program has no named-object code of its own: the modules that take
// part are the ones it loads, each with dlopen(RTLD_LOCAL). Every test runs in a
// process of its own (CTest).
namespace {

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
        if (handle_ != nullptr) dlclose(handle_);
        handle_ = nullptr;
    }

    NamedMutex *(*openMutex)(const wchar_t *name) = nullptr;
    bool (*lock)(NamedMutex *mutex) = nullptr;
    bool (*tryLock)(NamedMutex *mutex) = nullptr;
    void (*unlock)(NamedMutex *mutex) = nullptr;
    void (*close)(NamedMutex *mutex) = nullptr;
    void *(*openBlock)(const wchar_t *name, size_t size, bool *existed) = nullptr;

private:
    template <typename Function> void Bind(Function &function, const char *name) {
        function = reinterpret_cast<Function>(dlsym(handle_, name));
        if (function == nullptr) ADD_FAILURE() << "no " << name;
    }

    void *handle_;
};

std::wstring ObjectName(const wchar_t *prefix) {
    wchar_t name[64];
    swprintf(name, 64, L"%ls%08x", prefix, static_cast<unsigned>(getpid()));
    return name;
}

const std::wstring mutexName = ObjectName(L"TLS Mutex ");
const std::wstring blockName = ObjectName(L"TLS Memory ");
constexpr size_t kBlockSize = 64;

// The shared memory object through which the modules of process `pid` meet.
std::string MeetingName(pid_t pid) {
    return "/zelapi-" + std::to_string(geteuid()) + "-" + std::to_string(pid);
}

bool MeetingPointExists() {
    const int fd = shm_open(MeetingName(getpid()).c_str(), O_RDONLY, 0);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// Whether a thread other than the caller finds the mutex held, asked through `module`.
bool HeldElsewhere(Module &module, NamedMutex *mutex) {
    bool taken = false;
    std::thread other([&] {
        taken = module.tryLock(mutex);
        if (taken) module.unlock(mutex);
    });
    other.join();
    return !taken;
}

bool ZeroFilled(const char *view) { return std::all_of(view, view + kBlockSize, [](char c) { return c == 0; }); }

TEST(NamedObjects, EveryModuleFindsTheSameObjectsAndTheyOutliveTheirMaker) {
    Module a(ZEL_NAMED_MODULE_A), b(ZEL_NAMED_MODULE_B);
    ASSERT_TRUE(a.Loaded() && b.Loaded());
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

    // the maker leaves; what it made stays for the others
    a.close(mutexA);
    a.Unload();
    EXPECT_EQ(dlopen(ZEL_NAMED_MODULE_A, RTLD_NOW | RTLD_NOLOAD), nullptr);
    strcpy(viewB, "written by b");
    Module c(ZEL_NAMED_MODULE_A);  // the first file loaded anew: a third module
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
    b.close(mutexB);
    c.close(mutexC);

    // once every module has left nothing remains, neither the objects nor their meeting point
    EXPECT_TRUE(MeetingPointExists());
    b.Unload();
    c.Unload();
    EXPECT_FALSE(MeetingPointExists());
    Module d(ZEL_NAMED_MODULE_B);
    ASSERT_TRUE(d.Loaded());
    auto *viewD = static_cast<char *>(d.openBlock(blockName.c_str(), kBlockSize, &existed));
    ASSERT_NE(viewD, nullptr);
    EXPECT_FALSE(existed);
    EXPECT_TRUE(ZeroFilled(viewD));
    d.Unload();
    EXPECT_FALSE(MeetingPointExists());
}

// A process that ends without its modules leaving (a crash, _exit) leaves its
// meeting point behind; a later process given the same id must not take it for its own.
TEST(NamedObjects, AMeetingPointLeftByAnEndedProcessIsNotTakenForThisOnes) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Module module(ZEL_NAMED_MODULE_A);
        bool existed = false;
        auto *view = static_cast<char *>(
            module.openBlock(ObjectName(L"TLS Memory ").c_str(), kBlockSize, &existed));
        if (view != nullptr) strcpy(view, "the ended process's");
        _exit(view != nullptr && !existed ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    // what the child left, put where this process's modules meet
    const std::string left = MeetingName(child);
    const int from = shm_open(left.c_str(), O_RDONLY, 0);
    ASSERT_GE(from, 0) << "the child left nothing";
    char content[4096];
    const ssize_t length = read(from, content, sizeof content);
    ::close(from);
    shm_unlink(left.c_str());
    ASSERT_GT(length, 0);
    const int to = shm_open(MeetingName(getpid()).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(to, 0);
    ASSERT_EQ(write(to, content, static_cast<size_t>(length)), length);
    ::close(to);

    {
        Module module(ZEL_NAMED_MODULE_A);
        ASSERT_TRUE(module.Loaded());
        bool existed = true;
        auto *view = static_cast<char *>(module.openBlock(blockName.c_str(), kBlockSize, &existed));
        ASSERT_NE(view, nullptr);
        EXPECT_FALSE(existed);
        EXPECT_TRUE(ZeroFilled(view));
        NamedMutex *mutex = module.openMutex(mutexName.c_str());
        ASSERT_NE(mutex, nullptr);
        ASSERT_TRUE(module.lock(mutex));
        EXPECT_TRUE(HeldElsewhere(module, mutex));
        module.unlock(mutex);
        module.close(mutex);
    }
    EXPECT_FALSE(MeetingPointExists());
}

} // namespace
