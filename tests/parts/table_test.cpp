// The table of parts as each C++ consumer sees it, against the file itself,
// and the parser's refusals.
#include "core/events.h"
#include "core/parts.h"
#include "hoplink/sim.h"
#include "zelparts/part_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string FileText() {
    std::ifstream file(ZEL_PARTS_FILE, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string Lower(std::string text) {
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

TEST(PartTable, EveryConsumerSeesTheRowsOfTheFile) {
    std::vector<zelparts::PartRow> rows;
    std::string error;
    ASSERT_TRUE(zelparts::ParseTable(FileText(), rows, error)) << error;
    EXPECT_EQ(zelparts::TableText(), FileText()) << "the built-in table is not the file's";
    const auto sim = hoplink::sim::Parts();
    const auto tool = zelprog::KnownParts();
    ASSERT_EQ(sim.size(), rows.size());
    ASSERT_EQ(tool.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const zelparts::PartRow &row = rows[i];
        SCOPED_TRACE(row.name);
        const hoplink::sim::Part &s = sim[i];
        EXPECT_EQ(s.name, row.name);
        EXPECT_EQ(s.size, row.bytes);
        EXPECT_EQ(s.addressBytes, row.addressBytes);
        EXPECT_EQ(s.blockMask, row.blockMask);
        EXPECT_EQ(s.pageSize, row.page.strict);
        EXPECT_EQ(s.pinMask, row.pinMask.strict);
        EXPECT_EQ(s.readsRollAtBlockEnd, row.rollover.strict == zelparts::kRollsAtBlockEnd);
        EXPECT_EQ(s.writeCycleMs, static_cast<uint32_t>(row.writeCycleMs.strict));
        EXPECT_EQ(s.ackWhileProtected, row.protectedData.strict == zelparts::kAckWhileProtected);
        EXPECT_EQ(s.romFirst <= s.romLast, row.hasRom);
        const zelprog::PartGeometry &t = tool[i];
        const zelprog::Event event = zelprog::PartEvent(t); // what --json and the GUI show
        EXPECT_EQ(event["name"], Lower(row.name));
        EXPECT_EQ(event["bytes"], row.bytes);
        EXPECT_EQ(event["sizeBits"], row.sizeBits);
        EXPECT_EQ(event["blockBits"], row.blockMask >> 1);
        EXPECT_EQ(event["addressBytes"], row.addressBytes);
        EXPECT_EQ(event["pageBytes"], row.page.Min());
        EXPECT_EQ(event["pageBytesMax"], row.page.Max());
        EXPECT_EQ(event["readsRollAtBlockEnd"], row.rollover.Max() == zelparts::kRollsAtBlockEnd);
        EXPECT_EQ(event["writeCycleMs"], row.writeCycleMs.Max());
        EXPECT_EQ(event["unconfirmed"], !row.unconfirmed.empty());
        EXPECT_EQ(event["aliases"].size(), row.aliases.size());
        for (const std::string &alias : row.aliases)
            EXPECT_EQ(zelprog::FindPart(alias), &t) << alias;
    }
}

TEST(PartTable, BadCellsAreRefusedNamingTheLineAndColumn) {
    const std::string header =
        "name\taliases\tbytes\taddr_bytes\tblock_bits\tpins\tpage\tread_rollover\ttwr_ms\twp\trom\t"
        "id\tunconfirmed\tsources\n";
    const std::string good = "24C04\t-\t512\t1\tb1\tA2A1\t16\tmemory\t10\tack st=nak\t-\t-\t-\tST Doc ID 5067";
    struct Case {
        const char *what;
        std::string from, to; // replaced in the good row
        const char *error;    // the start of the error, or "" when the row is good
    };
    const Case cases[] = {
        {"the good row", "", "", ""},
        {"a size that is no power of two", "\t512\t", "\t500\t", "line 3: bad bytes"},
        {"more unfolded bits than the address bytes hold", "\tb1\t", "\t-\t", "line 3: bad block_bits"},
        {"a pin on a block bit", "A2A1", "A2A0", "line 3: bad pins"},
        {"a page that is no power of two", "\t16\t", "\t24\t", "line 3: bad page"},
        {"a vendor value that does not parse", "st=nak", "st=maybe", "line 3: bad wp"},
        {"a read-only range outside the part", "\t-\t-\t-\t", "\t0x100-0x200\t-\t-\t", "line 3: bad rom"},
        {"an unknown column marked unconfirmed", "\t-\tST", "\tspeed\tST", "line 3: bad unconfirmed"},
        {"a missing cell", "\tST Doc ID 5067", "", "line 3: 13 cells"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string row = good;
        if (!c.from.empty() || !c.to.empty()) {
            const size_t at = row.find(c.from);
            ASSERT_NE(at, std::string::npos);
            row.replace(at, c.from.size(), c.to);
        }
        std::vector<zelparts::PartRow> rows;
        std::string error;
        const bool parsed = zelparts::ParseTable("# parts\n" + header + row + "\n", rows, error);
        EXPECT_EQ(parsed, std::string(c.error).empty()) << error;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

} // namespace
