// Device attach, the descriptor and address composition.
#include <gmock/gmock.h>

#include <memory>

#include "eeprom/device.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace {

class Device : public zeltest::LinkTest {};

TEST_F(Device, ScanProbesUpwardAndStopsAtTheFirstAnswer) {
    ASSERT_TRUE(OpenTarget("SIMPART=24C02 SIMADDR=3"));
    transport().ClearLog();
    EXPECT_EQ(zel::ScanDeviceAddress(), 0xA6);
    EXPECT_EQ(BusText(), "S P S a0- P S a2- P S a4- P S a6+ P");
}

TEST_F(Device, ScanFindsEveryChipAddress) {
    for (int pins = 0; pins < 8; ++pins) {
        ASSERT_TRUE(OpenTarget("SIMPART=24C02 SIMADDR=" + std::to_string(pins)));
        EXPECT_EQ(zel::ScanDeviceAddress(), 0xA0 + 2 * pins) << "SIMADDR=" << pins;
    }
}

TEST_F(Device, DeviceAnsweringEverywhereIsRecordedAtTheLowest) {
    ASSERT_TRUE(Attach("SIMPART=24C16 SIMADDR=5", 11, 7)); // block bits take the pins
    EXPECT_EQ(zelGetDeviceAddress(), 0xA0);
}

TEST_F(Device, ScanYieldsZeroWhenNothingAnswers) {
    ASSERT_TRUE(OpenTarget("SIMPART=24C02 SIMFAULT=absent"));
    transport().ClearLog();
    EXPECT_EQ(zel::ScanDeviceAddress(), 0);
    EXPECT_EQ(BusText(), "S P S a0- P S a2- P S a4- P S a6- P S a8- P S aa- P S ac- P S ae- P");
}

TEST_F(Device, ScanDoesNotProbeWhenRecoveryFails) {
    ASSERT_TRUE(OpenTarget("SIMPART=24C02"));
    Target().GetFaults().stuckDataClocks = 100;
    transport().ClearLog();
    EXPECT_EQ(zel::ScanDeviceAddress(), 0);
    EXPECT_EQ(BusText(), "~9 P");
}

TEST_F(Device, AttachDrivesWriteProtectHighAfterTheScan) {
    ASSERT_TRUE(Attach("SIMPART=24C02", 8, 0));
    const std::vector<zeltest::RegisterAccess> log = transport().Registers();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].address, 0x0062u);
    EXPECT_EQ(log[log.size() - 2].value & 0x0100, 0x0100);
    EXPECT_EQ(log.back().address, 0x0061u);
    EXPECT_EQ(log.back().value & 0x01C0, 0x0100); // write-protect driven, bus released
}

TEST_F(Device, FailedAttachLeavesWriteProtectAndDescriptorAlone) {
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMADDR=2", 8, 1));
    const uint32_t before = zel::DescriptorWord();
    transport().ClearLog();
    EXPECT_FALSE(Attach("SIMPART=24C02 SIMFAULT=absent", 12, 0));
    EXPECT_EQ(zel::DescriptorWord(), before);
    EXPECT_EQ(zelGetDeviceAddress(), 0xA4);
    for (const zeltest::RegisterAccess &access : transport().Registers()) {
        if (access.kind == zeltest::AccessKind::Write && access.address == 0x0061) {
            EXPECT_EQ(access.value & 0x0100, 0x0100) << "write-protect line released";
        }
    }
}

TEST_F(Device, NoAddressBeforeAnyAttach) {
    EXPECT_FALSE(zel::DeviceAttached());
    EXPECT_EQ(zelGetDeviceAddress(), 0);
}

struct DescriptorRow {
    int sizeBits, blockBits;
    unsigned storedSize, storedBlock, addressBytes;
};

class Descriptor : public zeltest::LinkTest, public testing::WithParamInterface<DescriptorRow> {};

TEST_P(Descriptor, KeepsOnlyTheLowBitsAndDerivesAddressBytes) {
    const DescriptorRow &row = GetParam();
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMADDR=1", row.sizeBits, row.blockBits));
    EXPECT_EQ(zel::DescriptorWord(), 0xA2u | row.storedSize << 8 | row.storedBlock << 13 | row.addressBytes << 16);
}

INSTANTIATE_TEST_SUITE_P(Table, Descriptor,
                         testing::Values(DescriptorRow{40, 9, 8, 1, 1}, DescriptorRow{0, 0, 0, 0, 0},
                                         DescriptorRow{11, 7, 11, 7, 1}, DescriptorRow{9, 0, 9, 0, 2},
                                         DescriptorRow{17, 0, 17, 0, 3}, DescriptorRow{-1, -1, 31, 7, 0},
                                         DescriptorRow{0x7FFFFFE8, 0x7FFFFFF8, 8, 0, 1}),
                         [](const testing::TestParamInfo<DescriptorRow> &info) {
                             return "Row" + std::to_string(info.index);
                         });

// Sets the geometry on a device attached at 0xA0 and derives the address bytes.
class Geometry : public zeltest::LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        ASSERT_TRUE(Attach("SIMPART=24C02", 8, 0));
    }
    static void Use(unsigned sizeBits, unsigned blockBits) {
        zel::SetSizeBits(sizeBits);
        zel::SetBlockBits(blockBits);
        zel::DeriveAddressBytes();
    }
};

struct AddressBytesRow {
    unsigned sizeBits, blockBits, addressBytes;
    bool supported;
};

TEST_F(Geometry, AddressBytesCoverTheUnfoldedBits) {
    const AddressBytesRow rows[] = {
        {0, 0, 0, false},  {3, 7, 0, false},  {1, 7, 0, false},  {2, 7, 0, false},  {1, 1, 0, false},
        {2, 4, 1, true},   {1, 0, 1, true},   {8, 0, 1, true},   {9, 1, 1, true},   {11, 7, 1, true},
        {9, 0, 2, true},   {16, 0, 2, true},  {17, 1, 2, true},  {19, 7, 2, true},  {17, 0, 3, false},
        {20, 3, 3, false}, {24, 0, 3, false}, {25, 0, 0, false}, {31, 0, 0, false},
    };
    for (const AddressBytesRow &row : rows) {
        Use(row.sizeBits, row.blockBits);
        EXPECT_EQ(zel::AddressBytes(), row.addressBytes) << "S=" << row.sizeBits << " B=" << row.blockBits;
        EXPECT_EQ(zel::TransferGeometrySupported(), row.supported)
            << "S=" << row.sizeBits << " B=" << row.blockBits;
    }
}

struct ComposeRow {
    unsigned sizeBits, blockBits;
    uint32_t address;
    uint8_t device;
    std::vector<uint8_t> bytes; // the first addressBytes bytes of the output
};

void ExpectComposes(const ComposeRow &row) {
    uint8_t out[2] = {0xEE, 0xEE};
    const uint8_t device = zel::ComposeAddress(row.address, out);
    const std::string where = "S=" + std::to_string(row.sizeBits) + " B=" + std::to_string(row.blockBits);
    EXPECT_EQ(zel::AddressBytes(), row.bytes.size()) << where;
    EXPECT_EQ(device, row.device) << where;
    EXPECT_EQ(std::vector<uint8_t>(out, out + row.bytes.size()), row.bytes) << where;
    EXPECT_EQ(zel::ComposeAddress(row.address, nullptr), row.device) << where;
}

TEST_F(Geometry, LastByteOfEverySupportedSize) {
    const ComposeRow rows[] = {
        {7, 0, 0x7F, 0xA0, {0x7F}},           {7, 1, 0x7F, 0xA2, {0x3F}},
        {7, 2, 0x7F, 0xA4, {0x3F}},           {7, 3, 0x7F, 0xA6, {0x1F}},
        {8, 0, 0xFF, 0xA0, {0xFF}},           {8, 1, 0xFF, 0xA2, {0x7F}},
        {8, 2, 0xFF, 0xA4, {0x7F}},           {8, 3, 0xFF, 0xA6, {0x3F}},
        {9, 0, 0x1FF, 0xA0, {0x01, 0xFF}},    {9, 1, 0x1FF, 0xA2, {0xFF}},
        {9, 2, 0x1FF, 0xA4, {0xFF}},          {9, 3, 0x1FF, 0xA6, {0x7F}},
        {10, 0, 0x3FF, 0xA0, {0x03, 0xFF}},   {10, 1, 0x3FF, 0xA2, {0x01, 0xFF}},
        {10, 2, 0x3FF, 0xA4, {0x01, 0xFF}},   {10, 3, 0x3FF, 0xA6, {0xFF}},
        {11, 0, 0x7FF, 0xA0, {0x07, 0xFF}},   {11, 1, 0x7FF, 0xA2, {0x03, 0xFF}},
        {11, 2, 0x7FF, 0xA4, {0x03, 0xFF}},   {11, 3, 0x7FF, 0xA6, {0x01, 0xFF}},
        {12, 0, 0xFFF, 0xA0, {0x0F, 0xFF}},   {12, 1, 0xFFF, 0xA2, {0x07, 0xFF}},
        {12, 2, 0xFFF, 0xA4, {0x07, 0xFF}},   {12, 3, 0xFFF, 0xA6, {0x03, 0xFF}},
        {13, 0, 0x1FFF, 0xA0, {0x1F, 0xFF}},  {13, 1, 0x1FFF, 0xA2, {0x0F, 0xFF}},
        {13, 2, 0x1FFF, 0xA4, {0x0F, 0xFF}},  {13, 3, 0x1FFF, 0xA6, {0x07, 0xFF}},
        {14, 0, 0x3FFF, 0xA0, {0x3F, 0xFF}},  {14, 1, 0x3FFF, 0xA2, {0x1F, 0xFF}},
        {14, 2, 0x3FFF, 0xA4, {0x1F, 0xFF}},  {14, 3, 0x3FFF, 0xA6, {0x0F, 0xFF}},
        {15, 0, 0x7FFF, 0xA0, {0x7F, 0xFF}},  {15, 1, 0x7FFF, 0xA2, {0x3F, 0xFF}},
        {15, 2, 0x7FFF, 0xA4, {0x3F, 0xFF}},  {15, 3, 0x7FFF, 0xA6, {0x1F, 0xFF}},
        {16, 0, 0xFFFF, 0xA0, {0xFF, 0xFF}},  {16, 1, 0xFFFF, 0xA2, {0x7F, 0xFF}},
        {16, 2, 0xFFFF, 0xA4, {0x7F, 0xFF}},  {16, 3, 0xFFFF, 0xA6, {0x3F, 0xFF}},
        {17, 1, 0x1FFFF, 0xA2, {0xFF, 0xFF}}, {17, 2, 0x1FFFF, 0xA4, {0xFF, 0xFF}},
        {17, 3, 0x1FFFF, 0xA6, {0x7F, 0xFF}},
    };
    for (const ComposeRow &row : rows) {
        Use(row.sizeBits, row.blockBits);
        ExpectComposes(row);
    }
}

TEST_F(Geometry, BlockBitsTakeTheTopAddressBitsInOrder) {
    const ComposeRow rows[] = {
        {11, 7, 0x5A3, 0xAA, {0xA3}},
        {10, 6, 0x2C5, 0xA8, {0xC5}},
        {8, 4, 0x80, 0xA8, {0x00}},
        {17, 1, 0x1ABCD, 0xA2, {0xAB, 0xCD}},
        {16, 0, 0x1234, 0xA0, {0x12, 0x34}},
        {11, 7, 0x7FF, 0xAE, {0xFF}},
        {9, 0, 0x1FF, 0xA0, {0x01, 0xFF}},
        {10, 5, 0x200, 0xA8, {0x00}},
        {10, 5, 0x100, 0xA2, {0x00}},
        {8, 0, 0x1FF, 0xA0, {0xFF}},
        {0, 0, 0x1234, 0xA0, {}},
    };
    for (const ComposeRow &row : rows) {
        Use(row.sizeBits, row.blockBits);
        ExpectComposes(row);
    }
}

TEST_F(Geometry, DeviceImageHoldsTheWholeDevice) {
    const struct {
        unsigned sizeBits;
        int32_t bytes;
    } rows[] = {{0, 1}, {1, 2}, {8, 256}, {15, 32768}, {17, 131072}};
    for (const auto &row : rows) {
        Use(row.sizeBits, 0);
        int32_t size = -1;
        std::unique_ptr<uint16_t[]> image(zel::AllocDeviceImage(&size));
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(size, row.bytes);
        const int32_t words = std::max(row.bytes / 2, 1);
        image[words - 1] = 0xFFFF; // the last word exists (AddressSanitizer)
    }
}

TEST_F(Geometry, NoDeviceImageWhenTheSizeDoesNotFitTheCount) {
    Use(31, 0);
    int32_t size = -1;
    EXPECT_EQ(zel::AllocDeviceImage(&size), nullptr);
    EXPECT_EQ(size, 0);
}

} // namespace
