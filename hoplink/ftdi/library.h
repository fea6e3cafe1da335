// libftdi1, loaded when a link or the port list first needs it, so that the
// virtual target's users do not depend on it.
#pragma once

#include <libftdi1/ftdi.h>

#include <string>

namespace hoplink::ftdi {

struct Library {
    decltype(&ftdi_new) newContext;
    decltype(&ftdi_free) freeContext;
    decltype(&ftdi_set_interface) setInterface;
    decltype(&ftdi_usb_find_all) findAll;
    decltype(&ftdi_list_free) listFree;
    decltype(&ftdi_usb_get_strings) getStrings;
    decltype(&ftdi_usb_open_dev) openDevice;
    decltype(&ftdi_usb_open_string) openString;
    decltype(&ftdi_usb_reset) reset;
    decltype(&ftdi_tcioflush) flush;
    decltype(&ftdi_set_latency_timer) setLatency;
    decltype(&ftdi_set_bitmode) setBitmode;
    decltype(&ftdi_write_data_set_chunksize) setWriteChunk;
    decltype(&ftdi_write_data) write;
    decltype(&ftdi_read_data) read;
    decltype(&ftdi_get_error_string) errorString;
    decltype(&ftdi_usb_close) close;
};

// The process-wide library; null with one line in `error` when libftdi1.so.2
// cannot be loaded or lacks a function.
const Library *LoadLibrary(std::string &error);

} // namespace hoplink::ftdi
