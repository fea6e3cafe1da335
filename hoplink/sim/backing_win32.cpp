#include "backing.h"

#include <cstring>
#include <windows.h>

namespace hoplink::sim {
namespace {

std::string Quoted(const std::string &path) { return "SIMFILE '" + path + "'"; }

std::string LastError() { return "error " + std::to_string(GetLastError()); }

bool WriteErased(HANDLE file, size_t size) {
    uint8_t erased[4096];
    std::memset(erased, 0xFF, sizeof erased);
    size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(size - done < sizeof erased ? size - done : sizeof erased);
        DWORD written = 0;
        if (!WriteFile(file, erased, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

bool PrepareSize(HANDLE file, const std::string &path, size_t size, std::string &error) {
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file, &length)) {
        error = "cannot read the size of " + Quoted(path) + ": " + LastError();
        return false;
    }
    if (length.QuadPart == 0) {
        if (WriteErased(file, size))
            return true;
        error = "cannot write " + Quoted(path) + ": " + LastError();
        return false;
    }
    if (static_cast<uint64_t>(length.QuadPart) != size) {
        error = Quoted(path) + " holds " + std::to_string(length.QuadPart) + " bytes, the part holds " +
                std::to_string(size);
        return false;
    }
    return true;
}

} // namespace

BackingFile::~BackingFile() { Close(); }

void BackingFile::Close() {
    if (cells_)
        UnmapViewOfFile(cells_);
    if (mapping_)
        CloseHandle(mapping_);
    if (file_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(file_));
    cells_ = nullptr;
    mapping_ = nullptr;
    file_ = -1;
}

bool BackingFile::Open(const std::string &path, size_t size, std::string &error) {
    // Shared for reading only: while this handle lives, no other opener (in this
    // process or another) gets write access, but the file can be looked at.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError() == ERROR_SHARING_VIOLATION ? Quoted(path) + " is in use by another opener"
                                                          : "cannot open " + Quoted(path) + ": " + LastError();
        return false;
    }
    file_ = reinterpret_cast<intptr_t>(file);
    if (!PrepareSize(file, path, size, error)) {
        Close();
        return false;
    }
    mapping_ = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    void *cells = mapping_ ? MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, size) : nullptr;
    if (!cells) {
        error = "cannot map " + Quoted(path) + ": " + LastError();
        Close();
        return false;
    }
    cells_ = static_cast<uint8_t *>(cells);
    size_ = size;
    return true;
}

} // namespace hoplink::sim
