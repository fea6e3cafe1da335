// Without version resources in its files, the platform answers for the
// library's own name from the block built into the library. The size it
// reports leaves room behind the block for narrow copies of text values,
// which the value query makes there, as the Windows narrow API does.
#include "platform/version_info.h"

#include "platform/version_block_posix.h"

#include <cstring>
#include <strings.h>

namespace zel::platform {
namespace {

// The bare file name under which the library finds itself.
constexpr const char *kOwnName = "ZelApi.dll";
constexpr size_t kHeaderBytes = 6;

std::span<const uint8_t> installedBlock;

size_t Align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

size_t StoredLength(const uint8_t *block) { return block[0] | block[1] << 8; }

bool IsOwnName(const char *fileName) { return fileName && strcasecmp(fileName, kOwnName) == 0; }

// The block that answers for the library's own name; empty when its stored
// length does not fit the bytes that hold it.
std::span<const uint8_t> AnsweringBlock() {
    const std::span<const uint8_t> block = installedBlock.empty() ? OwnVersionBlock() : installedBlock;
    if (block.size() < kHeaderBytes)
        return {};
    const size_t length = StoredLength(block.data());
    if (length < kHeaderBytes || length > block.size())
        return {};
    return block.first(length);
}

// Narrow copies of text values live behind the block, each at half the
// offset of its UTF-16 original, so that copies of different values never
// overlap.
size_t NarrowArea(size_t blockLength) { return Align4(blockLength); }
size_t TotalSize(size_t blockLength) { return NarrowArea(blockLength) + blockLength / 2; }

// Characters outside ASCII become '?'.
char *NarrowCopy(uint8_t *block, const VersionValue &value) {
    char *narrow = reinterpret_cast<char *>(block + NarrowArea(StoredLength(block)) + value.offset / 2);
    for (unsigned i = 0; i < value.length; ++i) {
        const unsigned unit = block[value.offset + 2 * i] | block[value.offset + 2 * i + 1] << 8;
        narrow[i] = unit <= 0x7F ? static_cast<char>(unit) : '?';
    }
    return narrow;
}

} // namespace

void InstallVersionBlock(std::span<const uint8_t> block) { installedBlock = block; }

uint32_t VersionInfoSize(const char *fileName, uint32_t *handle) {
    if (handle)
        *handle = 0;
    if (!IsOwnName(fileName))
        return 0;
    const std::span<const uint8_t> block = AnsweringBlock();
    return block.empty() ? 0 : static_cast<uint32_t>(TotalSize(block.size()));
}

int ReadVersionInfo(const char *fileName, uint32_t, uint32_t length, void *data) {
    if (!IsOwnName(fileName) || !data)
        return 0;
    const std::span<const uint8_t> block = AnsweringBlock();
    if (block.empty() || length < TotalSize(block.size()))
        return 0;
    std::memcpy(data, block.data(), block.size());
    std::memset(static_cast<uint8_t *>(data) + block.size(), 0, length - block.size());
    return 1;
}

int QueryVersionValue(void *block, const char *subBlock, void **value, unsigned *length) {
    auto *bytes = static_cast<uint8_t *>(block);
    VersionValue found{};
    if (!bytes || !FindVersionValue({bytes, StoredLength(bytes)}, subBlock, &found)) {
        *value = nullptr;
        *length = 0;
        return 0;
    }
    *value = found.text ? static_cast<void *>(NarrowCopy(bytes, found)) : bytes + found.offset;
    *length = found.length;
    return 1;
}

} // namespace zel::platform
