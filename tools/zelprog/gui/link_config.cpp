#include "gui/link_config.h"

#include "core/os.h"
#include "core/parts.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <vector>

namespace zelprog::gui {
namespace {

// Keys as the transport reads them, in any case. Keys that name a path
// (the backing file, the traces) are not here.
constexpr std::array<std::string_view, 14> kAllowedKeys{
    "SPITRANS", "SPIPORT",  "SIMPART",    "SIMADDR", "SIMLINES", "SIMTWR",    "SIMSTRETCH",
    "SIMWP",    "SIMFAULT", "FTDISERIAL", "FTDIBUS", "FTDICHIP", "FTDIIFACE", "FTDISPEED"};
constexpr std::string_view kDefaultPart = "24c256"; // the virtual target's part when none is named

std::string Upper(std::string_view s) {
    std::string upper(s);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

std::string Lower(std::string_view s) {
    std::string lower(s);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool Refuse(std::string &error, std::string why) {
    error = std::move(why);
    return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct Word {
    std::string key; // upper case
    std::string_view value;
};

// The words as the transport cuts them: blanks separate words, except
// between double quotes, which may stand anywhere in a word; a value
// wholly in quotes loses them.
bool SplitWords(std::string_view text, std::vector<Word> &words, std::string &error) {
    while (true) {
        while (!text.empty() && IsBlank(text.front()))
            text.remove_prefix(1);
        if (text.empty())
            return true;
        std::size_t end = 0;
        bool quoted = false;
        for (; end < text.size() && (quoted || !IsBlank(text[end])); ++end)
            if (text[end] == '"')
                quoted = !quoted;
        if (quoted)
            return Refuse(error, "the configuration has a double quote that is not closed");
        const std::string_view word = text.substr(0, end);
        text.remove_prefix(end);
        const std::size_t equals = word.find('=');
        if (equals == std::string_view::npos || equals == 0)
            return Refuse(error, "'" + std::string(word) + "' is not KEY=VALUE");
        std::string_view value = word.substr(equals + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        words.push_back({Upper(word.substr(0, equals)), value});
    }
}

std::string AllowedKeys() {
    std::string list;
    for (std::string_view key : kAllowedKeys)
        list += (list.empty() ? "" : ", ") + std::string(key);
    return list;
}

bool CheckWords(const std::vector<Word> &words, std::string &error) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string &key = words[i].key;
        if (key == "SIMFILE")
            return Refuse(error, "SIMFILE is not taken from the page: the virtual target keeps its contents in "
                                 "zelprog's state folder, one file per part");
        if (key == "SIMVCD" || key == "SIMLOG")
            return Refuse(error, key + " is not taken from the page: traces are asked for on the command line "
                                       "(zelprog gui --link \"...\")");
        if (std::find(kAllowedKeys.begin(), kAllowedKeys.end(), key) == kAllowedKeys.end())
            return Refuse(error, "the key '" + key + "' is not one the page may set (" + AllowedKeys() + ")");
        for (std::size_t j = 0; j < i; ++j)
            if (words[j].key == key)
                return Refuse(error, key + " is given twice");
    }
    return true;
}

} // namespace

bool PageLinkConfig(std::string_view text, std::string_view part, std::string &config, std::string &error) {
    if (std::any_of(text.begin(), text.end(),
                    [](unsigned char c) { return c < 0x20 && !IsBlank(static_cast<char>(c)); }))
        return Refuse(error, "the configuration holds a control character");
    std::vector<Word> words;
    if (!SplitWords(text, words, error) || !CheckWords(words, error))
        return false;
    // an FTDI adapter drives a real EEPROM: no part or backing file of the virtual target
    if (std::any_of(words.begin(), words.end(),
                    [](const Word &w) { return w.key == "SPITRANS" && Upper(w.value) == "FTDI"; })) {
        config = std::string(text);
        return true;
    }
    const auto named = std::find_if(words.begin(), words.end(), [](const Word &w) { return w.key == "SIMPART"; });
    std::string chosen = named != words.end() ? Lower(named->value)
                         : part.empty()       ? std::string(kDefaultPart)
                                              : Lower(part);
    if (FindPart(chosen) == nullptr)
        return Refuse(error, "unknown part '" + chosen + "': known parts are " + KnownPartNames());
    std::filesystem::path dir;
    if (!os::StateDirectory(dir, error))
        return false;
    const std::string file = (dir / ("eeprom-" + chosen + ".bin")).string();
    if (file.find('"') != std::string::npos)
        return Refuse(error, "the state folder's path '" + dir.string() + "' holds a double quote");
    config = std::string(text);
    if (named == words.end())
        config += " SIMPART=" + chosen;
    config += " SIMFILE=\"" + file + "\"";
    return true;
}

} // namespace zelprog::gui
