#include "core/temp_file.h"

#include "core/os.h"

#include <atomic>
#include <system_error>

namespace zelprog {

TempFile::TempFile(const char *tag) {
    static std::atomic<unsigned> serial{0};
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec)
        dir = ".";
    path_ =
        dir / ("zelprog-" + std::to_string(os::ProcessId()) + "-" + std::to_string(serial++) + "-" + tag + ".img");
}

TempFile::~TempFile() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

} // namespace zelprog
