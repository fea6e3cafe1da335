#include "platform/file.h"

#include <windows.h>

namespace zel::platform {
namespace {

// A plain disk file with a single name.
bool SingleLinkDiskFile(const char *path) {
    const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool single = GetFileType(file) == FILE_TYPE_DISK &&
                        GetFileInformationByHandle(file, &information) &&
                        information.nNumberOfLinks == 1;
    CloseHandle(file);
    return single;
}

} // namespace

bool ReplaceableByMove(const char *path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    const DWORD special = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                          FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY;
    return (attributes & special) == 0 && SingleLinkDiskFile(path);
}

bool MoveFileOver(const char *from, const char *to) {
    // the new file takes the attributes of the old one
    const DWORD attributes = GetFileAttributesA(to);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(from, attributes);
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

} // namespace zel::platform
