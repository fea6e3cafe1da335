// Version-information blocks in the binary layout of a Windows VS_VERSIONINFO
// resource, for the platforms whose files carry none. Every node is:
//   uint16 length      bytes of the node and its children, trailing padding excluded
//   uint16 valueLength 16-bit characters, terminator included, for a text
//                      value; bytes for a binary value
//   uint16 type        1 text, 0 binary
//   UTF-16 key, zero-terminated, then padding to a 32-bit boundary
//   the value, then padding to a 32-bit boundary
//   the children, each starting on a 32-bit boundary
// Offsets and boundaries count from the start of the block; all numbers are
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace zel::platform {

// Lays out a block node by node: every Open* starts a node, the matching
// Close ends it; nodes opened in between are its children. Usable at compile
// time, so that a program's own block is a constant.
class VersionBlockWriter {
public:
    // A node with a text value of 8-bit characters (stored as UTF-16).
    constexpr void OpenText(std::string_view key, std::string_view text) {
        OpenHeader(key, static_cast<uint16_t>(text.size() + 1), 1);
        for (const char c : text)
            Word(static_cast<unsigned char>(c));
        Word(0);
    }

    // A node that only groups children ("StringFileInfo", "080904b0").
    constexpr void OpenGroup(std::string_view key) { OpenHeader(key, 0, 1); }

    // A node with a binary value.
    constexpr void OpenBinary(std::string_view key, std::span<const uint8_t> value) {
        OpenHeader(key, static_cast<uint16_t>(value.size()), 0);
        bytes_.insert(bytes_.end(), value.begin(), value.end());
    }

    constexpr void Close() {
        const size_t start = open_.back();
        open_.pop_back();
        const size_t length = bytes_.size() - start;
        bytes_[start] = static_cast<uint8_t>(length);
        bytes_[start + 1] = static_cast<uint8_t>(length >> 8);
    }

    constexpr const std::vector<uint8_t> &Bytes() const { return bytes_; }

private:
    constexpr void OpenHeader(std::string_view key, uint16_t valueLength, uint16_t type) {
        Align();
        open_.push_back(bytes_.size());
        Word(0); // length, set by Close
        Word(valueLength);
        Word(type);
        for (const char c : key)
            Word(static_cast<unsigned char>(c));
        Word(0);
        Align();
    }

    constexpr void Word(uint16_t value) {
        bytes_.push_back(static_cast<uint8_t>(value));
        bytes_.push_back(static_cast<uint8_t>(value >> 8));
    }

    constexpr void Align() {
        while (bytes_.size() % 4 != 0)
            bytes_.push_back(0);
    }

    std::vector<uint8_t> bytes_;
    std::vector<size_t> open_; // start offsets of the nodes not yet closed
};

// Where a value lies in a block.
struct VersionValue {
    size_t offset;   // from the start of the block
    unsigned length; // as stored: characters of a text value, bytes of a binary one
    bool text;
};

// Walks `block` along `subBlock`, whose parts are separated by backslashes
// and compared with the keys without regard to ASCII case; "\\" names the
// top node. False when a part names no child or the block is malformed
// (a length that leaves its parent or the block, a key without terminator).
bool FindVersionValue(std::span<const uint8_t> block, const char *subBlock, VersionValue *value);

// The program's own block, built from the project version at compile time.
std::span<const uint8_t> OwnVersionBlock();

// Makes the service answer for the program's own name with `block` (which
// must outlive its use) instead of OwnVersionBlock; an empty span restores
// the own block. For tests.
void InstallVersionBlock(std::span<const uint8_t> block);

} // namespace zel::platform
