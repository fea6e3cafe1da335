#include "platform/module.h"

#include <dlfcn.h>

namespace zel::platform {
namespace {

const void *ModuleBase(const void *address) {
    Dl_info info{};
    return dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
}

} // namespace

void *FindSiblingFunction(const void *anchor, const char *name) {
    Dl_info info{};
    if (dladdr(anchor, &info) == 0 || info.dli_fbase == nullptr) {
        return nullptr;
    }
    // a shared library answers to its own name; the program itself does not
    void *module = info.dli_fname != nullptr ? dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD) : nullptr;
    if (module == nullptr) {
        module = dlopen(nullptr, RTLD_LAZY);
    }
    if (module == nullptr) {
        return nullptr;
    }
    void *function = dlsym(module, name);
    dlclose(module); // only drops the reference taken above: the module stays loaded
    // the program's handle searches every global module: keep only the anchor's own
    return function != nullptr && ModuleBase(function) == info.dli_fbase ? function : nullptr;
}

} // namespace zel::platform
