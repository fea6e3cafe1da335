#include "platform/version_block_posix.h"

#include <optional>

namespace zel::platform {
namespace {

constexpr size_t kHeaderBytes = 6; // length, valueLength, type

struct Node {
    size_t start;
    size_t end; // start + length
    size_t key; // first character of the key
    size_t value;
    size_t children;
    unsigned valueLength;
    bool text;
};

size_t Align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

uint16_t WordAt(std::span<const uint8_t> block, size_t offset) {
    return static_cast<uint16_t>(block[offset] | block[offset + 1] << 8);
}

// The node at `start`, which must lie whole before `limit` (its parent's end).
std::optional<Node> ReadNode(std::span<const uint8_t> block, size_t start, size_t limit) {
    if (start + kHeaderBytes > limit)
        return std::nullopt;
    Node node{};
    node.start = start;
    node.end = start + WordAt(block, start);
    node.valueLength = WordAt(block, start + 2);
    node.text = WordAt(block, start + 4) == 1;
    if (node.end > limit)
        return std::nullopt;
    node.key = start + kHeaderBytes;
    size_t terminator = node.key;
    while (terminator + 2 <= node.end && WordAt(block, terminator) != 0)
        terminator += 2;
    if (terminator + 2 > node.end)
        return std::nullopt;
    node.value = Align4(terminator + 2);
    const size_t valueBytes = node.text ? 2 * size_t{node.valueLength} : node.valueLength;
    if (valueBytes > 0 && node.value + valueBytes > node.end)
        return std::nullopt;
    node.children = Align4(node.value + valueBytes);
    return node;
}

unsigned char LowerAscii(unsigned c) {
    return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

// Compares the node's key with the `count` characters at `name`.
bool KeyIs(std::span<const uint8_t> block, const Node &node, const char *name, size_t count) {
    size_t at = node.key;
    for (size_t i = 0; i < count; ++i, at += 2) {
        const uint16_t unit = WordAt(block, at);
        if (unit == 0 || unit > 0x7F || LowerAscii(unit) != LowerAscii(static_cast<unsigned char>(name[i])))
            return false;
    }
    return WordAt(block, at) == 0;
}

std::optional<Node> FindChild(std::span<const uint8_t> block, const Node &parent, const char *name, size_t count) {
    for (size_t at = parent.children; at + kHeaderBytes <= parent.end;) {
        const std::optional<Node> child = ReadNode(block, at, parent.end);
        if (!child)
            return std::nullopt;
        if (KeyIs(block, *child, name, count))
            return child;
        at = Align4(child->end);
    }
    return std::nullopt;
}

} // namespace

bool FindVersionValue(std::span<const uint8_t> block, const char *subBlock, VersionValue *value) {
    if (!subBlock)
        return false;
    std::optional<Node> node = ReadNode(block, 0, block.size());
    for (const char *part = subBlock; node && *part;) {
        if (*part == '\\') {
            ++part;
            continue;
        }
        size_t count = 0;
        while (part[count] && part[count] != '\\')
            ++count;
        node = FindChild(block, *node, part, count);
        part += count;
    }
    if (!node)
        return false;
    *value = VersionValue{node->value, node->valueLength, node->text};
    return true;
}

} // namespace zel::platform
