// The text image: one record a line, '@', the word index and the word value
// in hexadecimal, written as "@%04x  %04x\n". Word i holds bytes 2i (low
// half) and 2i+1 (high half) of the EEPROM. Lines that do not begin with '@'
// are no records.
//
// The same text is read in one of two modes. Lenient is how the image jobs
// have always read a file, and stays so: the last eight digits of a long
// token count, a value token is read up to its first character that is no
// digit (missing, it is 0; an index token alone, even an empty one, is a
// record), what follows the value is ignored, and a text without records
// is an empty image. Strict is for a host that wants to be told what is
// wrong: an index of at most eight digits' worth, a value of at most 0xffff,
// nothing after it but blanks, and at least one record. Both refuse an index
// token with a character that is neither a digit nor a blank, and an index
// beyond the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zel {

enum class TextMode { kLenient, kStrict };

// Value of a hexadecimal digit of either case, -1 for any other character.
int HexDigit(char c);

enum class TextFault {
    kNone,
    kIndex,     // the index token is no hexadecimal number
    kValue,     // strict: the value is no hexadecimal number of at most 0xffff, or more follows it
    kBeyond,    // the index names a word past the image
    kNoRecords, // strict: the text holds no record
};

struct TextRead {
    TextFault fault = TextFault::kNone;
    size_t line = 0;    // of the fault, from 1 (0 for kNoRecords)
    uint32_t index = 0; // kBeyond: the word index the record names
};

// A lenient line is at most this long: the file reader gets a longer one in
// pieces of this many characters, and each piece is a line of its own.
constexpr size_t kLenientLine = 98;

// Reads the records of `text` into the `count` words at `words`, in order;
// a later record of a word wins, and words that no record names keep their
// value. Strict lines end at '\n'; lenient lines end after '\n' or after
// kLenientLine characters, and a NUL ends what is read of one. Reading stops
// at the first fault; the words of earlier records stay stored. `named`,
// when given, holds `count` flags and gets each stored word's set.
TextRead ReadTextImage(std::string_view text, TextMode mode, uint16_t *words, uint32_t count,
                       std::vector<bool> *named = nullptr);

// The longest record with its terminating NUL: "@ffffffff  ffff\n".
constexpr size_t kLongestTextRecord = 20;

// Writes the record of one word to `out` (kLongestTextRecord characters of
// room) and returns its length, the NUL not counted.
size_t WriteTextRecord(char *out, uint32_t index, uint16_t value);

} // namespace zel
