// Whole-file reads and writes; "-" names standard input or output.
#pragma once

#include <string>
#include <string_view>

namespace zelprog {

bool ReadWholeFile(const std::string &path, std::string &data, std::string &error);
bool WriteWholeFile(const std::string &path, std::string_view data, std::string &error);

} // namespace zelprog
