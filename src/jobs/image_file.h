// The image file: the text form of a word image, one record per line,
// written as "@%04x  %04x\n" (word index, word value).
#pragma once

#include <cstdint>

namespace zel {

// Reads one hexadecimal token (either case, any length, the last eight
// digits kept) after optional white space into *value. Returns where the
// next token may begin: the terminating NUL, or just past the white space
// that ended the token. Null when a character that is neither a hex digit
// nor white space ends the token; *value then holds the digits before it.
const char *ReadHexToken(const char *position, uint32_t *value);

// Reads the image file at `path` into `image`, which holds length / 2
// words; words that no record names keep their value. False when the file
// cannot be opened (reported on standard output) or read, when a record's
// index is not a hex token, or when it names a word outside the image
// (the words of earlier records stay stored).
bool ReadImageFile(const char *path, uint16_t *image, uint32_t length);

// Writes the length / 2 words of `image` to `path`, one record per word,
// replacing the file's contents. False when the file cannot be opened
// (reported on standard output) or a write or the close fails; an existing
// regular file is then left as it was.
bool WriteImageFile(const char *path, const uint16_t *image, uint32_t length);

} // namespace zel
