#include "backing.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hoplink::sim {
namespace {

std::string Quoted(const std::string &path) { return "SIMFILE '" + path + "'"; }

// Fills a new file with erased cells before it is mapped.
bool WriteErased(int fd, size_t size) {
    uint8_t erased[4096];
    std::memset(erased, 0xFF, sizeof erased);
    size_t done = 0;
    while (done < size) {
        const size_t chunk = size - done < sizeof erased ? size - done : sizeof erased;
        const ssize_t written = pwrite(fd, erased, chunk, static_cast<off_t>(done));
        if (written <= 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

bool PrepareSize(int fd, const std::string &path, size_t size, std::string &error) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error = "cannot read the size of " + Quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    if (info.st_size == 0) {
        if (WriteErased(fd, size))
            return true;
        error = "cannot write " + Quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    if (static_cast<uint64_t>(info.st_size) != size) {
        error = Quoted(path) + " holds " + std::to_string(info.st_size) + " bytes, the part holds " +
                std::to_string(size);
        return false;
    }
    return true;
}

} // namespace

BackingFile::~BackingFile() { Close(); }

void BackingFile::Close() {
    if (cells_)
        munmap(cells_, size_);
    if (file_ >= 0)
        close(static_cast<int>(file_)); // also drops the lock
    cells_ = nullptr;
    file_ = -1;
}

bool BackingFile::Open(const std::string &path, size_t size, std::string &error) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open " + Quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    file_ = fd;
    // flock belongs to this open file description: a second open, in this
    // process or another, is refused while this one lives.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = Quoted(path) + " is in use by another opener";
        Close();
        return false;
    }
    if (!PrepareSize(fd, path, size, error)) {
        Close();
        return false;
    }
    void *cells = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (cells == MAP_FAILED) {
        error = "cannot map " + Quoted(path) + ": " + std::strerror(errno);
        Close();
        return false;
    }
    cells_ = static_cast<uint8_t *>(cells);
    size_ = size;
    return true;
}

} // namespace hoplink::sim
