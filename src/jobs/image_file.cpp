#include "jobs/image_file.h"

#include "platform/file.h"

#include <cstdio>
#include <new>
#include <string>

namespace zel {
namespace {

// One read takes at most 98 characters; a longer line arrives in pieces,
// each handled as a line of its own.
constexpr int kLineBuffer = 100;
constexpr int kReadCount = 99;

// The new contents are written here and moved over the target when whole.
constexpr const char *kTemporarySuffix = ".zeltmp";

// White space as the C locale has it, whatever locale the host set.
bool IsBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The value of a hex digit of either case, or -1.
int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Stores one record: the text after its '@'. False when the index token is
// bad or names a word outside the image; a bad value token is not an error.
bool StoreRecord(const char *text, uint16_t *image, uint32_t words) {
    uint32_t index = 0;
    const char *next = ReadHexToken(text, &index);
    if (!next)
        return false;
    uint32_t value = 0;
    ReadHexToken(next, &value);
    if (index >= words)
        return false;
    image[index] = static_cast<uint16_t>(value);
    return true;
}

bool ReadRecords(FILE *file, uint16_t *image, uint32_t words) {
    char line[kLineBuffer];
    while (std::fgets(line, kReadCount, file)) {
        if (line[0] == '@' && !StoreRecord(line + 1, image, words))
            return false;
    }
    // fgets gave up: at the end of the file, or on a read error
    return !std::ferror(file);
}

bool WriteRecords(FILE *file, const uint16_t *image, uint32_t words) {
    for (uint32_t i = 0; i < words; ++i) {
        if (std::fprintf(file, "@%04x  %04x\n", static_cast<unsigned>(i),
                         static_cast<unsigned>(image[i])) < 0)
            return false;
    }
    return true;
}

// Writes the records and closes the file; true only when every write and
// the close (which flushes the last of them) succeeded.
bool WriteAndClose(FILE *file, const uint16_t *image, uint32_t words) {
    const bool written = WriteRecords(file, image, words);
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

// Writes straight into the target: for targets that a move cannot replace
// (devices, links) and where no file can be made next to the target.
bool WriteInPlace(const char *path, const uint16_t *image, uint32_t words) {
    FILE *file = std::fopen(path, "w");
    if (!file) {
        std::printf("Couldn't open '%s' for output\n", path);
        return false;
    }
    return WriteAndClose(file, image, words);
}

// The name of the file that the new contents go to first; false when no
// memory was left for it.
bool TemporaryName(const char *path, std::string *name) {
    try {
        *name = std::string(path) + kTemporarySuffix;
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

} // namespace

const char *ReadHexToken(const char *position, uint32_t *value) {
    *value = 0;
    while (IsBlank(static_cast<unsigned char>(*position)))
        ++position;
    for (;; ++position) {
        const auto c = static_cast<unsigned char>(*position);
        if (c == '\0')
            return position;
        if (IsBlank(c))
            return position + 1;
        const int digit = HexDigit(c);
        if (digit < 0)
            return nullptr;
        // unsigned 32-bit: a token of more than eight digits keeps its last eight
        *value = *value * 16u + static_cast<uint32_t>(digit);
    }
}

bool ReadImageFile(const char *path, uint16_t *image, uint32_t length) {
    if (!path || (!image && length >= 2))
        return false;
    FILE *file = std::fopen(path, "r");
    if (!file) {
        std::printf("Couldn't open '%s' for input\n", path);
        return false;
    }
    const bool read = ReadRecords(file, image, length / 2);
    std::fclose(file);
    return read;
}

bool WriteImageFile(const char *path, const uint16_t *image, uint32_t length) {
    const uint32_t words = length / 2;
    if (!path || (!image && words > 0))
        return false;
    std::string temporary;
    if (!platform::ReplaceableByMove(path) || !TemporaryName(path, &temporary))
        return WriteInPlace(path, image, words);
    FILE *file = std::fopen(temporary.c_str(), "w");
    if (!file)
        return WriteInPlace(path, image, words);
    if (WriteAndClose(file, image, words) && platform::MoveFileOver(temporary.c_str(), path))
        return true;
    std::remove(temporary.c_str());
    return false;
}

} // namespace zel
