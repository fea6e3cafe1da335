#include "device.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "sim/numbers.h"

namespace hoplink::ftdi {
namespace {

constexpr int kVendorId = 0x0403;
constexpr int kLatencyMs = 16; // the chip's default; every read ends with Send Immediate anyway
constexpr auto kReplyTimeout = std::chrono::milliseconds(500);
constexpr int kSerialBytes = 128;
// libftdi's answers (libftdi1 ftdi.c): the device could not be opened for
// lack of permission.
constexpr int kNoPermission = -8;

const char *const kUdevAdvice =
    "install the udev rule of the README (/etc/udev/rules.d/11-ftdi.rules, group plugdev) and plug the adapter in "
    "again";

// The lists of ftdi_usb_find_all, alive while their devices are opened.
class Scan {
public:
    Scan(const Library &library, ftdi_context *context) : library_(library), context_(context) {}
    ~Scan() {
        for (ftdi_device_list *&list : lists_)
            library_.listFree(&list);
    }
    Scan(const Scan &) = delete;
    Scan &operator=(const Scan &) = delete;

    struct Entry {
        Found found;
        libusb_device *device;
    };
    // False with `error` when libftdi cannot list devices.
    bool Run(const Chip *only, std::string &error) {
        int count = 0;
        const Chip *chips = Chips(count);
        for (int i = 0; i < count; ++i) {
            if (only && only != &chips[i])
                continue;
            ftdi_device_list *list = nullptr;
            const int found = library_.findAll(context_, &list, kVendorId, chips[i].productId);
            if (found < 0) {
                error = std::string("cannot list the USB devices: ") + library_.errorString(context_);
                return false;
            }
            lists_.push_back(list);
            for (ftdi_device_list *node = list; node; node = node->next)
                entries.push_back({Read(chips[i], node->dev), node->dev});
        }
        return true;
    }
    std::vector<Entry> entries;

private:
    Found Read(const Chip &chip, libusb_device *device) {
        char serial[kSerialBytes] = {};
        const int result = library_.getStrings(context_, device, nullptr, 0, nullptr, 0, serial, sizeof serial);
        return {&chip, result < 0 ? std::string() : std::string(serial), result < 0 ? result : 0};
    }
    const Library &library_;
    ftdi_context *context_;
    std::vector<ftdi_device_list *> lists_;
};

std::string Names(const std::vector<Scan::Entry> &entries) {
    std::string names;
    for (const Scan::Entry &entry : entries)
        if (!entry.found.serial.empty())
            names += (names.empty() ? "" : ", ") + entry.found.serial;
    return names;
}

int Unreadable(const std::vector<Scan::Entry> &entries) {
    int count = 0;
    for (const Scan::Entry &entry : entries)
        count += entry.found.readError != 0 ? 1 : 0;
    return count;
}

// The one device the configuration names; null with `error` when none or
// several match.
const Scan::Entry *Choose(const std::vector<Scan::Entry> &entries, const Config &config, std::string &error) {
    std::vector<const Scan::Entry *> matches;
    for (const Scan::Entry &entry : entries)
        if (config.serial.empty() || entry.found.serial == config.serial)
            matches.push_back(&entry);
    if (matches.size() == 1)
        return matches.front();
    const int unreadable = Unreadable(entries);
    const std::string hidden = unreadable == 0 ? std::string()
                                               : "; " + std::to_string(unreadable) +
                                                     " could not be asked for their serial number (permission "
                                                     "denied?): " +
                                                     kUdevAdvice;
    if (entries.empty())
        error = std::string("no FTDI ") + (config.chip ? config.chip->name : "FT232H, FT2232H or FT4232H") +
                " found: is the adapter plugged in? (zelprog ports lists the devices)";
    else if (matches.empty())
        error = "no FTDI device has the serial number " + sim::Quoted(config.serial) +
                " (present: " + (Names(entries).empty() ? "none with a readable serial number" : Names(entries)) +
                ")" + hidden;
    else
        error = "several FTDI devices are present (" + Names(entries) +
                "): choose one with FTDISERIAL= (zelprog ports lists them)";
    return nullptr;
}

const Chip *ChipOfType(int type) {
    if (type == TYPE_232H)
        return FindChip("FT232H");
    if (type == TYPE_2232H)
        return FindChip("FT2232H");
    if (type == TYPE_4232H)
        return FindChip("FT4232H");
    return nullptr;
}

} // namespace

std::vector<Found> ListDevices(std::string &error) {
    const Library *library = LoadLibrary(error);
    if (!library)
        return {};
    ftdi_context *context = library->newContext();
    if (!context) {
        error = "libftdi1 could not make a context";
        return {};
    }
    std::vector<Found> devices;
    {
        Scan scan(*library, context);
        if (scan.Run(nullptr, error))
            for (const Scan::Entry &entry : scan.entries)
                devices.push_back(entry.found);
    }
    library->freeContext(context);
    return devices;
}

std::unique_ptr<Device> Device::Open(const Config &config, std::string &error) {
    const Library *library = LoadLibrary(error);
    if (!library)
        return nullptr;
    ftdi_context *context = library->newContext();
    if (!context) {
        error = "libftdi1 could not make a context";
        return nullptr;
    }
    std::unique_ptr<Device> device(new Device(*library, context));
    if (library->setInterface(context, config.channel == 0 ? INTERFACE_A : INTERFACE_B) < 0) {
        error = std::string("cannot choose the MPSSE channel: ") + library->errorString(context);
        return nullptr;
    }
    int opened = 0;
    if (!config.busPosition.empty()) {
        const std::string position = "d:" + config.busPosition;
        opened = library->openString(context, position.c_str());
        device->chip_ = opened < 0 ? nullptr : ChipOfType(context->type);
        if (opened < 0 && opened != kNoPermission) {
            error = "no FTDI device at bus position " + config.busPosition + " (" + library->errorString(context) +
                    "): lsusb shows bus and device numbers";
            return nullptr;
        }
    } else {
        Scan scan(*library, context);
        if (!scan.Run(config.chip, error))
            return nullptr;
        const Scan::Entry *entry = Choose(scan.entries, config, error);
        if (!entry)
            return nullptr;
        device->chip_ = entry->found.chip;
        opened = library->openDevice(context, entry->device);
    }
    if (opened == kNoPermission) {
        error = std::string("permission denied on the FTDI device (libftdi: ") + library->errorString(context) +
                "): " + kUdevAdvice;
        return nullptr;
    }
    if (opened < 0) {
        error = std::string("cannot open the FTDI device: ") + library->errorString(context);
        return nullptr;
    }
    device->open_ = true;
    if (!device->chip_ || (config.chip && device->chip_ != config.chip)) {
        error = std::string("the device is not ") +
                (config.chip ? std::string("an ") + config.chip->name : "an FT232H, FT2232H or FT4232H");
        return nullptr;
    }
    if (config.channel >= device->chip_->channels) {
        error = std::string("the ") + device->chip_->name + " has one MPSSE channel: FTDIIFACE=A";
        return nullptr;
    }
    if (!device->SetUp(PacingFor(config.speed), error))
        return nullptr;
    return device;
}

// The open sequence of FTDI AN_135: reset, MPSSE mode, then a bad command
// whose echo shows that the answers are in step with the commands.
bool Device::SetUp(const Pacing &pacing, std::string &error) {
    const Library &l = library_;
    if (l.reset(context_) < 0 || l.setLatency(context_, kLatencyMs) < 0 ||
        l.setBitmode(context_, 0, BITMODE_RESET) < 0 || l.flush(context_) < 0 ||
        l.setBitmode(context_, 0, BITMODE_MPSSE) < 0 || l.setWriteChunk(context_, chip_->fifoBytes) < 0) {
        error = std::string("cannot put the FTDI device into MPSSE mode: ") + l.errorString(context_);
        return false;
    }
    if (!Synchronise(0xAA)) {
        error = "the FTDI device does not answer as an MPSSE engine does (no echo of a bad command)";
        return false;
    }
    std::vector<uint8_t> setup;
    AppendSetup(setup, chip_->wide, pacing);
    setup.push_back(0xAB); // its echo comes back only after every setup command was taken
    uint8_t answer[2] = {};
    if (!Send(setup) || !Receive(answer, sizeof answer) || answer[0] != kBadCommandEcho || answer[1] != 0xAB) {
        char detail[64];
        std::snprintf(detail, sizeof detail, " (it answered %02X %02X)", answer[0], answer[1]);
        error = std::string("the ") + chip_->name + " refused the MPSSE setup" + detail;
        return false;
    }
    return true;
}

// Reads until the echo of `probe` comes: whatever the chip held before goes.
bool Device::Synchronise(uint8_t probe) {
    if (!Send({probe}))
        return false;
    uint8_t previous = 0, byte = 0;
    const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const int got = library_.read(context_, &byte, 1);
        if (got < 0)
            return Fail("read");
        if (got == 1 && previous == kBadCommandEcho && byte == probe)
            return true;
        if (got == 1)
            previous = byte;
    }
    return false;
}

Device::~Device() {
    if (open_ && !broken_) {
        std::vector<uint8_t> release{kSetLow, 0, 0};
        if (chip_ && chip_->wide)
            release.insert(release.end(), {kSetHigh, 0, 0});
        if (Send(release))
            library_.setBitmode(context_, 0, BITMODE_RESET);
    }
    if (open_)
        library_.close(context_);
    library_.freeContext(context_);
}

bool Device::Fail(const char *what) {
    if (!broken_)
        std::fprintf(stderr,
                     "hoplink: the FTDI device failed a %s (%s): was it unplugged? Every access fails until the "
                     "link is opened again\n",
                     what, library_.errorString(context_));
    broken_ = true;
    return false;
}

bool Device::Send(const std::vector<uint8_t> &bytes) {
    if (broken_)
        return false;
    size_t sent = 0;
    while (sent < bytes.size()) {
        const size_t piece = std::min(bytes.size() - sent, static_cast<size_t>(chip_ ? chip_->fifoBytes : 64));
        const int wrote = library_.write(context_, bytes.data() + sent, static_cast<int>(piece));
        if (wrote <= 0)
            return Fail("write");
        sent += static_cast<size_t>(wrote);
    }
    return true;
}

bool Device::Receive(uint8_t *bytes, size_t count) {
    if (broken_)
        return false;
    size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + kReplyTimeout;
    while (got < count) {
        const int read = library_.read(context_, bytes + got, static_cast<int>(count - got));
        if (read < 0)
            return Fail("read");
        got += static_cast<size_t>(read);
        if (read == 0 && std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "hoplink: the FTDI device did not answer within %lld ms\n",
                         static_cast<long long>(kReplyTimeout.count()));
            broken_ = true; // its answers may still come: they would be out of step
            return false;
        }
    }
    return true;
}

} // namespace hoplink::ftdi
