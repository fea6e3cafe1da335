# Writes OUTPUT, a C++ source holding every file of the page (WEB_DIR) as a
# byte array, with its path below WEB_DIR and its media type. Run with -P at
# build time, so the page is part of the zelprog binary.
file(GLOB_RECURSE files RELATIVE ${WEB_DIR} ${WEB_DIR}/*.html ${WEB_DIR}/*.css ${WEB_DIR}/*.js ${WEB_DIR}/*.svg)
list(SORT files)
set(arrays "")
set(table "")
set(index 0)
foreach(name ${files})
  file(READ ${WEB_DIR}/${name} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR bytes "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
  string(REGEX REPLACE "((0x..,){32})" "\\1\n" hex "${hex}")
  get_filename_component(ext ${name} LAST_EXT)
  if(ext STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(ext STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(ext STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  else()
    set(type "image/svg+xml")
  endif()
  string(APPEND arrays "const unsigned char file${index}[] = {\n${hex}\n};\n")
  string(APPEND table "    {\"/${name}\", \"${type}\", file${index}, ${bytes}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Generated from the page's files by embed.cmake; do not edit.
#include \"gui/assets.h\"

namespace zelprog::gui {
namespace {
${arrays}
const Asset kAssets[] = {
${table}};
} // namespace

std::span<const Asset> Assets() { return kAssets; }

} // namespace zelprog::gui
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
