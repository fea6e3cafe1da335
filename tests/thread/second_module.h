// A second module of the test process with its own copy of the registry code
// and its own module-wide mutex handle and registry pointer.
#pragma once

#include "registrar.h"
#include "second_module_export.h"

// Installs the module's registry, attaches it and returns its view of the block.
SECOND_MODULE_EXPORT zel::TlsBlock *SecondModuleAttach();
// The calling thread's record as this module finds it.
SECOND_MODULE_EXPORT zel::TlsThreadRecord *SecondModuleThreadRecord(bool create);
// Registers an entry from this module on the calling thread.
SECOND_MODULE_EXPORT zel::TlsEntry *SecondModuleRegister(zel::test::TestKey *key, void *value);
