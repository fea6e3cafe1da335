#include "core/file_io.h"

#include "core/os.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zelprog {
namespace {

std::string Describe(const std::string &path) { return path == "-" ? "standard input" : "'" + path + "'"; }

std::string IsDirectory(const std::string &path) { return "'" + path + "' is a directory: name a file"; }

bool ReadStream(std::FILE *f, std::string &data) {
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        data.append(buffer, n);
    return std::ferror(f) == 0;
}

} // namespace

bool ReadWholeFile(const std::string &path, std::string &data, std::string &error) {
    data.clear();
    if (path == "-") {
        if (ReadStream(stdin, data))
            return true;
        error = "cannot read standard input";
        return false;
    }
    if (os::KindOf(path) == os::FileKind::Directory) {
        error = IsDirectory(path);
        return false;
    }
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = "cannot open " + Describe(path) + " for reading: " + std::strerror(errno);
        return false;
    }
    const bool ok = ReadStream(f, data);
    std::fclose(f);
    if (!ok)
        error = "cannot read " + Describe(path);
    return ok;
}

bool WriteWholeFile(const std::string &path, std::string_view data, std::string &error) {
    if (path == "-") {
        const bool ok =
            std::fwrite(data.data(), 1, data.size(), stdout) == data.size() && std::fflush(stdout) == 0;
        if (!ok)
            error = "cannot write to standard output";
        return ok;
    }
    switch (os::KindOf(path)) {
    case os::FileKind::Directory:
        error = IsDirectory(path);
        return false;
    case os::FileKind::Special:
        return os::WriteInPlace(path, data, error);
    case os::FileKind::Missing:
    case os::FileKind::Regular:
        break;
    }
    return os::ReplaceWholeFile(path, data, error);
}

bool CanWriteFile(const std::string &path, std::string &error) {
    if (path == "-")
        return true;
    switch (os::KindOf(path)) {
    case os::FileKind::Directory:
        error = IsDirectory(path);
        return false;
    case os::FileKind::Special:
        return true; // opened once the data is there: opening a FIFO waits for its reader
    case os::FileKind::Missing:
    case os::FileKind::Regular:
        break;
    }
    return os::CanReplaceFile(path, error);
}

} // namespace zelprog
