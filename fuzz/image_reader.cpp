// Feeds arbitrary bytes to the image reader as a file. Property: whatever
// the reader accepted, written out and read back, gives the same words.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "jobs/image_file.h"

namespace {

constexpr uint32_t kImageBytes = 256;
constexpr int kWords = kImageBytes / 2;

std::string TempPath(const char *what) { return "/tmp/zel-fuzz-" + std::to_string(getpid()) + "-" + what; }

void FillErased(uint16_t *words) {
    for (int i = 0; i < kWords; ++i)
        words[i] = 0xFFFF;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string input = TempPath("in.img");
    static const std::string output = TempPath("out.img");
    FILE *file = std::fopen(input.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    uint16_t words[kWords];
    FillErased(words);
    if (!zel::ReadImageFile(input.c_str(), words, kImageBytes))
        return 0;

    if (!zel::WriteImageFile(output.c_str(), words, kImageBytes))
        std::abort();
    uint16_t again[kWords];
    FillErased(again);
    if (!zel::ReadImageFile(output.c_str(), again, kImageBytes))
        std::abort();
    for (int i = 0; i < kWords; ++i) {
        if (again[i] != words[i])
            std::abort();
    }
    return 0;
}
