// The backing file of the EEPROM cells: raw bytes, exactly the part's size,
// mapped shared so that a committed byte is in the file at once, and locked
// so that a second opener is refused while this one holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace hoplink::sim {

class BackingFile {
public:
    BackingFile() = default;
    BackingFile(const BackingFile &) = delete;
    BackingFile &operator=(const BackingFile &) = delete;
    ~BackingFile();

    // Opens or creates (erased, 0xFF) `path` for a part of `size` bytes. An
    // empty file counts as new. False with one line in `error` when the file
    // cannot be opened, is held by another opener, or has another size.
    bool Open(const std::string &path, size_t size, std::string &error);
    std::span<uint8_t> Cells() { return {cells_, size_}; }

private:
    void Close();

    intptr_t file_ = -1;                       // descriptor or handle of the open file
    [[maybe_unused]] void *mapping_ = nullptr; // file-mapping object (Windows only)
    uint8_t *cells_ = nullptr;
    size_t size_ = 0;
};

} // namespace hoplink::sim
