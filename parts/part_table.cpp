#include "zelparts/part_table.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <functional>
#include <map>
#include <set>

namespace zelparts {
namespace {

constexpr std::string_view kColumns[] = {"name", "aliases", "bytes",         "addr_bytes", "block_bits",
                                         "pins", "page",    "read_rollover", "twr_ms",     "wp",
                                         "rom",  "id",      "unconfirmed",   "sources"};
constexpr int kMinSizeBits = 7;
constexpr int kMaxSizeBits = 24;
constexpr int kMaxPage = 256;
constexpr int kMaxWriteCycleMs = 100;

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t begin = 0;
    while (true) {
        const size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
        if (end == std::string_view::npos)
            return parts;
        begin = end + 1;
    }
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    for (std::string_view word : Split(text, ' '))
        if (!word.empty())
            words.push_back(word);
    return words;
}

bool ParseUnsigned(std::string_view text, uint32_t &value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, base);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// "b3b2b1": device-address bit n is mask 1 << n; highest first, each once.
bool ParseBlockBits(std::string_view text, uint8_t &mask) {
    mask = 0;
    if (text == "-")
        return true;
    int last = 4;
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int bit = text[i + 1] - '0';
        if (text[i] != 'b' || bit < 1 || bit >= last)
            return false;
        mask = static_cast<uint8_t>(mask | 1u << bit);
        last = bit;
    }
    return true;
}

// "A2A1A0": pin Ax is device-address bit x + 1.
bool ParsePins(std::string_view text, int &mask) {
    mask = 0;
    if (text == "-")
        return true;
    int last = 3;
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int pin = text[i + 1] - '0';
        if (text[i] != 'A' || pin < 0 || pin >= last)
            return false;
        mask |= 1 << (pin + 1);
        last = pin;
    }
    return true;
}

using ValueParser = std::function<bool(std::string_view, int &)>;

// "8 st=16 onsemi=16"
bool ParseVarying(std::string_view text, const ValueParser &parse, Varying &cell) {
    const std::vector<std::string_view> words = Words(text);
    if (words.empty() || !parse(words[0], cell.strict))
        return false;
    for (size_t i = 1; i < words.size(); ++i) {
        const size_t equals = words[i].find('=');
        if (equals == std::string_view::npos || equals == 0)
            return false;
        const std::string vendor(words[i].substr(0, equals));
        if (!std::all_of(vendor.begin(), vendor.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
            return false;
        int value = 0;
        if (!parse(words[i].substr(equals + 1), value))
            return false;
        cell.byVendor.emplace_back(vendor, value);
    }
    return true;
}

ValueParser NumberIn(int low, int high, bool powerOfTwo) {
    return [=](std::string_view text, int &value) {
        uint32_t number = 0;
        if (!ParseUnsigned(text, number) || number < static_cast<uint32_t>(low) ||
            number > static_cast<uint32_t>(high))
            return false;
        value = static_cast<int>(number);
        return !powerOfTwo || std::has_single_bit(number);
    };
}

ValueParser OneOf(std::string_view zero, std::string_view one) {
    return [=](std::string_view text, int &value) {
        value = text == one ? 1 : 0;
        return text == zero || text == one;
    };
}

bool ParseRom(std::string_view text, PartRow &row) {
    if (text == "-")
        return true;
    const std::vector<std::string_view> ends = Split(text, '-');
    row.hasRom = ends.size() == 2 && ParseUnsigned(ends[0], row.romFirst) && ParseUnsigned(ends[1], row.romLast);
    return row.hasRom && row.romFirst <= row.romLast && row.romLast < row.bytes;
}

bool ParseIds(std::string_view text, PartRow &row) {
    if (text == "-")
        return true;
    for (std::string_view word : Words(text)) {
        const size_t at = word.find('@');
        if (at == std::string_view::npos)
            return false;
        IdField id{std::string(word.substr(0, at)), 0};
        if (id.kind != "eui48" && id.kind != "eui64" && id.kind != "serial")
            return false;
        if (!ParseUnsigned(word.substr(at + 1), id.address) || id.address >= row.bytes)
            return false;
        row.ids.push_back(id);
    }
    return !row.ids.empty();
}

bool ParseNames(std::string_view text, std::vector<std::string> &names) {
    if (text == "-")
        return true;
    for (std::string_view name : Split(text, ','))
        if (name.empty())
            return false;
        else
            names.emplace_back(name);
    return true;
}

bool ParseUnconfirmed(std::string_view text, std::vector<std::string> &columns) {
    if (!ParseNames(text, columns))
        return false;
    return std::all_of(columns.begin(), columns.end(), [](const std::string &c) {
        return std::find(std::begin(kColumns), std::end(kColumns), c) != std::end(kColumns);
    });
}

// Each address bit below the block bits comes from the address bytes: the
// part's size must need the last address byte and fit in all of them.
bool GeometryFits(const PartRow &row) {
    const int unfolded = row.sizeBits - std::popcount(row.blockMask);
    return unfolded > 8 * (row.addressBytes - 1) && unfolded <= 8 * row.addressBytes;
}

struct Cells {
    std::map<std::string_view, std::string_view> byColumn;
    std::string_view operator[](std::string_view column) const { return byColumn.at(column); }
};

// The row's cells, or "" in `bad` naming the column that is wrong.
bool ParseRow(const Cells &cells, PartRow &row, std::string &bad) {
    const auto fail = [&](std::string_view column) {
        bad = column;
        return false;
    };
    row.name = cells["name"];
    if (row.name.empty() || row.name == "-")
        return fail("name");
    if (!ParseNames(cells["aliases"], row.aliases))
        return fail("aliases");
    int bytes = 0;
    if (!NumberIn(1 << kMinSizeBits, 1 << kMaxSizeBits, true)(cells["bytes"], bytes))
        return fail("bytes");
    row.bytes = static_cast<uint32_t>(bytes);
    row.sizeBits = std::countr_zero(row.bytes);
    if (!NumberIn(1, 2, false)(cells["addr_bytes"], row.addressBytes))
        return fail("addr_bytes");
    if (!ParseBlockBits(cells["block_bits"], row.blockMask) || !GeometryFits(row))
        return fail("block_bits");
    if (!ParseVarying(cells["pins"], ParsePins, row.pinMask))
        return fail("pins");
    for (int pins : {row.pinMask.Min(), row.pinMask.Max()})
        if (pins & row.blockMask)
            return fail("pins");
    if (!ParseVarying(cells["page"], NumberIn(1, kMaxPage, true), row.page))
        return fail("page");
    if (!ParseVarying(cells["read_rollover"], OneOf("memory", "block"), row.rollover) ||
        (row.blockMask == 0 && row.rollover.Max() == kRollsAtBlockEnd))
        return fail("read_rollover");
    if (!ParseVarying(cells["twr_ms"], NumberIn(1, kMaxWriteCycleMs, false), row.writeCycleMs))
        return fail("twr_ms");
    if (!ParseVarying(cells["wp"], OneOf("nak", "ack"), row.protectedData))
        return fail("wp");
    if (!ParseRom(cells["rom"], row))
        return fail("rom");
    if (!ParseIds(cells["id"], row))
        return fail("id");
    if (!ParseUnconfirmed(cells["unconfirmed"], row.unconfirmed))
        return fail("unconfirmed");
    row.sources = cells["sources"];
    if (row.sources.empty() || row.sources == "-")
        return fail("sources");
    return true;
}

bool ParseHeader(std::string_view line, std::vector<std::string_view> &columns) {
    columns = Split(line, '\t');
    std::vector<std::string_view> sorted = columns;
    std::vector<std::string_view> expected(std::begin(kColumns), std::end(kColumns));
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    return sorted == expected;
}

} // namespace

int Varying::For(std::string_view vendor) const {
    for (const auto &[name, value] : byVendor)
        if (name == vendor)
            return value;
    return strict;
}

int Varying::Min() const {
    int low = strict;
    for (const auto &entry : byVendor)
        low = std::min(low, entry.second);
    return low;
}

int Varying::Max() const {
    int high = strict;
    for (const auto &entry : byVendor)
        high = std::max(high, entry.second);
    return high;
}

bool ParseTable(std::string_view text, std::vector<PartRow> &rows, std::string &error) {
    rows.clear();
    std::vector<std::string_view> columns;
    std::set<std::string> names;
    int number = 0;
    for (std::string_view line : Split(text, '\n')) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        const std::string where = "line " + std::to_string(number);
        if (columns.empty()) {
            if (!ParseHeader(line, columns)) {
                error = where + ": the header must name the columns " + std::string(kColumns[0]) + " ... sources";
                return false;
            }
            continue;
        }
        const std::vector<std::string_view> values = Split(line, '\t');
        if (values.size() != columns.size()) {
            error = where + ": " + std::to_string(values.size()) + " cells, the header has " +
                    std::to_string(columns.size());
            return false;
        }
        Cells cells;
        for (size_t i = 0; i < columns.size(); ++i)
            cells.byColumn[columns[i]] = values[i];
        PartRow row;
        std::string bad;
        if (!ParseRow(cells, row, bad)) {
            error = where + ": bad " + bad + " '" + std::string(cells[bad]) + "'";
            return false;
        }
        std::vector<std::string> all = row.aliases;
        all.push_back(row.name);
        for (const std::string &name : all)
            if (!names.insert(Lower(name)).second) {
                error = where + ": the name " + name + " stands in the table twice";
                return false;
            }
        rows.push_back(std::move(row));
    }
    if (rows.empty())
        error = "the table holds no parts";
    return !rows.empty();
}

namespace {

struct Table {
    std::vector<PartRow> rows;
    std::string error;
    Table() { ParseTable(TableText(), rows, error); }
};

const Table &BuiltIn() {
    static const Table table;
    return table;
}

} // namespace

const std::vector<PartRow> &Rows() { return BuiltIn().rows; }

const std::string &TableError() { return BuiltIn().error; }

const PartRow *Find(std::string_view name) {
    const std::string wanted = Lower(name);
    for (const PartRow &row : Rows()) {
        if (Lower(row.name) == wanted)
            return &row;
        for (const std::string &alias : row.aliases)
            if (Lower(alias) == wanted)
                return &row;
    }
    return nullptr;
}

std::vector<std::string> Vendors() {
    std::set<std::string> vendors;
    for (const PartRow &row : Rows())
        for (const Varying *cell : {&row.pinMask, &row.page, &row.rollover, &row.writeCycleMs, &row.protectedData})
            for (const auto &entry : cell->byVendor)
                vendors.insert(entry.first);
    return {vendors.begin(), vendors.end()};
}

} // namespace zelparts
