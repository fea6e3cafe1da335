// The image file: a word image as a text image (jobs/text_image.h), read
// leniently.
#pragma once

#include <cstdint>
#include <functional>

namespace zel {

// Reads the image file at `path` into `image`, which holds length / 2
// words; words that no record names keep their value. False when the file
// cannot be opened (reported on standard output) or read, when a record's
// index is not a hex token, or when it names a word outside the image
// (the words of earlier records stay stored).
bool ReadImageFile(const char *path, uint16_t *image, uint32_t length);

// Writes the length / 2 words of `image` to `path`, one record per word,
// replacing the file's contents. A regular file (also one that a symbolic
// link at `path` leads to) is replaced whole: the records go to a new file
// made beside it, which takes its mode and, where permitted, its owner, and
// which is then moved over it. Devices, files with several names and files
// that another process holds so that they cannot be replaced are written in
// place. False when the file cannot be opened or the new file cannot be
// made or moved (both reported on standard output, as is an empty path), or
// when a write or the close fails; a regular file is then left as it was.
// `keepWriting`, when given, is asked before each piece of the records is
// written and before the new file replaces the target: once it says no,
// nothing more is written (and a regular file is left as it was), and the
// result is false.
using KeepWriting = std::function<bool()>;
bool WriteImageFile(const char *path, const uint16_t *image, uint32_t length, const KeepWriting &keepWriting = {});

} // namespace zel
