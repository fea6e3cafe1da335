// A file name in the temporary directory, unique to this process, removed
// when the object goes. The library reads and writes text images by path,
// so every conversion passes through one of these.
#pragma once

#include <filesystem>
#include <string>

namespace zelprog {

class TempFile {
public:
    explicit TempFile(const char *tag);
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

} // namespace zelprog
