// Feeds arbitrary bytes to one of zelprog's image readers (Intel HEX or
// S-record, chosen at build time). Property: the cells a file was read as,
// written out in the same format and read again, give the same cells, and
// the named runs survive the trip at their addresses.
#include "formats/image_format.h"

#include <cstdlib>
#include <string_view>

#ifndef ZEL_FUZZ_FORMAT
#error "ZEL_FUZZ_FORMAT names the image format under test"
#endif

namespace {

constexpr std::size_t kDeviceBytes = 131072; // the largest part: addresses above 64 KiB are reached

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace zelprog;
    const ImageFormat format = ImageFormat::ZEL_FUZZ_FORMAT;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    Bytes image;
    std::string error;
    if (!DecodeImage(format, text, kDeviceBytes, false, image, error))
        return 0;
    Check(image.size() == kDeviceBytes);
    Bytes again;
    Check(DecodeImage(format, EncodeImage(format, image), kDeviceBytes, false, again, error));
    Check(again == image);

    Runs runs;
    if (!DecodeRuns(format, text, kDeviceBytes, runs, error))
        return 0; // a file that names no cell
    for (const Run &run : runs) {
        std::string out;
        Check(EncodeRange(format, run.address, run.bytes, out));
        Runs back;
        Check(DecodeRuns(format, out, kDeviceBytes, back, error));
        Check(back.size() == 1 && back[0].address == run.address && back[0].bytes == run.bytes);
        for (std::size_t i = 0; i < run.bytes.size(); ++i)
            Check(image[run.address + i] == run.bytes[i]);
    }
    return 0;
}
