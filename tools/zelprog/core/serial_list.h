// Where a ledger's values come from: the counter's numbers in the format of
// the command line, or the entries of a list file, in order.
//
// A list file holds one value a line:
//     0x0a1b2c3d        hex: the bytes in the order written (an even number of digits)
//     "SN-2026-0001"    text: the characters between the quotes (printable ASCII, no '"')
// Blank lines and lines that begin with '#' hold no value. A value is 1 to
// 64 bytes. Its number is its place among the values, from 1; the list's
// progress (the next place, a log of every value's fate) is a counter file
// beside it, LIST.used.
#pragma once

#include "core/ledger.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zelprog {

inline constexpr std::size_t kMaxListValue = 64;

struct SerialEntry {
    Bytes bytes;
    std::string text; // "0x0a1b2c3d", or the text without its quotes
};

// False with the line's number and what is wrong in `error`.
bool ParseSerialList(const std::string &text, std::vector<SerialEntry> &entries, std::string &error);

std::filesystem::path SerialListProgress(const std::filesystem::path &list);

class SerialValues {
public:
    explicit SerialValues(const LedgerOptions &options) : options_(options) {}

    // Reads the list, if there is one.
    Status Load();
    // The value of `number`; a usage error when it does not fit the format
    // or the list has no such entry.
    Status ValueOf(uint64_t number, SerialValue &value) const;

private:
    LedgerOptions options_;
    std::vector<SerialEntry> list_;
};

} // namespace zelprog
