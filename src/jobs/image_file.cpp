#include "jobs/image_file.h"

#include "jobs/text_image.h"
#include "platform/file.h"

#include <atomic>
#include <cstdio>
#include <new>
#include <random>
#include <string>

namespace zel {
namespace {

// One read takes one lenient line: a longer line arrives in pieces, each
// handled as a line of its own.
constexpr int kReadCount = static_cast<int>(kLenientLine) + 1;
constexpr int kLineBuffer = kReadCount + 1;

// The new contents are written to "<target>.<eight hex digits>.zeltmp" and
// moved over the target when whole. A name that is taken is never reused:
// the next attempt draws another.
constexpr const char *kTemporarySuffix = ".zeltmp";
constexpr int kNameAttempts = 100;

bool ReadRecords(FILE *file, uint16_t *image, uint32_t words) {
    char line[kLineBuffer];
    while (std::fgets(line, kReadCount, file)) {
        if (ReadTextImage(line, TextMode::kLenient, image, words).fault != TextFault::kNone)
            return false;
    }
    // fgets gave up: at the end of the file, or on a read error
    return !std::ferror(file);
}

// The records go out in pieces of about 4 KiB, each handed to the system at
// once (the stream keeps no buffer) and each only while the writer may go on:
// nothing is written after the caller said stop, not even at the close.
constexpr size_t kPieceBytes = 4096;

bool WriteRecords(FILE *file, const uint16_t *image, uint32_t words, const KeepWriting &keepWriting) {
    if (std::setvbuf(file, nullptr, _IONBF, 0) != 0)
        return false;
    char piece[kPieceBytes + kLongestTextRecord];
    uint32_t i = 0;
    while (i < words) {
        size_t used = 0;
        for (; i < words && used < kPieceBytes; ++i) {
            used += WriteTextRecord(piece + used, i, image[i]);
        }
        if ((keepWriting && !keepWriting()) || std::fwrite(piece, 1, used, file) != used)
            return false;
    }
    return true;
}

// Writes the records and closes the file; true only when every write and
// the close succeeded.
bool WriteAndClose(FILE *file, const uint16_t *image, uint32_t words, const KeepWriting &keepWriting) {
    const bool written = WriteRecords(file, image, words, keepWriting);
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

bool ReportUnopenable(const char *path) {
    std::printf("Couldn't open '%s' for output\n", path);
    return false;
}

// Writes straight into the target: for targets that a move cannot replace
// (devices, files with several names) and targets that another process
// holds so that they cannot be replaced.
bool WriteInPlace(const char *path, const uint16_t *image, uint32_t words, const KeepWriting &keepWriting) {
    FILE *file = std::fopen(path, "w");
    if (!file)
        return ReportUnopenable(path);
    return WriteAndClose(file, image, words, keepWriting);
}

// Eight hex digits that differ from call to call and from process to process.
uint32_t NameDraw() {
    static std::atomic<uint32_t> count{0};
    uint32_t draw = count.fetch_add(1) * 0x9E3779B9u;
    try {
        draw ^= std::random_device{}();
    } catch (...) {
        // no random source: the count alone still moves on past taken names
    }
    return draw;
}

// Makes the new file beside `target` under a name that nothing held before.
bool CreateBeside(const std::string &target, std::string *name, FILE **stream) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        char draw[10];
        std::snprintf(draw, sizeof draw, ".%08x", static_cast<unsigned>(NameDraw()));
        *name = target + draw + kTemporarySuffix;
        switch (platform::CreateNewFile(name->c_str(), target.c_str(), stream)) {
        case platform::Created::kMade:
            return true;
        case platform::Created::kNameTaken:
            continue;
        case platform::Created::kFailed:
            return false;
        }
    }
    return false;
}

bool WriteByMove(const char *path, const std::string &target, const uint16_t *image, uint32_t words,
                 const KeepWriting &keepWriting) {
    std::string temporary;
    FILE *file = nullptr;
    if (!CreateBeside(target, &temporary, &file))
        return ReportUnopenable(path);
    const bool written = WriteRecords(file, image, words, keepWriting);
    // the target is replaced only while the writer may still go on
    if (!platform::CloseToDisk(file) || !written || (keepWriting && !keepWriting())) {
        std::remove(temporary.c_str());
        return false;
    }
    const platform::Moved moved = platform::MoveFileOver(temporary.c_str(), target.c_str());
    if (moved == platform::Moved::kDone)
        return true;
    std::remove(temporary.c_str());
    if (moved == platform::Moved::kTargetBusy)
        return WriteInPlace(path, image, words, keepWriting);
    return ReportUnopenable(path);
}

} // namespace

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

bool WriteImageFile(const char *path, const uint16_t *image, uint32_t length, const KeepWriting &keepWriting) {
    const uint32_t words = length / 2;
    if (!path || (!image && words > 0))
        return false;
    // no file has the empty name
    if (*path == '\0')
        return ReportUnopenable(path);
    try {
        std::string target;
        if (!platform::ReplacementTarget(path, &target))
            return WriteInPlace(path, image, words, keepWriting);
        return WriteByMove(path, target, image, words, keepWriting);
    } catch (const std::bad_alloc &) {
        return ReportUnopenable(path);
    }
}

} // namespace zel
