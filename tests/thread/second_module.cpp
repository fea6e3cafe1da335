#include "second_module.h"

zel::TlsBlock *SecondModuleAttach() {
    zel::TlsRegistry *registry = zel::test::InstallRegistry();
    registry->GetThreadRecord(false);
    return registry->Block();
}

zel::TlsThreadRecord *SecondModuleThreadRecord(bool create) {
    return zel::ModuleTlsRegistry()->GetThreadRecord(create);
}

zel::TlsEntry *SecondModuleRegister(zel::test::TestKey *key, void *value) {
    return zel::test::Register(key, value);
}
