#include "config.h"

#include "hoplink/sim.h"
#include "sim/numbers.h"

#include <cctype>

namespace hoplink::ftdi {
namespace {

// FIFO sizes: FT232H 1 KiB, FT2232H 4 KiB, FT4232H 2 KiB each way (FT232H,
// FT2232H and FT4232H datasheets).
constexpr Chip kChips[] = {
    {"FT232H", 0x6014, 1, true, 1024},
    {"FT2232H", 0x6010, 2, true, 4096},
    {"FT4232H", 0x6011, 2, false, 2048},
};

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

bool IsDecimal(std::string_view text) {
    if (text.empty() || text.size() > 3)
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool SetBusPosition(std::string_view value, Config &config) {
    const size_t slash = value.find('/');
    if (slash == std::string_view::npos || !IsDecimal(value.substr(0, slash)) ||
        !IsDecimal(value.substr(slash + 1)))
        return false;
    config.busPosition = value;
    return true;
}

bool SetChannel(std::string_view value, Config &config) {
    const std::string upper = Upper(value);
    if (upper != "A" && upper != "B")
        return false;
    config.channel = upper == "A" ? 0 : 1;
    return true;
}

// The bus speeds of the 24Cxx parts: 100 kHz (all) and 400 kHz (most at
// 2.5 V and above); faster grades are not common to the parts.
bool SetSpeed(std::string_view value, Config &config, std::string &error) {
    const std::string upper = Upper(value);
    if (upper == "STANDARD" || upper == "100") {
        config.speed = Speed::Standard;
        return true;
    }
    if (upper == "FAST" || upper == "400") {
        config.speed = Speed::Fast;
        return true;
    }
    error = "FTDISPEED " + sim::Quoted(value) +
            " is not a speed the EEPROMs take: standard (100 kHz, the default) or fast (400 kHz)";
    return false;
}

bool Apply(const std::string &key, std::string_view value, Config &config, std::string &error) {
    if (key == "SPITRANS")
        return true;
    if (key == "FTDISERIAL") {
        config.serial = value;
        return !value.empty();
    }
    if (key == "FTDIBUS")
        return SetBusPosition(value, config);
    if (key == "FTDICHIP") {
        config.chip = FindChip(value);
        return config.chip != nullptr;
    }
    if (key == "FTDIIFACE")
        return SetChannel(value, config);
    if (key == "FTDISPEED")
        return SetSpeed(value, config, error);
    error = "unknown key " + sim::Quoted(key) +
            " for SPITRANS=FTDI (its keys: FTDISERIAL, FTDIBUS, FTDICHIP, FTDIIFACE, FTDISPEED; the SIM... keys "
            "are the virtual target's)";
    return false;
}

const char *Expected(const std::string &key) {
    if (key == "FTDISERIAL")
        return "the adapter's serial number";
    if (key == "FTDIBUS")
        return "bus/address, decimal, as lsusb shows them";
    if (key == "FTDICHIP")
        return "FT232H, FT2232H or FT4232H";
    return "A or B, an MPSSE channel";
}

} // namespace

const Chip *Chips(int &count) {
    count = static_cast<int>(sizeof kChips / sizeof kChips[0]);
    return kChips;
}

const Chip *FindChip(std::string_view name) {
    for (const Chip &chip : kChips)
        if (Upper(name) == chip.name)
            return &chip;
    return nullptr;
}

bool AsksForFtdi(const char *text) {
    std::vector<sim::ConfigWord> words;
    std::string error;
    if (!text || !sim::SplitConfigWords(text, words, error))
        return false;
    for (const sim::ConfigWord &word : words)
        if (word.key == "SPITRANS")
            return Upper(word.value) == "FTDI";
    return false;
}

bool ParseConfig(std::string_view text, Config &config, std::string &error) {
    std::vector<sim::ConfigWord> words;
    if (!sim::SplitConfigWords(text, words, error))
        return false;
    for (const sim::ConfigWord &word : words) {
        std::string detail;
        if (Apply(word.key, word.value, config, detail))
            continue;
        error = detail.empty() ? "bad value " + sim::Quoted(word.value) + " for " + word.key + " (expected " +
                                     Expected(word.key) + ")"
                               : detail;
        return false;
    }
    if (!config.serial.empty() && !config.busPosition.empty()) {
        error = "give FTDISERIAL or FTDIBUS, not both";
        return false;
    }
    if (config.chip && config.channel >= config.chip->channels) {
        error = std::string("the ") + config.chip->name + " has one MPSSE channel: FTDIIFACE=A";
        return false;
    }
    return true;
}

} // namespace hoplink::ftdi
