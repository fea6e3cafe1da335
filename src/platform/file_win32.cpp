#include "platform/file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace zel::platform {
namespace {

// A plain disk file with a single name.
bool SingleLinkDiskFile(const char *path) {
    const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool single = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &information) &&
                        information.nNumberOfLinks == 1;
    CloseHandle(file);
    return single;
}

// The attributes that the new file takes over from the one it replaces.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

} // namespace

// Links (reparse points) are written in place: they are not followed here.
bool ReplacementTarget(const char *path, std::string *file) {
    const DWORD attributes = GetFileAttributesA(path);
    *file = path;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    const DWORD special =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY;
    return (attributes & special) == 0 && SingleLinkDiskFile(path);
}

Created CreateNewFile(const char *name, const char *model, FILE **stream) {
    const DWORD modelAttributes = GetFileAttributesA(model);
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (modelAttributes != INVALID_FILE_ATTRIBUTES && (modelAttributes & kKeptAttributes) != 0)
        attributes = modelAttributes & kKeptAttributes;
    // CREATE_NEW fails on any existing entry of that name, a link included
    const HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Created::kNameTaken
                                                                           : Created::kFailed;
    }
    // a text stream, as fopen "w" gives
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_TEXT);
    if (descriptor < 0) {
        CloseHandle(file);
        DeleteFileA(name);
        return Created::kFailed;
    }
    *stream = _fdopen(descriptor, "w");
    if (!*stream) {
        _close(descriptor);
        DeleteFileA(name);
        return Created::kFailed;
    }
    return Created::kMade;
}

bool CloseToDisk(FILE *stream) {
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    const bool flushed = std::fflush(stream) == 0 && FlushFileBuffers(file);
    const bool closed = std::fclose(stream) == 0;
    return flushed && closed;
}

Moved MoveFileOver(const char *from, const char *to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Moved::kDone;
    // a target open without delete sharing cannot be replaced, but may be written
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? Moved::kTargetBusy : Moved::kFailed;
}

} // namespace zel::platform
