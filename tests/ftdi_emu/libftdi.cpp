// The stand-in libftdi1: the calls of libftdi1's ftdi.h, with its error
// numbers and texts, over the emulated world. One lock serialises every
// call: contexts of several threads share the world.
#include "emulator.h"

#include <libftdi1/ftdi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

using ftdi_emu::Channel;
using ftdi_emu::Device;
using ftdi_emu::World;

constexpr int kVendor = 0x0403;
constexpr int kNoDevice = -4;      // LIBUSB_ERROR_NO_DEVICE
constexpr int kUnavailable = -666; // libftdi: the context holds no open device
constexpr unsigned kPacket = 512;  // high-speed bulk packet, 2 of its bytes are modem status

// One open device channel; the context's usb_dev points here.
struct Session {
    Device *device;
    int interface;
    std::deque<uint8_t> host; // bytes received that the caller has not read yet
    Channel &channel() { return *device->channels[static_cast<size_t>(interface)]; }
};

std::mutex lock; // guards everything below and the world
std::unique_ptr<World> world;
std::string loadedText;

// The world of ZEL_FTDI_EMU; built again when it or ZEL_FTDI_EMU_REPORT
// changed while nothing of the old one is in use.
World &TheWorld() {
    const char *text = std::getenv("ZEL_FTDI_EMU");
    const char *report = std::getenv("ZEL_FTDI_EMU_REPORT");
    const std::string wanted = std::string(text ? text : "") + '\n' + (report ? report : "");
    if (world && (wanted == loadedText || world->openSessions != 0 || world->openLists != 0))
        return *world;
    world.reset();
    world = std::make_unique<World>();
    std::string error;
    if (!world->Load(text ? text : "", error)) {
        std::fprintf(stderr, "ftdi_emu: %s\n", error.c_str());
        world = std::make_unique<World>();
        world->Load("", error);
    }
    world->reportPath = report ? report : "";
    loadedText = wanted;
    return *world;
}

int Fail(ftdi_context *ftdi, int code, const char *text) {
    if (ftdi)
        ftdi->error_str = text;
    return code;
}

Session *SessionOf(ftdi_context *ftdi) { return ftdi ? reinterpret_cast<Session *>(ftdi->usb_dev) : nullptr; }

bool Present(const Device *device) { return device && !device->unplugged; }

bool Matches(const Device &device, int vendor, int product) {
    return (vendor == 0 && product == 0) || (vendor == kVendor && product == device.chip->productId);
}

int OpenDevice(ftdi_context *ftdi, Device *device) {
    if (!ftdi)
        return -8;
    if (!Present(device))
        return Fail(ftdi, -4, "libusb_open() failed");
    if (device->denied)
        return Fail(ftdi, -8, "inappropriate permissions on device!");
    const int interface = ftdi->interface;
    std::string error;
    Channel *channel =
        interface < device->chip->interfaces ? device->channels[static_cast<size_t>(interface)].get() : nullptr;
    if (!channel || device->claimed[static_cast<size_t>(interface)] || SessionOf(ftdi))
        return Fail(ftdi, -5, "unable to claim usb device. Make sure the default FTDI driver is not in use");
    World &w = TheWorld();
    if (!w.OpenEeprom(*channel, error)) {
        std::fprintf(stderr, "ftdi_emu: %s\n", error.c_str());
        return Fail(ftdi, -5, "unable to claim usb device. Make sure the default FTDI driver is not in use");
    }
    device->claimed[static_cast<size_t>(interface)] = true;
    ++w.openSessions;
    ftdi->usb_dev = reinterpret_cast<libusb_device_handle *>(new Session{device, interface, {}});
    ftdi->type = static_cast<ftdi_chip_type>(device->chip->chipType);
    ftdi->max_packet_size = kPacket;
    channel->FlushOut(); // the open resets the chip's FIFOs
    channel->FlushIn();
    return 0;
}

int CloseSession(ftdi_context *ftdi) {
    Session *session = SessionOf(ftdi);
    if (!session)
        return 0;
    World &w = TheWorld();
    const bool gone = session->device->unplugged;
    session->device->claimed[static_cast<size_t>(session->interface)] = false;
    if (w.EepromOn(session->channel()))
        w.CloseEeprom();
    --w.openSessions;
    delete session;
    ftdi->usb_dev = nullptr;
    return gone ? Fail(ftdi, -1, "usb_release failed") : 0;
}

int OpenMatching(ftdi_context *ftdi, int vendor, int product, const char *description, const char *serial,
                 unsigned index) {
    if (!ftdi)
        return -11;
    for (auto &device : TheWorld().devices) {
        if (!Present(device.get()) || !Matches(*device, vendor, product))
            continue;
        if (description && std::strcmp(description, device->chip->product) != 0)
            continue;
        if (serial && device->serial != serial)
            continue;
        if (index-- == 0)
            return OpenDevice(ftdi, device.get());
    }
    return Fail(ftdi, -3, "device not found");
}

// 0 with `session` set when the context holds a device that is still there;
// else the error: `unavailable` without a device, `failed` once it is gone.
int Usable(ftdi_context *ftdi, Session *&session, int unavailable, int failed, const char *failedText) {
    session = SessionOf(ftdi);
    if (!session)
        return Fail(ftdi, unavailable, "USB device unavailable");
    if (session->device->unplugged)
        return Fail(ftdi, failed, failedText);
    return 0;
}

void CopyText(char *out, int size, const std::string &text) {
    if (out && size > 0)
        std::snprintf(out, static_cast<size_t>(size), "%s", text.c_str());
}

} // namespace

extern "C" {

int ftdi_init(struct ftdi_context *ftdi) {
    if (!ftdi)
        return -1;
    std::memset(ftdi, 0, sizeof(*ftdi));
    ftdi->usb_read_timeout = 5000;
    ftdi->usb_write_timeout = 5000;
    ftdi->type = TYPE_BM;
    ftdi->baudrate = -1;
    ftdi->bitbang_mode = 1;
    ftdi->readbuffer_chunksize = 4096;
    ftdi->writebuffer_chunksize = 4096;
    ftdi->module_detach_mode = AUTO_DETACH_SIO_MODULE;
    ftdi->interface = 0;
    ftdi->index = INTERFACE_A;
    ftdi->in_ep = 0x02;
    ftdi->out_ep = 0x81;
    return 0;
}

struct ftdi_context *ftdi_new(void) {
    auto *ftdi = static_cast<ftdi_context *>(std::calloc(1, sizeof(ftdi_context)));
    if (ftdi)
        ftdi_init(ftdi);
    return ftdi;
}

int ftdi_set_interface(struct ftdi_context *ftdi, enum ftdi_interface interface) {
    std::lock_guard<std::mutex> hold(lock);
    if (!ftdi)
        return -2;
    if (SessionOf(ftdi))
        return Fail(ftdi, -3, "Interface can not be changed on an already open device");
    const int number = interface == INTERFACE_ANY ? 0 : static_cast<int>(interface) - 1;
    if (number < 0 || number > 3)
        return Fail(ftdi, -1, "Unknown interface");
    ftdi->interface = number;
    ftdi->index = number + 1;
    ftdi->in_ep = 0x02 + 2 * number;
    ftdi->out_ep = 0x81 + 2 * number;
    return 0;
}

void ftdi_deinit(struct ftdi_context *ftdi) {
    std::lock_guard<std::mutex> hold(lock);
    if (ftdi)
        CloseSession(ftdi);
}

void ftdi_free(struct ftdi_context *ftdi) {
    ftdi_deinit(ftdi);
    std::lock_guard<std::mutex> hold(lock);
    TheWorld().WriteReport();
    std::free(ftdi);
}

struct ftdi_version_info ftdi_get_library_version(void) {
    return {1, 5, 0, "1.5", "ftdi_emu"};
}

int ftdi_usb_find_all(struct ftdi_context *ftdi, struct ftdi_device_list **devlist, int vendor, int product) {
    std::lock_guard<std::mutex> hold(lock);
    if (!devlist)
        return Fail(ftdi, -5, "libusb_get_device_list() failed");
    World &w = TheWorld();
    *devlist = nullptr;
    ftdi_device_list **tail = devlist;
    int count = 0;
    for (auto &device : w.devices) {
        if (!Present(device.get()) || !Matches(*device, vendor, product))
            continue;
        auto *node = static_cast<ftdi_device_list *>(std::calloc(1, sizeof(ftdi_device_list)));
        if (!node)
            return Fail(ftdi, -3, "out of memory");
        node->dev = reinterpret_cast<libusb_device *>(device.get());
        *tail = node;
        tail = &node->next;
        ++count;
    }
    if (*devlist)
        ++w.openLists;
    return count;
}

void ftdi_list_free(struct ftdi_device_list **devlist) {
    if (!devlist || !*devlist)
        return;
    std::lock_guard<std::mutex> hold(lock);
    for (ftdi_device_list *node = *devlist; node;) {
        ftdi_device_list *next = node->next;
        std::free(node);
        node = next;
    }
    *devlist = nullptr;
    if (world && world->openLists > 0)
        --world->openLists;
}

void ftdi_list_free2(struct ftdi_device_list *devlist) { ftdi_list_free(&devlist); }

int ftdi_usb_get_strings(struct ftdi_context *ftdi, struct libusb_device *dev, char *manufacturer, int mnf_len,
                         char *description, int desc_len, char *serial, int serial_len) {
    std::lock_guard<std::mutex> hold(lock);
    if (!ftdi || !dev)
        return -1;
    const Device *device = TheWorld().Find(dev);
    if (!Present(device) || device->denied) // listing opens the device for its strings
        return Fail(ftdi, -4, "libusb_open() failed");
    CopyText(manufacturer, mnf_len, "FTDI");
    CopyText(description, desc_len, device->chip->product);
    CopyText(serial, serial_len, device->serial);
    return 0;
}

int ftdi_usb_get_strings2(struct ftdi_context *ftdi, struct libusb_device *dev, char *manufacturer, int mnf_len,
                          char *description, int desc_len, char *serial, int serial_len) {
    return ftdi_usb_get_strings(ftdi, dev, manufacturer, mnf_len, description, desc_len, serial, serial_len);
}

int ftdi_usb_open_dev(struct ftdi_context *ftdi, struct libusb_device *dev) {
    std::lock_guard<std::mutex> hold(lock);
    return OpenDevice(ftdi, TheWorld().Find(dev));
}

int ftdi_usb_open_desc_index(struct ftdi_context *ftdi, int vendor, int product, const char *description,
                             const char *serial, unsigned int index) {
    std::lock_guard<std::mutex> hold(lock);
    return OpenMatching(ftdi, vendor, product, description, serial, index);
}

int ftdi_usb_open_desc(struct ftdi_context *ftdi, int vendor, int product, const char *description,
                       const char *serial) {
    return ftdi_usb_open_desc_index(ftdi, vendor, product, description, serial, 0);
}

int ftdi_usb_open(struct ftdi_context *ftdi, int vendor, int product) {
    return ftdi_usb_open_desc_index(ftdi, vendor, product, nullptr, nullptr, 0);
}

int ftdi_usb_open_bus_addr(struct ftdi_context *ftdi, uint8_t bus, uint8_t addr) {
    std::lock_guard<std::mutex> hold(lock);
    if (!ftdi)
        return -11;
    for (auto &device : TheWorld().devices)
        if (Present(device.get()) && device->bus == bus && device->address == addr)
            return OpenDevice(ftdi, device.get());
    return Fail(ftdi, -3, "device not found");
}

// "d:<bus>/<address>", "i:<vendor>:<product>[:<index>]", "s:<vendor>:<product>:<serial>"
int ftdi_usb_open_string(struct ftdi_context *ftdi, const char *description) {
    if (!ftdi)
        return -12;
    if (!description || std::strlen(description) < 2 || description[1] != ':')
        return Fail(ftdi, -11, "illegal description format");
    const char kind = description[0];
    char *end = nullptr;
    if (kind == 'd') {
        const long bus = std::strtol(description + 2, &end, 10);
        if (*end != '/')
            return Fail(ftdi, -11, "illegal description format");
        const long address = std::strtol(end + 1, &end, 10);
        if (*end != '\0' || bus < 0 || bus > 255 || address < 0 || address > 255)
            return Fail(ftdi, -11, "illegal description format");
        return ftdi_usb_open_bus_addr(ftdi, static_cast<uint8_t>(bus), static_cast<uint8_t>(address));
    }
    if (kind != 'i' && kind != 's')
        return Fail(ftdi, -11, "illegal description format");
    const long vendor = std::strtol(description + 2, &end, 0);
    if (*end != ':')
        return Fail(ftdi, -11, "illegal description format");
    const long product = std::strtol(end + 1, &end, 0);
    if (kind == 's') {
        if (*end != ':')
            return Fail(ftdi, -11, "illegal description format");
        return ftdi_usb_open_desc_index(ftdi, static_cast<int>(vendor), static_cast<int>(product), nullptr,
                                        end + 1, 0);
    }
    unsigned long index = 0;
    if (*end == ':')
        index = std::strtoul(end + 1, &end, 0);
    if (*end != '\0')
        return Fail(ftdi, -11, "illegal description format");
    return ftdi_usb_open_desc_index(ftdi, static_cast<int>(vendor), static_cast<int>(product), nullptr, nullptr,
                                    static_cast<unsigned>(index));
}

int ftdi_usb_close(struct ftdi_context *ftdi) {
    std::lock_guard<std::mutex> hold(lock);
    if (!ftdi)
        return -3;
    const int result = CloseSession(ftdi);
    TheWorld().WriteReport();
    return result;
}

int ftdi_usb_reset(struct ftdi_context *ftdi) {
    std::lock_guard<std::mutex> hold(lock);
    Session *session = nullptr;
    if (const int error = Usable(ftdi, session, -2, -1, "FTDI reset failed"))
        return error;
    session->channel().FlushOut();
    session->channel().FlushIn();
    session->host.clear();
    return 0;
}

namespace {

// Flushes the chip's FIFOs: `toHost` the one it sends from, `fromHost` the
// one it takes commands from.
int Flush(ftdi_context *ftdi, bool toHost, bool fromHost) {
    std::lock_guard<std::mutex> hold(lock);
    Session *session = nullptr;
    if (const int error = Usable(ftdi, session, -2, -1, "FTDI purge of RX buffer failed"))
        return error;
    if (fromHost)
        session->channel().FlushOut();
    if (toHost) {
        session->channel().FlushIn();
        session->host.clear();
    }
    return 0;
}

} // namespace

int ftdi_tciflush(struct ftdi_context *ftdi) { return Flush(ftdi, true, false); }
int ftdi_tcoflush(struct ftdi_context *ftdi) { return Flush(ftdi, false, true); }
int ftdi_tcioflush(struct ftdi_context *ftdi) { return Flush(ftdi, true, true); }
// The old names did the opposite of what they say (see ftdi.h).
int ftdi_usb_purge_rx_buffer(struct ftdi_context *ftdi) { return Flush(ftdi, false, true); }
int ftdi_usb_purge_tx_buffer(struct ftdi_context *ftdi) { return Flush(ftdi, true, false); }
int ftdi_usb_purge_buffers(struct ftdi_context *ftdi) { return Flush(ftdi, true, true); }

int ftdi_set_baudrate(struct ftdi_context *ftdi, int baudrate) {
    std::lock_guard<std::mutex> hold(lock);
    if (baudrate <= 0)
        return Fail(ftdi, -1, "Silly baudrate <= 0.");
    Session *session = nullptr;
    if (const int error = Usable(ftdi, session, -3, -2, "Setting new baudrate failed"))
        return error;
    ftdi->baudrate = baudrate;
    return 0;
}

int ftdi_set_latency_timer(struct ftdi_context *ftdi, unsigned char latency) {
    std::lock_guard<std::mutex> hold(lock);
    if (latency < 1)
        return Fail(ftdi, -1, "latency out of range. Only valid for 1-255");
    Session *session = nullptr;
    if (const int error = Usable(ftdi, session, -3, -2, "unable to set latency timer"))
        return error;
    session->channel().SetLatency(latency);
    return 0;
}

int ftdi_get_latency_timer(struct ftdi_context *ftdi, unsigned char *latency) {
    std::lock_guard<std::mutex> hold(lock);
    Session *session = nullptr;
    if (const int error = Usable(ftdi, session, -2, -1, "reading latency timer failed"))
        return error;
    if (!latency)
        return -1;
    *latency = session->channel().Latency();
    return 0;
}

int ftdi_set_bitmode(struct ftdi_context *ftdi, unsigned char bitmask, unsigned char mode) {
    std::lock_guard<std::mutex> hold(lock);
    const char *refused = "unable to configure bitbang mode. Perhaps not a BM type chip?";
    Session *session = nullptr;
    if (const int error = Usable(ftdi, session, -2, -1, refused))
        return error;
    if (!session->channel().SetMode(bitmask, mode))
        return Fail(ftdi, -1, refused);
    ftdi->bitbang_mode = mode;
    ftdi->bitbang_enabled = mode != BITMODE_RESET;
    return 0;
}

int ftdi_disable_bitbang(struct ftdi_context *ftdi) { return ftdi_set_bitmode(ftdi, 0, BITMODE_RESET); }

int ftdi_read_pins(struct ftdi_context *ftdi, unsigned char *pins) {
    std::lock_guard<std::mutex> hold(lock);
    Session *session = nullptr;
    if (const int error = Usable(ftdi, session, -2, -1, "read pins failed"))
        return error;
    if (!pins)
        return -1;
    *pins = session->channel().ReadLowPins();
    return 0;
}

namespace {

// A control request that changes nothing an MPSSE channel does: it succeeds
// on a device that is there.
int Control(ftdi_context *ftdi, const char *failedText) {
    std::lock_guard<std::mutex> hold(lock);
    Session *session = nullptr;
    return Usable(ftdi, session, -2, -1, failedText);
}

} // namespace

int ftdi_set_event_char(struct ftdi_context *ftdi, unsigned char, unsigned char) {
    return Control(ftdi, "setting event character failed");
}

int ftdi_set_error_char(struct ftdi_context *ftdi, unsigned char, unsigned char) {
    return Control(ftdi, "setting error character failed");
}

int ftdi_setflowctrl(struct ftdi_context *ftdi, int) { return Control(ftdi, "set flow control failed"); }

int ftdi_setflowctrl_xonxoff(struct ftdi_context *ftdi, unsigned char, unsigned char) {
    return Control(ftdi, "set flow control failed");
}

int ftdi_setdtr_rts(struct ftdi_context *ftdi, int, int) { return Control(ftdi, "set of rts/dtr failed"); }
int ftdi_setdtr(struct ftdi_context *ftdi, int) { return Control(ftdi, "set dtr failed"); }
int ftdi_setrts(struct ftdi_context *ftdi, int) { return Control(ftdi, "set of rts failed"); }

int ftdi_set_line_property2(struct ftdi_context *ftdi, enum ftdi_bits_type, enum ftdi_stopbits_type,
                            enum ftdi_parity_type, enum ftdi_break_type) {
    return Control(ftdi, "Setting new line property failed");
}

int ftdi_set_line_property(struct ftdi_context *ftdi, enum ftdi_bits_type bits, enum ftdi_stopbits_type sbit,
                           enum ftdi_parity_type parity) {
    return ftdi_set_line_property2(ftdi, bits, sbit, parity, BREAK_OFF);
}

// Modem and line status as an idle MPSSE channel sends them in every packet:
// CTS, DSR and the transmitter empty bits (an emulator's choice).
int ftdi_poll_modem_status(struct ftdi_context *ftdi, unsigned short *status) {
    const int error = Control(ftdi, "getting modem status failed");
    if (error == 0 && status)
        *status = 0x6032;
    return status ? error : -1;
}

int ftdi_read_data_set_chunksize(struct ftdi_context *ftdi, unsigned int chunksize) {
    if (!ftdi)
        return -1;
    ftdi->readbuffer_chunksize = chunksize;
    return 0;
}

int ftdi_read_data_get_chunksize(struct ftdi_context *ftdi, unsigned int *chunksize) {
    if (!ftdi || !chunksize)
        return -1;
    *chunksize = ftdi->readbuffer_chunksize;
    return 0;
}

int ftdi_write_data_set_chunksize(struct ftdi_context *ftdi, unsigned int chunksize) {
    if (!ftdi)
        return -1;
    ftdi->writebuffer_chunksize = chunksize;
    return 0;
}

int ftdi_write_data_get_chunksize(struct ftdi_context *ftdi, unsigned int *chunksize) {
    if (!ftdi || !chunksize)
        return -1;
    *chunksize = ftdi->writebuffer_chunksize;
    return 0;
}

// The chip takes bytes as its processor makes room; a write it cannot take
// whole fails once the write timeout has run out.
int ftdi_write_data(struct ftdi_context *ftdi, const unsigned char *buf, int size) {
    std::lock_guard<std::mutex> hold(lock);
    Session *session = nullptr;
    if (const int error = Usable(ftdi, session, kUnavailable, -1, "usb bulk write failed"))
        return error;
    if (size <= 0 || !buf)
        return 0;
    World &w = TheWorld();
    const size_t room =
        static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size), w.WritableBytes(*session->device)));
    const size_t taken = session->channel().Write({buf, room});
    w.NoteWritten(*session->device, taken);
    if (taken == static_cast<size_t>(size))
        return size;
    if (!session->device->unplugged) {
        ++w.stats.writeStalls;
        w.Advance(static_cast<uint64_t>(ftdi->usb_write_timeout) * 1000000000);
    }
    return Fail(ftdi, -1, "usb bulk write failed");
}

// As libftdi: bytes left from an earlier transfer first, then transfers
// until `size` bytes are there or one brings nothing.
int ftdi_read_data(struct ftdi_context *ftdi, unsigned char *buf, int size) {
    std::lock_guard<std::mutex> hold(lock);
    Session *session = nullptr;
    if (const int error = Usable(ftdi, session, kUnavailable, kNoDevice, "usb bulk read failed"))
        return error;
    if (size <= 0 || !buf)
        return 0;
    const unsigned chunk = std::max(ftdi->readbuffer_chunksize, kPacket);
    const size_t payload = chunk - 2 * ((chunk + kPacket - 1) / kPacket);
    size_t got = 0;
    for (;;) {
        while (got < static_cast<size_t>(size) && !session->host.empty()) {
            buf[got++] = session->host.front();
            session->host.pop_front();
        }
        if (got == static_cast<size_t>(size))
            break;
        if (session->device->unplugged)
            return Fail(ftdi, kNoDevice, "usb bulk read failed");
        if (session->channel().Transfer(session->host, payload) == 0)
            break;
    }
    return static_cast<int>(got);
}

const char *ftdi_get_error_string(struct ftdi_context *ftdi) {
    if (!ftdi || !ftdi->error_str)
        return "";
    return ftdi->error_str;
}

} // extern "C"
