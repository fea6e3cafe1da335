// The virtual target against the datasheets: every part, every rule, with the
// expected values written from the datasheets (not read from the table).
#include "bitbang.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

using hoplinktest::Bench;
using hoplinktest::Bytes;

struct Rule {
    const char *part;
    const char *variant; // SIMVARIANT, "" for the strictest
    uint32_t bytes;
    int addressBytes;
    uint8_t topDevice; // device byte of the last address (chip-address pins 0)
    uint32_t rollsTo;  // where a sequential read from the last byte goes on
    uint32_t page;
    bool ackWhileProtected; // a data byte under write-protect
    uint32_t writeCycleMs;  // longest write cycle
    uint8_t answers;        // bit n: device address 0xA0 + 2n answers (pins all 0)
    uint32_t romFirst;      // first byte of a permanently protected range; 0 = none
};

// Sources: ST Doc ID 5067, 16891; Microchip DS21709J, DS21210, DS21189T,
// DS21073K, DS21673, DS21941, DS20002270, DS20006170A, DS20006197,
// DS20002124, DS20005202A, DS20005215A; Atmel 0670O, 1471, 5194; onsemi
// CAT24C256/D, CAT24C512; Fairchild FM24C256; Xicor X24C16. Where a value
// was not read in a datasheet the strictest stands: smallest page, longest
// write cycle (10 ms), per-block read roll-over, write-protected data acknowledged.
const Rule kRules[] = {
    {"24C01", "", 128, 1, 0xA0, 0x00, 8, true, 10, 0x01, 0},
    {"24C01", "st", 128, 1, 0xA0, 0x00, 16, false, 10, 0x01, 0},
    {"24C01", "microchip", 128, 1, 0xA0, 0x00, 8, true, 10, 0xFF, 0}, // 24LC01B: b3..b1 don't care
    {"24C02", "", 256, 1, 0xA0, 0x00, 8, true, 10, 0x01, 0},
    {"24C02", "st", 256, 1, 0xA0, 0x00, 16, false, 10, 0x01, 0},
    {"24C04", "", 512, 1, 0xA2, 0x000, 16, true, 10, 0x03, 0},  // b1 = A8
    {"24C08", "", 1024, 1, 0xA6, 0x000, 16, true, 10, 0x0F, 0}, // b2 b1 = A9 A8
    {"24C16", "", 2048, 1, 0xAE, 0x000, 16, true, 10, 0xFF, 0}, // b3..b1 = A10..A8, rolls over all blocks
    {"24C32", "", 4096, 2, 0xA0, 0x000, 32, true, 10, 0x01, 0},
    {"24C64", "", 8192, 2, 0xA0, 0x0000, 32, true, 5, 0x01, 0},
    {"24C65", "", 8192, 2, 0xA0, 0x0000, 8, true, 5, 0x01, 0},
    {"24C128", "", 16384, 2, 0xA0, 0x0000, 64, true, 10, 0x01, 0},
    {"24C256", "", 32768, 2, 0xA0, 0x0000, 64, true, 10, 0x01, 0},
    {"24C256", "onsemi", 32768, 2, 0xA0, 0x0000, 64, false, 5, 0x01, 0},
    {"24C256", "fairchild", 32768, 2, 0xA0, 0x0000, 64, true, 6, 0x01, 0},
    {"24C512", "", 65536, 2, 0xA0, 0x0000, 128, true, 10, 0x01, 0},
    {"24C515", "", 65536, 2, 0xA8, 0x8000, 64, true, 10, 0x11, 0},             // B0 = A15 in b3
    {"24C1024", "", 131072, 2, 0xA2, 0x10000, 256, true, 10, 0x03, 0},         // P0 = A16 in b1
    {"24C1025", "", 131072, 2, 0xA8, 0x10000, 128, true, 10, 0x11, 0},         // B0 = A16 in b3, per 64 KiB block
    {"24C1026", "", 131072, 2, 0xA2, 0x10000, 128, true, 10, 0x03, 0},         // B0 = A16 in b1
    {"24CM02", "", 262144, 2, 0xA6, 0x30000, 256, true, 10, 0x0F, 0},          // A17 A16 in b2 b1
    {"24CM02", "microchip", 262144, 2, 0xA6, 0x00000, 256, true, 10, 0x0F, 0}, // AT24CM02 rolls over the memory
    {"24AA02E48", "", 256, 1, 0xA0, 0x00, 8, true, 10, 0xFF, 0x80},            // upper half permanently protected
    {"24AA025E48", "", 256, 1, 0xA0, 0x00, 16, true, 10, 0x01, 0x80},
    {"24AA02E64", "", 256, 1, 0xA0, 0x00, 8, true, 10, 0xFF, 0x80},
    {"24AA02UID", "", 256, 1, 0xA0, 0x00, 8, true, 10, 0xFF, 0x80},
    {"24AA025UID", "", 256, 1, 0xA0, 0x00, 16, true, 10, 0x01, 0x80},
    {"24AA256UID", "", 32768, 2, 0xA0, 0x0000, 64, true, 5, 0x01, 0x7000}, // upper eighth protected
};

std::vector<uint8_t> AddressOf(const Rule &r, uint32_t address) {
    if (r.addressBytes == 2)
        return Bytes({int(address >> 8 & 0xFF), int(address & 0xFF)});
    return Bytes({int(address & 0xFF)});
}

std::vector<uint8_t> With(std::vector<uint8_t> bytes, std::initializer_list<int> data) {
    for (int value : data)
        bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

std::unique_ptr<Bench> Open(const Rule &r, const std::string &extra = "") {
    std::string config = std::string("SIMPART=") + r.part + " SIMTWR=0 " + extra;
    if (*r.variant)
        config += std::string(" SIMVARIANT=") + r.variant;
    auto b = std::make_unique<Bench>(config);
    EXPECT_TRUE(b->target);
    return b;
}

TEST(Datasheet, EveryPartOfTheTableHasItsRules) {
    std::set<std::string> ruled;
    for (const Rule &r : kRules)
        ruled.insert(r.part);
    for (const auto &part : hoplink::sim::Parts())
        EXPECT_EQ(ruled.count(part.name), 1u) << part.name << " has no rules here";
    EXPECT_EQ(ruled.size(), hoplink::sim::Parts().size());
}

TEST(Datasheet, TheTargetFollowsEveryRuleOfEveryPart) {
    for (const Rule &r : kRules) {
        SCOPED_TRACE(std::string(r.part) + " " + r.variant);
        auto b = Open(r);
        if (!b->target)
            continue;
        Bench &bench = *b;
        ASSERT_EQ(bench.target->Memory().size(), r.bytes);
        const uint32_t last = r.bytes - 1;
        auto cells = bench.target->Memory();
        std::fill(cells.begin(), cells.end(), 0x00);
        bench.master->WriteProtect(false);

        // size and block bits: the last byte is reached through its device byte
        const auto lastAddress = AddressOf(r, last);
        EXPECT_EQ(bench.master->Write(r.topDevice, With(lastAddress, {0xEE})), r.addressBytes + 2);
        EXPECT_EQ(cells[last], r.romFirst ? 0x00 : 0xEE);
        cells[last] = 0xEE;

        // sequential read roll-over
        cells[r.rollsTo] = 0x5A;
        EXPECT_EQ(bench.master->ReadAt(r.topDevice, lastAddress, 2), Bytes({0xEE, 0x5A}));

        // page roll-over: one byte more than a page wraps onto the page's first byte
        std::vector<uint8_t> page = AddressOf(r, r.page);
        for (uint32_t i = 0; i <= r.page; ++i)
            page.push_back(static_cast<uint8_t>(i + 1));
        EXPECT_EQ(bench.master->Write(0xA0, page), static_cast<int>(page.size()) + 1);
        EXPECT_EQ(cells[r.page], static_cast<uint8_t>(r.page + 1));
        EXPECT_EQ(cells[r.page + 1], 2);
        EXPECT_EQ(cells[2 * r.page], 0x00) << "the write went past the page";

        // write-protect: the data byte's answer, and nothing written
        bench.master->WriteProtect(true);
        const uint8_t before = cells[0];
        const int sent = bench.master->Write(0xA0, With(AddressOf(r, 0), {0x77}));
        EXPECT_EQ(sent, r.addressBytes + (r.ackWhileProtected ? 2 : 1));
        EXPECT_EQ(cells[0], before);
        bench.master->WriteProtect(false);

        // a permanently protected range: acknowledged, never written
        if (r.romFirst != 0) {
            EXPECT_EQ(bench.master->Write(0xA0, With(AddressOf(r, r.romFirst), {0x33})), r.addressBytes + 2);
            EXPECT_EQ(cells[r.romFirst], 0x00);
            EXPECT_EQ(bench.master->Write(0xA0, With(AddressOf(r, r.romFirst - 1), {0x33})), r.addressBytes + 2);
            EXPECT_EQ(cells[r.romFirst - 1], 0x33);
        }

        // chip-address pins: which device addresses answer with the pins at 0
        uint8_t answers = 0;
        for (int n = 0; n < 8; ++n)
            if (bench.master->Probe(static_cast<uint8_t>(0xA0 + 2 * n)))
                answers = static_cast<uint8_t>(answers | 1u << n);
        EXPECT_EQ(answers, r.answers);
    }
}

TEST(Datasheet, TheLongestWriteCycleIsTheDatasheetsWithSimtwrMax) {
    for (const Rule &r : kRules) {
        SCOPED_TRACE(std::string(r.part) + " " + r.variant);
        auto b = Open(r, "SIMTWR=max");
        if (!b->target)
            continue;
        b->master->WriteProtect(false);
        ASSERT_EQ(b->master->Write(0xA0, With(AddressOf(r, 0), {0x12})), r.addressBytes + 2);
        const uint64_t stop = b->clock.NowMicros();
        while (!b->master->Probe(0xA0)) {
        }
        const uint64_t took = b->clock.NowMicros() - stop;
        EXPECT_GE(took, uint64_t{r.writeCycleMs} * 1000);
        EXPECT_LT(took, uint64_t{r.writeCycleMs} * 1000 + 100); // one probe takes about 40 accesses
    }
}

} // namespace
