// The size check: the last word of the configured size is changed to
// saved * 0xA5A5 and put back; the EEPROM is left as it was found.
#include <gmock/gmock.h>

#include <cstdio>

#include "block_fixture.h"
#include "eeprom/block.h"

namespace {

using blocktest::BlockTest;

// The write commands on the bus, as their address and value bytes ("fe 5b"):
// transactions of the write address and acknowledged bytes only.
std::vector<std::string> WriteCommands(const std::vector<zeltest::BusEvent> &events) {
    using Kind = zeltest::BusEvent::Kind;
    std::vector<std::string> commands;
    std::string command;
    bool open = false;
    for (size_t i = 0; i < events.size(); ++i) {
        const zeltest::BusEvent &event = events[i];
        if (event.kind == Kind::Start) {
            open = i + 1 < events.size() && events[i + 1].kind == Kind::Byte && events[i + 1].value == 0xA0 &&
                   events[i + 1].ack;
            command.clear();
            ++i; // the write address itself
        } else if (event.kind == Kind::Byte && open) {
            open = event.ack;
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x ", event.value);
            command += hex;
        } else if (event.kind == Kind::Stop && open && !command.empty()) {
            command.pop_back();
            commands.push_back(command);
        }
    }
    return commands;
}

struct CheckRow {
    const char *name;
    const char *config;
    int sizeBits, blockBits;
    uint32_t top;               // cell of the top word's low byte in the part
    std::vector<uint8_t> saved; // low byte, high byte
    std::vector<uint32_t> worn; // cells that keep their value when written
    int result;
    std::vector<std::string> commands; // write commands, in order
};

void PrintTo(const CheckRow &row, std::ostream *out) { *out << row.name; }

class CheckSize : public BlockTest, public testing::WithParamInterface<CheckRow> {};

TEST_P(CheckSize, LeavesTheTopWordAsItWasFound) {
    const CheckRow &row = GetParam();
    Open(row.config, row.sizeBits, row.blockBits);
    Target().Fill(0x33);
    Store(row.top, row.saved);
    Target().GetFaults().wornBytes = row.worn;
    EXPECT_EQ(zel::CheckSize(), row.result);
    EXPECT_EQ(WriteCommands(zeltest::DecodeBus(transport().Registers())), row.commands);
    EXPECT_EQ(WriteCycles(), row.commands.size());
    EXPECT_EQ(Cells(row.top, 2), row.saved);
    EXPECT_EQ(Target().Memory()[row.top - 1], 0x33);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CheckSize,
    testing::Values(
        // 0xFFFF * 0xA5A5 = 0x5A5B (mod 0x10000)
        CheckRow{"ErasedWordOneAddressByte",
                 "SIMPART=24C02 SIMTWR=1",
                 8,
                 0,
                 0xFE,
                 {0xFF, 0xFF},
                 {},
                 1,
                 {"fe 5b", "ff 5a", "fe ff", "ff ff"}},
        CheckRow{"ErasedWordTwoAddressBytes",
                 "SIMPART=24C256 SIMTWR=1",
                 15,
                 0,
                 0x7FFE,
                 {0xFF, 0xFF},
                 {},
                 1,
                 {"7f fe 5b", "7f ff 5a", "7f fe ff", "7f ff ff"}},
        // 0x1234 -> 0x3F84, 0x00FF -> 0xFF5B
        CheckRow{"BothBytesChange",
                 "SIMPART=24C02 SIMTWR=1",
                 8,
                 0,
                 0xFE,
                 {0x34, 0x12},
                 {},
                 1,
                 {"fe 84", "ff 3f", "fe 34", "ff 12"}},
        CheckRow{"LowByteOnlySet",
                 "SIMPART=24C02 SIMTWR=1",
                 8,
                 0,
                 0xFE,
                 {0xFF, 0x00},
                 {},
                 1,
                 {"fe 5b", "ff ff", "fe ff", "ff 00"}},
        // 0x0000 and 0x4000 are their own pattern: nothing to write
        CheckRow{"ZeroIsItsOwnPattern", "SIMPART=24C02 SIMTWR=1", 8, 0, 0xFE, {0x00, 0x00}, {}, 1, {}},
        CheckRow{"QuarterIsItsOwnPattern", "SIMPART=24C02 SIMTWR=1", 8, 0, 0xFE, {0x00, 0x40}, {}, 1, {}},
        CheckRow{"SmallerThanThePart",
                 "SIMPART=24C02 SIMTWR=1",
                 7,
                 0,
                 0x7E,
                 {0xFF, 0xFF},
                 {},
                 1,
                 {"7e 5b", "7f 5a", "7e ff", "7f ff"}},
        // the low byte keeps 0xFF: the pattern does not read back, and the
        // high byte that did change is put back
        CheckRow{"WornByteIsRestored",
                 "SIMPART=24C02 SIMTWR=1",
                 8,
                 0,
                 0xFE,
                 {0xFF, 0xFF},
                 {0xFE},
                 0,
                 {"fe 5b", "ff 5a", "ff ff"}},
        // a 24C02 does not answer at 0xA2: the saved word cannot be read,
        // so nothing is written at all
        CheckRow{"LargerThanThePart", "SIMPART=24C02 SIMTWR=1", 9, 1, 0xFE, {0xFF, 0xFF}, {}, 0, {}}),
    [](const testing::TestParamInfo<CheckRow> &info) { return std::string(info.param.name); });

TEST_F(BlockTest, CheckWithNoSizeKnownTouchesNothing) {
    Open("SIMPART=24C02", 0, 0);
    EXPECT_EQ(zel::CheckSize(), 0);
    EXPECT_TRUE(transport().Registers().empty());
}

} // namespace
