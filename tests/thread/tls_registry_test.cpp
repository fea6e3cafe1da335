#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "latch.h"
#include "registrar.h"
#include "second_module.h"
#include "thread/tls_mutex.h"

// Every test runs in a process of its own (CTest), so each one starts with no
// registry, no mutex and no block in the process.
namespace zel::test {
namespace {

std::vector<TlsThreadRecord *> ThreadList(const TlsBlock *block) {
    std::vector<TlsThreadRecord *> records;
    for (TlsThreadRecord *record = block->threads; record != nullptr; record = record->next)
        records.push_back(record);
    return records;
}

bool Reachable(TlsEntry *first, TlsEntry *TlsEntry::*link, const TlsEntry *wanted) {
    for (TlsEntry *entry = first; entry != nullptr; entry = entry->*link)
        if (entry == wanted)
            return true;
    return false;
}

// Whether another thread can take the process-wide mutex now; the bound only
// keeps a failing run from hanging.
bool MutexFree(std::vector<std::future<void>> &stuck) {
    auto taker = std::async(std::launch::async, [] {
        ModuleTlsMutex().Lock();
        ModuleTlsMutex().Unlock();
    });
    if (taker.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
        return true;
    stuck.push_back(std::move(taker));
    return false;
}

TEST(TlsRegistry, WithoutARegistryCleanupReturnsAtOnceAndCreatesNothing) {
    ASSERT_EQ(ModuleTlsRegistry(), nullptr);
    RunThreadExitCleanup();
    EXPECT_FALSE(ModuleTlsMutex().HasHandle());
    // the first attach afterwards still makes the block: nothing made it before
    TlsRegistry *registry = InstallRegistry();
    EXPECT_EQ(registry->GetThreadRecord(false), nullptr);
    ASSERT_NE(registry->Block(), nullptr);
    EXPECT_EQ(registry->Block()->refCount, 1u);
}

TEST(TlsRegistry, SecondModuleAttachesToTheSameBlockSlotAndList) {
    TlsRegistry *registry = InstallRegistry();
    EXPECT_EQ(registry->GetThreadRecord(false), nullptr); // attaches, makes no record
    const TlsBlock *first = registry->Block();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->refCount, 1u);
    EXPECT_EQ(first->threads, nullptr);
    TlsThreadRecord *record = registry->GetThreadRecord(true);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(registry->GetThreadRecord(true), record);

    const TlsBlock *second = SecondModuleAttach();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->refCount, 2u);
    EXPECT_EQ(first->refCount, 2u);
    EXPECT_EQ(second->slot, first->slot);
    EXPECT_EQ(second->threads, record);
    EXPECT_EQ(SecondModuleThreadRecord(false), record);
    EXPECT_EQ(SecondModuleThreadRecord(true), record);

    // an entry registered by the second module runs in this module's clean-up
    static int disposed;
    disposed = 0;
    TestKey key{{nullptr, [](void *value) { disposed = *static_cast<int *>(value); }}, nullptr};
    int value = 31;
    ASSERT_NE(SecondModuleRegister(&key, &value), nullptr);
    RunThreadExitCleanup();
    EXPECT_EQ(disposed, 31);
    EXPECT_EQ(key.entries, nullptr);
    EXPECT_EQ(second->threads, nullptr);
    EXPECT_EQ(SecondModuleThreadRecord(false), nullptr);
}

TEST(TlsRegistry, RecordsStandNewestFirstAndLeaveInAnyOrder) {
    TlsRegistry *registry = InstallRegistry();
    for (const bool firstEndsFirst : {true, false}) {
        Latch haveA{1}, haveB{1}, endA{1}, endB{1}, goneA{1}, goneB{1};
        TlsThreadRecord *recordA = nullptr, *recordB = nullptr;
        std::thread a([&] {
            recordA = registry->GetThreadRecord(true);
            haveA.count_down();
            endA.wait();
            RunThreadExitCleanup();
            goneA.count_down();
        });
        haveA.wait();
        std::thread b([&] {
            recordB = registry->GetThreadRecord(true);
            haveB.count_down();
            endB.wait();
            RunThreadExitCleanup();
            goneB.count_down();
        });
        haveB.wait();
        const TlsBlock *block = registry->Block();
        EXPECT_EQ(ThreadList(block), (std::vector<TlsThreadRecord *>{recordB, recordA}));

        Latch &endFirst = firstEndsFirst ? endA : endB;
        Latch &goneFirst = firstEndsFirst ? goneA : goneB;
        TlsThreadRecord *remaining = firstEndsFirst ? recordB : recordA;
        endFirst.count_down();
        goneFirst.wait();
        {
            ModuleTlsMutex().Lock();
            EXPECT_EQ(ThreadList(block), std::vector<TlsThreadRecord *>{remaining});
            EXPECT_EQ(remaining->next, nullptr);
            EXPECT_EQ(remaining->prevLink, &registry->Block()->threads);
            ModuleTlsMutex().Unlock();
        }
        (firstEndsFirst ? endB : endA).count_down();
        a.join();
        b.join();
        EXPECT_EQ(block->threads, nullptr) << firstEndsFirst;
    }
}

// What a clean-up function saw when it ran.
struct Disposal {
    std::string name;
    bool offThreadList;
    bool offKeyList;
    bool mutexFree;
};

struct Item {
    std::string name;
    TestKey *key;
    TlsEntry *entry = nullptr;
    TlsThreadRecord *record = nullptr;
};

std::vector<Disposal> disposals;
std::vector<std::future<void>> stuckTakers;

void Record(void *value) {
    auto *item = static_cast<Item *>(value);
    disposals.push_back({item->name, !Reachable(item->record->entries, &TlsEntry::next, item->entry),
                         !Reachable(item->key->entries, &TlsEntry::keyNext, item->entry), MutexFree(stuckTakers)});
}

void RecordAndThrow(void *value) {
    Record(value);
    throw std::runtime_error("clean-up failed");
}

TEST(TlsRegistry, CleanupRunsEntriesInListOrderWithTheMutexReleased) {
    TlsRegistry *registry = InstallRegistry();
    TestKey recording{{nullptr, Record}, nullptr};
    TestKey throwing{{nullptr, RecordAndThrow}, nullptr};
    TestKey noCleanup{{nullptr, nullptr}, nullptr};
    struct Case {
        const char *name;
        TestKey *key;
        bool nullValue;
    };
    // registered in this order; each joins the head of the thread's list
    const Case cases[] = {
        {"first", &recording, false}, {"no clean-up", &noCleanup, false}, {"null value", &recording, true},
        {"throws", &throwing, false}, {"after throw", &recording, false},
    };
    std::vector<Item> items;
    items.reserve(std::size(cases));
    for (const Case &c : cases) {
        items.push_back({c.name, c.key});
        Item &item = items.back();
        item.entry = Register(c.key, c.nullValue ? nullptr : &item);
        ASSERT_NE(item.entry, nullptr) << c.name;
        item.record = registry->GetThreadRecord(false);
    }
    // an entry of another thread under the same key stays on the key's list
    TlsEntry *foreign = nullptr;
    Latch registered{1}, end{1};
    std::thread other([&] {
        foreign = Register(&recording, nullptr);
        registered.count_down();
        end.wait();
        RunThreadExitCleanup();
    });
    registered.wait();

    disposals.clear();
    RunThreadExitCleanup();

    const std::vector<std::string> order{"after throw", "throws", "first"};
    ASSERT_EQ(disposals.size(), order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(disposals[i].name, order[i]);
        EXPECT_TRUE(disposals[i].offThreadList) << order[i];
        EXPECT_TRUE(disposals[i].offKeyList) << order[i];
        EXPECT_TRUE(disposals[i].mutexFree) << order[i];
    }
    EXPECT_EQ(noCleanup.entries, nullptr);
    EXPECT_EQ(throwing.entries, nullptr);
    EXPECT_EQ(recording.entries, foreign);
    EXPECT_EQ(foreign->keyPrevLink, &recording.entries);
    EXPECT_EQ(foreign->keyNext, nullptr);
    EXPECT_EQ(registry->GetThreadRecord(false), nullptr);
    ASSERT_EQ(ThreadList(registry->Block()).size(), 1u);

    end.count_down();
    other.join();
    EXPECT_EQ(recording.entries, nullptr);
    EXPECT_EQ(registry->Block()->threads, nullptr);
}

TEST(TlsRegistry, RecordWithoutEntriesIsUnlinkedAndFreed) {
    TlsRegistry *registry = InstallRegistry();
    ASSERT_NE(registry->GetThreadRecord(true), nullptr);
    RunThreadExitCleanup();
    EXPECT_EQ(registry->Block()->threads, nullptr);
    EXPECT_EQ(registry->GetThreadRecord(false), nullptr);
    EXPECT_NE(registry->GetThreadRecord(true), nullptr); // a fresh one when asked
    RunThreadExitCleanup();
}

} // namespace
} // namespace zel::test
