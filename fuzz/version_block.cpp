// Feeds arbitrary bytes to the version reader as the library's own version
// block. Property: no read or write outside the block and the room the
// service reported for it (the sanitizers watch), no value longer than that room.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/version_block_posix.h"
#include "version/version_info.h"

namespace {

const char *const kPaths[] = {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo",
                              "\\StringFileInfo\\080904b0\\FileVersion"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    zel::platform::InstallVersionBlock({data, size});
    zel::VersionInfo<std::string> info("ZelApi.dll");
    for (const char *path : kPaths) {
        unsigned length = 0;
        const auto *value = static_cast<const uint8_t *>(info.QueryValue(path, &length));
        if (value && length > info.InfoSize())
            std::abort();
    }
    info.GetFileVersion();
    zel::platform::InstallVersionBlock({});
    return 0;
}
