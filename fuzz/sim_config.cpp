// Feeds arbitrary text to the virtual target's configuration parser. An
// accepted configuration that names no files must build a target that
// answers register accesses; a refused one must say why.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hoplink/sim.h"

using namespace hoplink::sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view text(reinterpret_cast<const char *>(data), size);
    Config config;
    std::string error;
    if (!ParseConfig(text, config, error)) {
        if (error.empty() || error.find('\n') != std::string::npos)
            std::abort();
        return 0;
    }
    if (!config.file.empty() || !config.vcdPath.empty() || !config.logPath.empty())
        return 0;
    auto target = Target::Create(config, error);
    if (!target)
        return 0;
    VirtualClock clock;
    target->SetClock(&clock);
    uint16_t value = 0;
    target->Write(kRegOutputLevel, 0);
    target->Write(kRegOutputEnable, 0x0080);
    target->Read(kRegInputLevel, &value);
    target->Write(kRegOutputEnable, 0);
    return 0;
}
