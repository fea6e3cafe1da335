#include "core/serial_list.h"

#include "jobs/text_image.h"

#include <fstream>
#include <sstream>

namespace zelprog {
namespace {

bool ParseHexEntry(const std::string &line, SerialEntry &entry) {
    const std::string digits = line.substr(2);
    if (digits.empty() || digits.size() % 2 != 0)
        return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = zel::HexDigit(digits[i]), low = zel::HexDigit(digits[i + 1]);
        if (high < 0 || low < 0)
            return false;
        entry.bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    entry.text = "0x" + digits;
    return true;
}

bool ParseTextEntry(const std::string &line, SerialEntry &entry) {
    if (line.size() < 3 || line.back() != '"')
        return false;
    entry.text = line.substr(1, line.size() - 2);
    for (char c : entry.text)
        if (c < 0x20 || c > 0x7e || c == '"')
            return false;
    entry.bytes.assign(entry.text.begin(), entry.text.end());
    return true;
}

std::string Trimmed(std::string line) {
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

bool ParseSerialList(const std::string &text, std::vector<SerialEntry> &entries, std::string &error) {
    std::istringstream lines(text);
    std::string raw;
    std::vector<SerialEntry> parsed;
    for (int number = 1; std::getline(lines, raw); ++number) {
        const std::string line = Trimmed(raw);
        if (line.empty() || line[0] == '#')
            continue;
        SerialEntry entry;
        const bool hex = line.rfind("0x", 0) == 0 || line.rfind("0X", 0) == 0;
        if (!(hex ? ParseHexEntry(line, entry) : line[0] == '"' && ParseTextEntry(line, entry)) ||
            entry.bytes.size() > kMaxListValue) {
            error = "line " + std::to_string(number) +
                    " is not a serial value: write 0x and hex digits (an even number) or \"text\" in quotes, "
                    "at most " +
                    std::to_string(kMaxListValue) + " bytes";
            return false;
        }
        parsed.push_back(std::move(entry));
    }
    if (parsed.empty()) {
        error = "it holds no serial value";
        return false;
    }
    entries = std::move(parsed);
    return true;
}

std::filesystem::path SerialListProgress(const std::filesystem::path &list) {
    std::filesystem::path p = list;
    p += ".used";
    return p;
}

Status SerialValues::Load() {
    if (options_.serialList.empty())
        return {};
    const std::string name = "'" + options_.serialList.string() + "'";
    std::ifstream in(options_.serialList, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in)
        return Status::Fail(kExitFile, "cannot read the serial list " + name);
    std::string error;
    if (!ParseSerialList(text.str(), list_, error))
        return Status::Fail(kExitFile, "the serial list " + name + " cannot be used: " + error);
    return {};
}

Status SerialValues::ValueOf(uint64_t number, SerialValue &value) const {
    if (!options_.serialList.empty()) {
        if (number < 1 || number > list_.size())
            return Status::Fail(kExitUsage, "every value of the serial list '" + options_.serialList.string() +
                                                "' is used (" + std::to_string(list_.size()) +
                                                "): nothing was written");
        const SerialEntry &entry = list_[number - 1];
        value = {number, entry.bytes, entry.text};
        return {};
    }
    const SerialFormat &format = options_.format;
    Bytes bytes;
    if (!EncodeSerial(number, format, bytes))
        return Status::Fail(kExitUsage, "the next serial number, " + std::to_string(number) + ", does not fit " +
                                            std::to_string(format.width) + " bytes of " +
                                            SerialEncodingName(format.encoding) + ": nothing was written");
    value = {number, std::move(bytes), std::to_string(number)};
    return {};
}

} // namespace zelprog
