#include "zelapi.h"

#include "version/version_info.h"

#include <cstring>
#include <string>

namespace {

// The bare name under which the platform finds the library itself.
constexpr const char *kLibraryName = "ZelApi.dll";

} // namespace

int zelGetVersion(char *buffer) {
    try {
        zel::VersionInfo<std::string> info(kLibraryName);
        if (!buffer)
            return 1;
        const std::string text = info.GetFileVersion();
        // no length is known: the copy ends with the first terminator
        std::strcpy(buffer, text.c_str());
    } catch (...) {
        // no memory left for the text: an empty version, as for any failure
        if (buffer)
            buffer[0] = '\0';
    }
    return 1;
}
