// Whole-file reads and writes; "-" names standard input or output.
#pragma once

#include <string>
#include <string_view>

namespace zelprog {

bool ReadWholeFile(const std::string &path, std::string &data, std::string &error);
bool WriteWholeFile(const std::string &path, std::string_view data, std::string &error);
// Whether WriteWholeFile could create or replace `path`, asked before a long
// read: an existing file is opened for update and left as it is, a new one
// is made and removed again.
bool CanWriteFile(const std::string &path, std::string &error);

} // namespace zelprog
