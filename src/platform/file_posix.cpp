#include "platform/file.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace zel::platform {

bool ReplaceableByMove(const char *path) {
    struct stat status {};
    if (lstat(path, &status) != 0)
        return errno == ENOENT;
    // a file we may not write must not be replaced by a move either
    return S_ISREG(status.st_mode) && status.st_nlink == 1 && access(path, W_OK) == 0;
}

bool MoveFileOver(const char *from, const char *to) {
    struct stat status {};
    if (stat(to, &status) == 0 && chmod(from, status.st_mode & 07777) != 0)
        return false;
    // rename(2) replaces an existing target atomically
    return std::rename(from, to) == 0;
}

} // namespace zel::platform
