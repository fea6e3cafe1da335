// The registering side of the thread-exit registry, which only tests have:
// installs this module's registry and registers clean-up entries.
#pragma once

#include "thread/tls_registry.h"

namespace zel::test {

// A key: the registry reads only `key.cleanup`; `entries` heads the key's list.
struct TestKey {
    TlsKey key;
    TlsEntry *entries;
};

// Makes this module's registry (once) and sets the module-wide pointer to it.
TlsRegistry *InstallRegistry();

// Registers `value` on the calling thread: the entry joins the head of the
// thread's list and the head of the key's list. Null when no record can be had.
TlsEntry *Register(TestKey *key, void *value);

} // namespace zel::test
