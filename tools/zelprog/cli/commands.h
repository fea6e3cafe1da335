// The subcommands. Each returns its outcome; main prints the error line.
// Those that reach the EEPROM are steps of RunOnDevice (device_command.h).
#pragma once

#include "cli/output.h"
#include "core/ledger.h"
#include "core/session.h"
#include "formats/image_format.h"

#include <optional>
#include <string>

namespace zelprog {

struct ImageOptions {
    std::string file;
    std::optional<ImageFormat> format; // from --format; else from the file name
    bool pad = false;
};

// --offset and --length as given (decimal or 0x-hex).
struct RangeOptions {
    std::optional<uint64_t> offset;
    std::optional<uint64_t> length;
    bool Given() const { return offset || length; }
};

struct PatchOptions {
    uint64_t address = 0;
    Bytes bytes; // the bytes to write, from hexadecimal words or --string
};

struct SerialOptions {
    std::optional<uint64_t> at; // the address; nothing: no serial number
    CounterOptions counter;     // counter.file: a file or a postgresql:// URI
    SerialFormat format;
    std::filesystem::path list; // --serial-list; empty: the counter's numbers
    std::string station;        // --station; empty: the host name

    LedgerOptions Ledger() const { return {counter, list, format, station}; }
};

struct Command {
    LinkOptions link;
    Output output;
    ImageOptions image;
    RangeOptions range;
    PatchOptions patch;
    SerialOptions serial;
    RecordFilter records; // the records command
    bool verify = true;   // program and clear: read back and compare; dump: read twice
    int fill = 0xFF;
};

Status RunPorts(const Command &command);
Status RunParts(const Command &command);
Status RunInfo(const Command &command);
Status RunDetect(const Command &command);
Status RunProgram(const Command &command);
Status RunVerify(const Command &command);
Status RunDump(const Command &command);
Status RunClear(const Command &command);
Status RunPatch(const Command &command);
Status RunSerial(const Command &command);
Status RunCheckSize(const Command &command);
Status RunReadHeader(const Command &command);
Status RunWriteHeader(const Command &command);
Status RunRecords(const Command &command);
Status RunVersion(const Command &command);

} // namespace zelprog
