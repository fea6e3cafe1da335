#include "platform/file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace zel::platform {
namespace {

// A regular file with a single name that we may write: a move can replace
// it without changing anything but its contents.
bool ReplaceableFile(const char *path) {
    struct stat status {};
    if (lstat(path, &status) != 0)
        return false;
    return S_ISREG(status.st_mode) && status.st_nlink == 1 && access(path, W_OK) == 0;
}

// Gives the new file the owner and mode of `model`. The owner is kept only
// where we may give files away; a new file of ours then does not take the
// set-user, set-group and sticky bits of someone else's.
bool TakeOwnerAndMode(int descriptor, const struct stat &model) {
    const bool owner = fchown(descriptor, model.st_uid, model.st_gid) == 0;
    if (!owner)
        fchown(descriptor, static_cast<uid_t>(-1), model.st_gid); // our own group, where we are in it
    const mode_t mode = model.st_mode & (owner ? 07777 : 0777);
    return fchmod(descriptor, mode) == 0;
}

} // namespace

bool ReplacementTarget(const char *path, std::string *file) {
    struct stat status {};
    if (lstat(path, &status) != 0) {
        if (errno != ENOENT)
            return false;
        *file = path;
        return true;
    }
    if (!S_ISLNK(status.st_mode)) {
        *file = path;
        return ReplaceableFile(path);
    }
    const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path, nullptr), &std::free);
    if (!resolved)
        return false;
    *file = resolved.get();
    return ReplaceableFile(resolved.get());
}

Created CreateNewFile(const char *name, const char *model, FILE **stream) {
    struct stat status {};
    const bool modelled = stat(model, &status) == 0;
    // O_EXCL refuses any existing entry, a link included, even one that
    // leads nowhere; the mode is made exact below, past the umask
    const int descriptor =
        open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, modelled ? status.st_mode & 0777 : 0666);
    if (descriptor < 0)
        return errno == EEXIST ? Created::kNameTaken : Created::kFailed;
    if ((modelled && !TakeOwnerAndMode(descriptor, status)) || !(*stream = fdopen(descriptor, "w"))) {
        close(descriptor);
        unlink(name);
        return Created::kFailed;
    }
    return Created::kMade;
}

bool CloseToDisk(FILE *stream) {
    const bool synced = std::fflush(stream) == 0 && fsync(fileno(stream)) == 0;
    const bool closed = std::fclose(stream) == 0;
    return synced && closed;
}

Moved MoveFileOver(const char *from, const char *to) {
    // rename(2) replaces an existing target atomically
    return std::rename(from, to) == 0 ? Moved::kDone : Moved::kFailed;
}

} // namespace zel::platform
