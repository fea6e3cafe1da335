// The emulated chip through the stand-in libftdi1's own calls, as a backend
// drives it.
#include <gtest/gtest.h>
#include <libftdi1/ftdi.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string &text) {
    std::istringstream in(text);
    Bytes bytes;
    unsigned value = 0;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

std::string ReportPath(size_t run) {
    return testing::TempDir() + "ftdi_emu_" + testing::UnitTest::GetInstance()->current_test_info()->name() +
           std::to_string(run) + ".json";
}

// A fresh world for each run: a new report path makes the next call build
// it again.
void World(const std::string &text, size_t run = 0) {
    setenv("ZEL_FTDI_EMU", text.c_str(), 1);
    setenv("ZEL_FTDI_EMU_REPORT", ReportPath(run).c_str(), 1);
}

nlohmann::json Report(size_t run = 0) {
    std::ifstream in(ReportPath(run));
    return nlohmann::json::parse(in);
}

struct Context {
    ftdi_context *ftdi = ftdi_new();
    ~Context() { ftdi_free(ftdi); }
    int Open(const char *serial, ftdi_interface interface = INTERFACE_A, int product = 0x6014) {
        ftdi_set_interface(ftdi, interface);
        return ftdi_usb_open_desc(ftdi, 0x0403, product, nullptr, serial);
    }
    void Mpsse() {
        ASSERT_EQ(ftdi_set_bitmode(ftdi, 0, BITMODE_RESET), 0);
        ASSERT_EQ(ftdi_set_bitmode(ftdi, 0, BITMODE_MPSSE), 0);
    }
    int Write(const Bytes &bytes) { return ftdi_write_data(ftdi, bytes.data(), static_cast<int>(bytes.size())); }
    Bytes Read(size_t most) {
        Bytes bytes(most);
        const int got = ftdi_read_data(ftdi, bytes.data(), static_cast<int>(most));
        bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return bytes;
    }
};

constexpr const char *kTwoChips = "device=FT232H:H1;device=FT4232H:Q1";

TEST(FtdiEmu, CommandsAnswerAsTheChipDoes) {
    struct Case {
        const char *serial;
        int product;
        std::vector<std::string> writes; // split where a command may be split
        const char *reply;
    };
    const Case cases[] = {
        {"H1", 0x6014, {"80 00 40 81 87"}, "bf"},             // SCL pin pulled low
        {"H1", 0x6014, {"80 00", "40 81", "87"}, "bf"},       // commands split across writes
        {"H1", 0x6014, {"82 00 01 83 87"}, "fe"},             // write-protect pin on ACBUS0
        {"H1", 0x6014, {"8a 86 2b 01 85 8d 97 81 87"}, "ff"}, // set-up commands answer nothing
        {"H1", 0x6014, {"aa", "ab 81 87"}, "fa aa fa ab ff"}, // bad commands echo in order
        {"H1", 0x6014, {"9e 40 00 80 40 40 81 87"}, "ff"},    // drive-zero pin at 1 floats high
        {"Q1", 0x6011, {"83 9e 81 87"}, "fa 83 fa 9e ff"},    // no high byte, no drive-zero
        {"Q1", 0x6011, {"80 00 01 81 87"}, "fe"},             // no EEPROM here: the pin alone
        {"H1", 0x6014, {"88 81 87"}, "ff"},                   // GPIOL1 floats high: no wait
        {"H1", 0x6014, {"89 81 87"}, ""},                     // waits for ever on a low GPIOL1
        {"H1", 0x6014, {"10 00 00 5a 81 87"}, ""},            // serial commands are not carried out
    };
    for (size_t run = 0; run < std::size(cases); ++run) {
        const Case &c = cases[run];
        SCOPED_TRACE(c.writes.front());
        World(kTwoChips, run);
        Context context;
        ASSERT_EQ(context.Open(c.serial, INTERFACE_A, c.product), 0);
        context.Mpsse();
        for (const std::string &write : c.writes)
            ASSERT_EQ(context.Write(Hex(write)), static_cast<int>(Hex(write).size()));
        EXPECT_EQ(context.Read(16), Hex(c.reply));
    }
}

TEST(FtdiEmu, FifosHoldWhatTheChipHolds) {
    struct Case {
        const char *serial;
        int product;
        size_t fifos; // IN and OUT FIFO together
    };
    const Case cases[] = {{"H1", 0x6014, 2048}, {"D1", 0x6010, 8192}, {"Q1", 0x6011, 4096}};
    for (size_t run = 0; run < std::size(cases); ++run) {
        const Case &c = cases[run];
        SCOPED_TRACE(c.serial);
        World("device=FT232H:H1;device=FT2232H:D1;device=FT4232H:Q1", run);
        Context context;
        ASSERT_EQ(context.Open(c.serial, INTERFACE_A, c.product), 0);
        context.Mpsse();
        // reads the host never collects: the IN FIFO fills, then the OUT FIFO
        const Bytes reads(c.fifos, 0x81);
        ASSERT_EQ(context.Write(reads), static_cast<int>(reads.size()));
        EXPECT_EQ(context.Write({0x81}), -1);
        EXPECT_STREQ(ftdi_get_error_string(context.ftdi), "usb bulk write failed");
        EXPECT_EQ(context.Read(c.fifos + 1), Bytes(c.fifos, 0xFF)); // every reply, none lost
    }
}

// A bit-banger on SCL = ADBUS6, SDA = ADBUS7, write-protect = ACBUS0, lines
// released by direction only, waiting with clocks of 1 us.
class Banger {
public:
    explicit Banger(unsigned waitMicros) : wait_(waitMicros) { Add("8a 97 8d 86 1d 00 82 01 01"); }

    void Start() {
        Set(false, false);
        Set(false, true);
        Set(true, true);
    }
    void Restart() { // from a low clock
        Set(true, false);
        Set(false, false);
        Start();
    }
    void Stop() { // from a low clock
        Set(true, true);
        Set(false, true);
        Set(false, false);
    }
    void Bit(bool one, bool sample) {
        Set(true, !one);
        Set(false, !one);
        if (sample)
            Add("81");
        Set(true, !one);
    }
    void Byte(uint8_t byte) {
        for (int i = 7; i >= 0; --i)
            Bit((byte >> i) & 1, false);
        Bit(true, true); // acknowledge
    }
    void WriteProtect(bool high) { Add(high ? "82 01 01" : "82 00 01"); }
    void Wait(unsigned micros) { // 8F counts whole bytes of clocks, up to 65536 of them
        if (micros < 8)
            return;
        const unsigned count = micros / 8 - 1;
        commands.insert(commands.end(), {0x8F, static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)});
    }
    Bytes commands;

private:
    void Add(const std::string &hex) {
        const Bytes more = Hex(hex);
        commands.insert(commands.end(), more.begin(), more.end());
    }
    // SCL low and SDA low pull; each change is followed by the wait
    void Set(bool sclLow, bool sdaLow) {
        commands.insert(commands.end(),
                        {0x80, 0x00, static_cast<uint8_t>((sclLow ? 0x40 : 0) | (sdaLow ? 0x80 : 0))});
        if (wait_ != 0)
            commands.insert(commands.end(), {0x8E, static_cast<uint8_t>(wait_ - 1)});
    }
    unsigned wait_;
};

TEST(FtdiEmu, TheEepromSeesTheBusTimingAndItsLimitsAreChecked) {
    struct Case {
        unsigned waitMicros;
        const char *speed;
        unsigned writeProtectHoldMicros;
        const char *broken; // a limit the report names; null: none broken
    };
    const Case cases[] = {
        {5, "standard", 8, nullptr},  {2, "fast", 8, nullptr},   {2, "standard", 8, "scl_high"},
        {0, "fast", 8, "start_hold"}, {2, "fast", 0, "wp_hold"},
    };
    for (size_t run = 0; run < std::size(cases); ++run) {
        const Case &c = cases[run];
        SCOPED_TRACE(std::to_string(c.waitMicros) + " us, " + c.speed);
        const std::string file = testing::TempDir() + "ftdi_emu_cells.bin";
        std::remove(file.c_str());
        World(std::string("device=FT232H:H1;scl=6;sda=7;wp=8;part=24C256;file=") + file + ";speed=" + c.speed,
              run);
        {
            Context context;
            ASSERT_EQ(context.Open("H1"), 0);
            context.Mpsse();
            Banger bus(c.waitMicros);
            bus.WriteProtect(false);
            bus.Start();
            for (uint8_t byte : {0xA0, 0x01, 0x23, 0x5A})
                bus.Byte(byte);
            bus.Stop();
            bus.Wait(c.writeProtectHoldMicros);
            bus.WriteProtect(true);
            bus.Wait(5600); // write cycle
            bus.Start();
            for (uint8_t byte : {0xA0, 0x01, 0x23})
                bus.Byte(byte);
            bus.Restart();
            bus.Byte(0xA1);
            for (int i = 0; i < 8; ++i)
                bus.Bit(true, true);
            bus.Bit(true, false); // no acknowledge: the read ends
            bus.Stop();
            bus.commands.push_back(0x87);
            ASSERT_EQ(context.Write(bus.commands), static_cast<int>(bus.commands.size()));
            const Bytes samples = context.Read(64);
            ASSERT_EQ(samples.size(), 4u + 3u + 1u + 8u);
            for (size_t ack : {0, 1, 2, 3, 4, 5, 6, 7})
                EXPECT_EQ(samples[ack] & 0x80, 0) << "acknowledge " << ack; // the EEPROM pulls SDA
            uint8_t read = 0;
            for (size_t bit = 8; bit < samples.size(); ++bit)
                read = static_cast<uint8_t>(read << 1 | (samples[bit] >> 7));
            EXPECT_EQ(read, 0x5A);
        }
        std::ifstream cells(file, std::ios::binary);
        cells.seekg(0x0123);
        EXPECT_EQ(cells.get(), 0x5A);
        const nlohmann::json report = Report(run);
        EXPECT_EQ(report["violations_total"] == 0, c.broken == nullptr) << report.dump();
        bool named = c.broken == nullptr;
        for (const auto &violation : report["violations"])
            named = named || violation["kind"] == c.broken;
        EXPECT_TRUE(named) << report.dump();
        EXPECT_EQ(report["speed"], c.speed);
        EXPECT_EQ(report["bad_commands_total"], 0);
    }
}

TEST(FtdiEmu, ADriverHighLosesToTheEepromPullingLow) {
    World("device=FT232H:H1");
    Context context;
    ASSERT_EQ(context.Open("H1"), 0);
    context.Mpsse();
    Banger bus(5);
    bus.Start();
    for (int i = 7; i >= 0; --i)
        bus.Bit((0xA0 >> i) & 1, false);
    // the acknowledge clock with SDA driven high instead of released
    bus.commands.insert(bus.commands.end(), {0x80, 0x80, 0xC0, 0x80, 0x80, 0x80, 0x81, 0x87});
    ASSERT_EQ(context.Write(bus.commands), static_cast<int>(bus.commands.size()));
    EXPECT_EQ(context.Read(4), Bytes{0x7F}); // SDA reads low: the EEPROM acknowledges
    ftdi_usb_close(context.ftdi);
    EXPECT_EQ(Report()["contention"], 1);
}

TEST(FtdiEmu, TimePassesForClocksAndRoundTripsOnly) {
    struct Case {
        const char *commands;
        bool read;
        int latencyMs;
        uint64_t elapsedNs, roundTrips;
    };
    const Case cases[] = {
        {"8a 86 1d 00 8e 07", false, 16, 8000, 0},       // 8 periods of 1 us
        {"8a 86 1d 00 8f 01 00", false, 16, 16000, 0},   // 16 periods
        {"8b 86 00 00 8e 00", false, 16, 166, 0},        // one period of 6 MHz
        {"80 00 40 80 00 00 82 00 01", false, 16, 0, 0}, // setting pins takes no documented time
        {"81 87", true, 16, 250000, 1},                  // Send Immediate: one round trip
        {"81", true, 16, 16250000, 1},                   // the latency timer runs out first
        {"81", true, 2, 2250000, 1},
    };
    for (size_t run = 0; run < std::size(cases); ++run) {
        const Case &c = cases[run];
        SCOPED_TRACE(c.commands);
        World("device=FT232H:H1", run);
        Context context;
        ASSERT_EQ(context.Open("H1"), 0);
        context.Mpsse();
        ASSERT_EQ(ftdi_set_latency_timer(context.ftdi, static_cast<unsigned char>(c.latencyMs)), 0);
        ASSERT_EQ(context.Write(Hex(c.commands)), static_cast<int>(Hex(c.commands).size()));
        if (c.read) {
            EXPECT_EQ(context.Read(1).size(), 1u);
        }
        ftdi_usb_close(context.ftdi);
        const nlohmann::json report = Report(run);
        EXPECT_EQ(report["elapsed_ns"], c.elapsedNs);
        EXPECT_EQ(report["round_trips"], c.roundTrips);
    }
}

TEST(FtdiEmu, OpeningFailsAsLibftdiDoes) {
    struct Case {
        const char *world;
        const char *open; // ftdi_usb_open_string
        ftdi_interface interface;
        int result;
        const char *error;
    };
    const Case cases[] = {
        {"", "s:0x0403:0x6014:H1", INTERFACE_A, -3, "device not found"},
        {kTwoChips, "s:0x0403:0x6014:H2", INTERFACE_A, -3, "device not found"},
        {kTwoChips, "s:0x0403:0x6014:H1", INTERFACE_A, 0, ""},
        {kTwoChips, "d:1/2", INTERFACE_B, 0, ""},
        {kTwoChips, "i:0x0403:0x6011", INTERFACE_C, 0, ""},
        {kTwoChips, "s:0x0403:0x6014:H1", INTERFACE_B, -5,
         "unable to claim usb device. Make sure the default FTDI driver is not in use"},
        {"device=FT232H:H1;denied=H1", "s:0x0403:0x6014:H1", INTERFACE_A, -8,
         "inappropriate permissions on device!"},
        {kTwoChips, "x:1", INTERFACE_A, -11, "illegal description format"},
    };
    for (size_t run = 0; run < std::size(cases); ++run) {
        const Case &c = cases[run];
        SCOPED_TRACE(std::string(c.world) + " " + c.open);
        World(c.world, run);
        Context context;
        ASSERT_EQ(ftdi_set_interface(context.ftdi, c.interface), 0);
        EXPECT_EQ(ftdi_usb_open_string(context.ftdi, c.open), c.result);
        EXPECT_STREQ(ftdi_get_error_string(context.ftdi), c.error);
    }
}

TEST(FtdiEmu, DevicesAreListedWithTheirSerialsUnlessDenied) {
    World("device=FT232H:H1;device=FT4232H:Q1;denied=Q1");
    Context context;
    ftdi_device_list *list = nullptr;
    ASSERT_EQ(ftdi_usb_find_all(context.ftdi, &list, 0, 0), 2);
    char serial[16] = "", product[32] = "";
    EXPECT_EQ(ftdi_usb_get_strings(context.ftdi, list->dev, nullptr, 0, product, 32, serial, 16), 0);
    EXPECT_STREQ(serial, "H1");
    EXPECT_STREQ(product, "Single RS232-HS");
    EXPECT_EQ(ftdi_usb_get_strings(context.ftdi, list->next->dev, nullptr, 0, product, 32, serial, 16), -4);
    ftdi_list_free(&list);
    EXPECT_EQ(ftdi_usb_find_all(context.ftdi, &list, 0x0403, 0x6011), 1);
    ftdi_list_free(&list);
}

TEST(FtdiEmu, AnUnpluggedDeviceFailsEveryLaterCall) {
    const char *worlds[] = {"device=FT232H:H1;unplug_bytes=8", "device=FT232H:H1;unplug_us=100"};
    for (size_t run = 0; run < std::size(worlds); ++run) {
        SCOPED_TRACE(worlds[run]);
        World(worlds[run], run);
        Context context;
        ASSERT_EQ(context.Open("H1"), 0);
        context.Mpsse();
        ASSERT_EQ(context.Write(Hex("8a 86 1d 00")), 4);     // clock of 1 us
        EXPECT_EQ(context.Write(Hex("8f 0f 00 81 87")), -1); // 128 us, or past the 8th byte
        unsigned char byte = 0;
        EXPECT_EQ(ftdi_read_data(context.ftdi, &byte, 1), -4);
        EXPECT_EQ(ftdi_set_bitmode(context.ftdi, 0, BITMODE_RESET), -1);
        EXPECT_EQ(context.Write({0x81}), -1);
        EXPECT_EQ(ftdi_usb_close(context.ftdi), -1);
        ftdi_device_list *list = nullptr;
        EXPECT_EQ(ftdi_usb_find_all(context.ftdi, &list, 0, 0), 0);
        ftdi_list_free(&list);
        EXPECT_EQ(context.Open("H1"), -3);
    }
}

} // namespace
