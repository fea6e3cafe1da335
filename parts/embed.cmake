# Writes OUTPUT, a C++ source that holds the text of INPUT (the table of
# parts) as one string. Run with -P at build time.
file(READ ${INPUT} text)
if(text MATCHES "\\)zelparts\"")
  message(FATAL_ERROR "${INPUT} holds the raw string's delimiter")
endif()
file(WRITE ${OUTPUT}.new "// Generated from the table of parts by embed.cmake; do not edit.
#include \"zelparts/part_table.h\"

namespace zelparts {
const char *TableText() {
    return R\"zelparts(${text})zelparts\";
}
} // namespace zelparts
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
