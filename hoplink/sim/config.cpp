// The configuration string: KEY=VALUE words separated by blanks, keys in any
// case. A value may be written in double quotes to hold blanks (a path).
#include "hoplink/sim.h"

#include "fault_syntax.h"
#include "numbers.h"

#include <cctype>
#include <cstdlib>

namespace hoplink::sim {
namespace {

constexpr uint64_t kMaxMillis = 600000;         // ten minutes
constexpr uint64_t kMaxLatencyMicros = 1000000; // a second per round trip

using Setter = bool (*)(std::string_view value, Config &config, std::string &error);

bool SetSpiTrans(std::string_view value, Config &config, std::string &) {
    config.spiTrans = value;
    return true;
}

bool SetSpiPort(std::string_view value, Config &config, std::string &) {
    return ParseDecimalInt(value, config.spiPort);
}

bool SetPart(std::string_view value, Config &config, std::string &) {
    const Part *part = FindPart(value);
    if (part)
        config.part = part->name;
    return part != nullptr;
}

bool SetVariant(std::string_view value, Config &config, std::string &) {
    std::string lower(value);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "strict")
        lower.clear();
    config.variant = lower;
    return KnownVariant(lower);
}

bool SetFile(std::string_view value, Config &config, std::string &) {
    config.file = value;
    return true;
}

bool SetChipAddress(std::string_view value, Config &config, std::string &) {
    uint64_t address = 0;
    if (!ParseNumber(value, 7, address))
        return false;
    config.chipAddress = static_cast<uint8_t>(address);
    return true;
}

bool ParseLine(std::string_view text, int &line) {
    uint64_t number = 0;
    if (!ParseNumber(text, 15, number))
        return false;
    line = static_cast<int>(number);
    return true;
}

// "clock,data,writeProtect": three different lines 0..15.
bool SetLines(std::string_view value, Config &config, std::string &) {
    const size_t first = value.find(',');
    const size_t second = first == std::string_view::npos ? first : value.find(',', first + 1);
    if (second == std::string_view::npos)
        return false;
    int clock = 0, data = 0, writeProtect = 0;
    if (!ParseLine(value.substr(0, first), clock) ||
        !ParseLine(value.substr(first + 1, second - first - 1), data) ||
        !ParseLine(value.substr(second + 1), writeProtect))
        return false;
    if (clock == data || clock == writeProtect || data == writeProtect)
        return false;
    config.clockLine = clock;
    config.dataLine = data;
    config.writeProtectLine = writeProtect;
    return true;
}

bool ParseMillis(std::string_view value, uint32_t &millis) {
    uint64_t number = 0;
    if (!ParseNumber(value, kMaxMillis, number))
        return false;
    millis = static_cast<uint32_t>(number);
    return true;
}

// Milliseconds, or "max": the longest write cycle of the part's datasheets.
bool SetWriteCycle(std::string_view value, Config &config, std::string &) {
    if (value == "max" || value == "MAX") {
        config.writeCycleMs.reset();
        return true;
    }
    uint32_t millis = 0;
    if (!ParseMillis(value, millis))
        return false;
    config.writeCycleMs = millis;
    return true;
}

bool SetLatency(std::string_view value, Config &config, std::string &) {
    uint64_t micros = 0;
    if (!ParseNumber(value, kMaxLatencyMicros, micros))
        return false;
    config.latencyMicros = static_cast<uint32_t>(micros);
    return true;
}

bool SetStretch(std::string_view value, Config &config, std::string &) {
    return ParseMillis(value, config.stretchMs);
}

bool SetWriteProtectMode(std::string_view value, Config &config, std::string &) {
    if (value.size() != 3)
        return false;
    std::string lower(value);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "off") {
        config.writeProtectWired = false;
        return true;
    }
    if (lower != "ack" && lower != "nak")
        return false;
    config.writeProtectWired = true;
    config.ackWhileProtected = lower == "ack";
    return true;
}

bool SetVcd(std::string_view value, Config &config, std::string &) {
    config.vcdPath = value;
    return true;
}

bool SetLog(std::string_view value, Config &config, std::string &) {
    config.logPath = value;
    return true;
}

bool SetFaults(std::string_view value, Config &config, std::string &error) {
    return ParseFaults(value, config.faults, error);
}

struct Key {
    const char *name;
    Setter set;
    const char *expected; // what a good value looks like, for the error line
};

constexpr Key kKeys[] = {
    {"SPITRANS", SetSpiTrans, "any text"},
    {"SPIPORT", SetSpiPort, "a decimal integer"},
    {"SIMPART", SetPart, "a part such as 24C256"},
    {"SIMVARIANT", SetVariant, "strict or a vendor of the table of parts"},
    {"SIMFILE", SetFile, "a path"},
    {"SIMADDR", SetChipAddress, "0-7"},
    {"SIMLINES", SetLines, "clock,data,wp: three different lines 0-15"},
    {"SIMTWR", SetWriteCycle, "milliseconds 0-600000 or max"},
    {"SIMSTRETCH", SetStretch, "milliseconds 0-600000"},
    {"SIMLATENCY", SetLatency, "microseconds 0-1000000"},
    {"SIMWP", SetWriteProtectMode, "ack, nak or off"},
    {"SIMVCD", SetVcd, "a path"},
    {"SIMLOG", SetLog, "a path"},
    {"SIMFAULT", SetFaults, "fault items"},
};

const Key *FindKey(std::string_view name) {
    for (const Key &key : kKeys) {
        std::string_view known = key.name;
        if (known.size() != name.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
            same = std::toupper(static_cast<unsigned char>(name[i])) == known[i];
        if (same)
            return &key;
    }
    return nullptr;
}

// 'text', built by appending (concatenating temporaries trips a GCC 12 -Wrestrict false positive).
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Cuts the next word off `text`; a value that starts with '"' runs to the next '"'.
bool NextWord(std::string_view &text, std::string_view &word, std::string &error) {
    size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin]))
        ++begin;
    text.remove_prefix(begin);
    size_t end = 0;
    bool quoted = false;
    while (end < text.size() && (quoted || !IsBlank(text[end]))) {
        if (text[end] == '"')
            quoted = !quoted;
        ++end;
    }
    if (quoted) {
        error = "unterminated quote in ";
        error += Quoted(text);
        return false;
    }
    word = text.substr(0, end);
    text.remove_prefix(end);
    return true;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

bool ApplyWord(std::string_view word, Config &config, std::string &error) {
    const size_t equals = word.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        error = Quoted(word);
        error += " is not KEY=VALUE";
        return false;
    }
    const std::string_view name = word.substr(0, equals);
    const Key *key = FindKey(name);
    if (!key) {
        error = "unknown key ";
        error += Quoted(name);
        return false;
    }
    const std::string_view value = Unquote(word.substr(equals + 1));
    std::string detail;
    if (!key->set(value, config, detail)) {
        if (!detail.empty()) {
            error = detail;
            return false;
        }
        error = "bad value ";
        error += Quoted(value);
        error += " for ";
        error += key->name;
        error += " (expected ";
        error += key->expected;
        error += ")";
        return false;
    }
    return true;
}

} // namespace

bool SplitConfigWords(std::string_view text, std::vector<ConfigWord> &words, std::string &error) {
    std::string_view word;
    while (NextWord(text, word, error)) {
        if (word.empty())
            return true;
        const size_t equals = word.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            error = Quoted(word);
            error += " is not KEY=VALUE";
            return false;
        }
        std::string key(word.substr(0, equals));
        for (char &c : key)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        words.push_back({std::move(key), std::string(Unquote(word.substr(equals + 1)))});
    }
    return false;
}

bool ParseConfig(std::string_view text, Config &config, std::string &error) {
    std::string_view word;
    while (NextWord(text, word, error)) {
        if (word.empty())
            return true;
        if (!ApplyWord(word, config, error))
            return false;
    }
    return false;
}

bool LoadConfig(const char *text, Config &config, std::string &error) {
    if (const char *environment = std::getenv("HOPLINK_SIM")) {
        if (!ParseConfig(environment, config, error)) {
            error += " (in HOPLINK_SIM)";
            return false;
        }
    }
    return ParseConfig(text ? text : "", config, error);
}

} // namespace hoplink::sim
