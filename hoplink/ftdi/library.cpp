#include "library.h"

#include <dlfcn.h>

#include <mutex>

namespace hoplink::ftdi {
namespace {

template <typename Function> bool Resolve(void *handle, const char *name, Function &function, std::string &error) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    if (!function)
        error = std::string("libftdi1.so.2 has no ") + name + ": libftdi1 1.5 or later is needed";
    return function != nullptr;
}

bool ResolveAll(void *handle, Library &l, std::string &error) {
    return Resolve(handle, "ftdi_new", l.newContext, error) &&
           Resolve(handle, "ftdi_free", l.freeContext, error) &&
           Resolve(handle, "ftdi_set_interface", l.setInterface, error) &&
           Resolve(handle, "ftdi_usb_find_all", l.findAll, error) &&
           Resolve(handle, "ftdi_list_free", l.listFree, error) &&
           Resolve(handle, "ftdi_usb_get_strings", l.getStrings, error) &&
           Resolve(handle, "ftdi_usb_open_dev", l.openDevice, error) &&
           Resolve(handle, "ftdi_usb_open_string", l.openString, error) &&
           Resolve(handle, "ftdi_usb_reset", l.reset, error) &&
           Resolve(handle, "ftdi_tcioflush", l.flush, error) &&
           Resolve(handle, "ftdi_set_latency_timer", l.setLatency, error) &&
           Resolve(handle, "ftdi_set_bitmode", l.setBitmode, error) &&
           Resolve(handle, "ftdi_write_data_set_chunksize", l.setWriteChunk, error) &&
           Resolve(handle, "ftdi_write_data", l.write, error) &&
           Resolve(handle, "ftdi_read_data", l.read, error) &&
           Resolve(handle, "ftdi_get_error_string", l.errorString, error) &&
           Resolve(handle, "ftdi_usb_close", l.close, error);
}

} // namespace

// Loaded once and never unloaded: a library that failed to load is tried
// again at the next call (it may have been installed meanwhile).
const Library *LoadLibrary(std::string &error) {
    static std::mutex mutex;
    static Library library;
    static bool loaded = false;
    const std::lock_guard<std::mutex> lock(mutex);
    if (loaded)
        return &library;
    void *handle = dlopen("libftdi1.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = std::string("cannot load libftdi1 (") + dlerror() + "): install libftdi1-2";
        return nullptr;
    }
    if (!ResolveAll(handle, library, error)) {
        dlclose(handle);
        return nullptr;
    }
    loaded = true;
    return &library;
}

} // namespace hoplink::ftdi
