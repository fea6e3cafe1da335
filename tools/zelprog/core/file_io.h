// Whole-file reads and writes; "-" names standard input or output.
#pragma once

#include <string>
#include <string_view>

namespace zelprog {

bool ReadWholeFile(const std::string &path, std::string &data, std::string &error);
// A regular file is whole or not there (os::ReplaceWholeFile): a failed
// write leaves the old one as it was. Devices and FIFOs are written in place.
bool WriteWholeFile(const std::string &path, std::string_view data, std::string &error);
// Whether WriteWholeFile could write `path`, asked before a long read: a
// file is made beside it and removed again; the file itself is left as it is.
bool CanWriteFile(const std::string &path, std::string &error);

} // namespace zelprog
