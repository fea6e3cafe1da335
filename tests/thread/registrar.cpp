#include "registrar.h"

#include "thread/tls_mutex.h"

namespace zel::test {

TlsRegistry *InstallRegistry() {
    static TlsRegistry registry;
    SetModuleTlsRegistry(&registry);
    return &registry;
}

TlsEntry *Register(TestKey *key, void *value) {
    TlsRegistry *registry = ModuleTlsRegistry();
    TlsThreadRecord *record = registry == nullptr ? nullptr : registry->GetThreadRecord(true);
    if (record == nullptr)
        return nullptr;
    auto *entry = new TlsEntry{&key->key, value, nullptr, nullptr, nullptr, nullptr};
    ModuleTlsMutex().Lock();
    entry->next = record->entries;
    record->entries = entry;
    entry->keyNext = key->entries;
    if (entry->keyNext != nullptr)
        entry->keyNext->keyPrevLink = &entry->keyNext;
    entry->keyPrevLink = &key->entries;
    key->entries = entry;
    ModuleTlsMutex().Unlock();
    return entry;
}

} // namespace zel::test
