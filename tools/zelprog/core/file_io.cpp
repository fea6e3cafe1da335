#include "core/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zelprog {
namespace {

std::string Describe(const std::string &path) { return path == "-" ? "standard input" : "'" + path + "'"; }

bool ReadStream(std::FILE *f, std::string &data)
{
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        data.append(buffer, n);
    return std::ferror(f) == 0;
}

} // namespace

bool ReadWholeFile(const std::string &path, std::string &data, std::string &error)
{
    data.clear();
    if (path == "-") {
        if (ReadStream(stdin, data))
            return true;
        error = "cannot read standard input";
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

bool WriteWholeFile(const std::string &path, std::string_view data, std::string &error)
{
    if (path == "-") {
        const bool ok = std::fwrite(data.data(), 1, data.size(), stdout) == data.size() && std::fflush(stdout) == 0;
        if (!ok)
            error = "cannot write to standard output";
        return ok;
    }
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot open '" + path + "' for writing: " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed)
        error = "cannot write '" + path + "' (disk full?)";
    return written && closed;
}

bool CanWriteFile(const std::string &path, std::string &error)
{
    if (path == "-")
        return true;
    std::FILE *f = std::fopen(path.c_str(), "r+b");
    bool made = false;
    if (f == nullptr && errno == ENOENT) {
        f = std::fopen(path.c_str(), "ab");
        made = f != nullptr;
    }
    if (f == nullptr) {
        error = "cannot open '" + path + "' for writing: " + std::strerror(errno);
        return false;
    }
    std::fclose(f);
    if (made)
        std::remove(path.c_str());
    return true;
}

} // namespace zelprog
