// zelprog: program, verify, dump, clear and size-check a serial EEPROM
// through the zelapi library.
#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/gang.h"
#include "core/os.h"
#include "core/parts.h"
#include "formats/line_reader.h"

#include "gui/gui.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace zelprog {
namespace {

constexpr const char *kUsage =
    "usage: zelprog [OPTIONS] COMMAND [ARGS] (zelprog --help lists them; zelprog COMMAND --help)";

constexpr const char *kFooter = R"(
Without --link or --transport, zelprog uses the virtual target with a
per-user backing file (--part chooses the part, default 24c256), so one
command after another sees the same EEPROM.

Exit codes:
  0    success
  1    the job failed (verify mismatch, write failure, failed check)
  2    usage error (also: no size known, pass --part)
  3    the link could not be opened or no EEPROM answered
  4    a file could not be read, parsed or written
  130  interrupted by Ctrl-C (the job was stopped))";

using Runner = Status (*)(const Command &);

struct Parsed {
    Command command;
    std::string format;
    std::string fill;
    std::string offset, length;
    std::string patchAddress;
    std::vector<std::string> patchBytes;
    std::string patchString;
    std::string serialAt, counter, step, first, encoding = "le", serialList;
    bool noVerify = false;
    bool dumpVerify = false;
    bool handedSerials = false; // a gang's worker: the supervisor hands it each serial number
};

bool ParseFill(const std::string &text, int &fill) {
    if (text.empty())
        return true;
    const std::optional<uint64_t> value = ParseNumber(text, 0xFF);
    if (value)
        fill = static_cast<int>(*value);
    return value.has_value();
}

// --offset, --length and the patch's address and bytes; false with the usage
// error in `what`.
bool ParseRangeAndPatch(Parsed &p, std::string &what) {
    const std::pair<const std::string *, std::optional<uint64_t> *> numbers[] = {
        {&p.offset, &p.command.range.offset}, {&p.length, &p.command.range.length}};
    for (const auto &[text, value] : numbers) {
        if (text->empty())
            continue;
        *value = ParseNumber(*text, UINT32_MAX);
        if (!*value) {
            what = "--offset and --length take a number, decimal or 0x-hex (e.g. 0x100), not '" + *text + "'";
            return false;
        }
    }
    if (p.patchAddress.empty())
        return true;
    const std::optional<uint64_t> address = ParseNumber(p.patchAddress, UINT32_MAX);
    if (!address) {
        what = "patch takes an address, decimal or 0x-hex (e.g. 0x20), not '" + p.patchAddress + "'";
        return false;
    }
    p.command.patch.address = *address;
    if (!p.patchString.empty()) {
        if (!p.patchBytes.empty()) {
            what = "patch writes either BYTES or --string, not both";
            return false;
        }
        p.command.patch.bytes.assign(p.patchString.begin(), p.patchString.end());
        return true;
    }
    const std::optional<Bytes> bytes = ParseHexBytes(p.patchBytes);
    if (!bytes || bytes->empty()) {
        what =
            "patch takes the bytes to write in hexadecimal (e.g. 'patch 0x20 de ad be ef'), or --string \"text\"";
        return false;
    }
    p.command.patch.bytes = *bytes;
    return true;
}

void AddRangeOptions(CLI::App &sub, Parsed &p) {
    sub.add_option("--offset", p.offset,
                   "First EEPROM address of the range (decimal or 0x-hex); a binary image is "
                   "placed there")
        ->type_name("ADDR");
    sub.add_option("--length", p.length,
                   "Bytes in the range (default: to the end of the EEPROM, or the file's size)")
        ->type_name("N");
}

// The counter and the form of the number; `at` names the option of its address.
void AddSerialOptions(CLI::App &sub, Parsed &p, const char *at, bool required) {
    SerialOptions &serial = p.command.serial;
    auto *address = sub.add_option(at, p.serialAt, "EEPROM address of the serial number (decimal or 0x-hex)")
                        ->type_name("ADDR");
    auto *counter =
        sub.add_option("--counter", p.counter,
                       "Counter file (holds the next number; FILE.log records every number's fate, FILE.records "
                       "each unit), or a postgresql:// database that several stations share")
            ->type_name("FILE|URI");
    auto *list = sub.add_option("--serial-list", p.serialList,
                                "Take the values from this file in order, one a line: 0x and hex digits, or "
                                "\"text\" (progress in FILE.used unless --counter names a database)")
                     ->type_name("FILE");
    sub.add_option("--station", serial.station, "This station's name in the records (default: the host name)")
        ->type_name("NAME");
    if (required) {
        address->required();
    } else {
        counter->needs(address);
        list->needs(address);
    }
    sub.add_option("--width", serial.format.width, "Bytes of the number in the EEPROM, 1..8 (default 4)")
        ->type_name("N")
        ->check(CLI::Range(1, kMaxSerialWidth))
        ->needs(address);
    sub.add_option("--encoding", p.encoding,
                   "le or be (binary), ascii (zero-padded decimal digits) or bcd (default le)")
        ->type_name("ENC")
        ->check(CLI::IsMember({"le", "be", "ascii", "bcd"}))
        ->needs(address);
    sub.add_option("--step", p.step, "Advance the counter by N after each unit (default 1)")
        ->type_name("N")
        ->needs(address);
    sub.add_option("--first", p.first, "Start a new counter file at N")->type_name("N")->needs(address);
}

// The serial options' numbers; false with the usage error in `what`.
bool ParseSerial(Parsed &p, std::string &what) {
    SerialOptions &serial = p.command.serial;
    if (p.serialAt.empty())
        return true;
    serial.at = ParseNumber(p.serialAt, UINT32_MAX);
    const std::optional<uint64_t> step = p.step.empty() ? std::optional<uint64_t>(1) : ParseNumber(p.step);
    if (!p.first.empty())
        serial.counter.first = ParseNumber(p.first);
    if (!serial.at)
        what =
            "the serial number's address takes a number, decimal or 0x-hex (e.g. 0x20), not '" + p.serialAt + "'";
    else if (!step || *step == 0)
        what = "--step takes a number of at least 1, decimal or 0x-hex, not '" + p.step + "'";
    else if (!p.first.empty() && !serial.counter.first)
        what = "--first takes a number, decimal or 0x-hex, not '" + p.first + "'";
    if (!what.empty())
        return false;
    if (p.counter.empty() && p.serialList.empty() && !p.handedSerials)
        what = "a serial number comes from --counter FILE (or a postgresql:// database) or --serial-list FILE";
    if (!what.empty())
        return false;
    serial.counter.step = *step;
    serial.counter.file = p.counter;
    serial.list = p.serialList;
    serial.format.encoding = *ParseSerialEncoding(p.encoding);
    return true;
}

void AddLinkOptions(CLI::App &app, LinkOptions &link) {
    auto *transport = app.add_option("--transport", link.transport, "Open the SPI link of this kind (lpt or usb)")
                          ->check(CLI::IsMember({"lpt", "usb"}, CLI::ignore_case));
    auto *port = app.add_option("--port", link.port, "Port number of the link (with --transport)")
                     ->check(CLI::NonNegativeNumber);
    app.add_option("--link", link.link,
                   "Transport configuration string, passed unchanged (e.g. \"SPITRANS=USB SPIPORT=0\")")
        ->excludes(transport)
        ->excludes(port);
    app.add_option("--pio", link.pio,
                   "PIO lines of the bus: CLOCK,DATA,WP, each 0..15; 0 keeps that line's default (default 6,7,8)");
    auto *part =
        app.add_option("--part", link.part,
                       "EEPROM part, e.g. 24c256 (one of " + KnownPartNames() + "; zelprog parts lists them)");
    app.add_option("--size-bits", link.sizeBits, "The EEPROM holds 2^N bytes (7..18)")->excludes(part);
    app.add_option("--block-bits", link.blockBits, "Device-address bits for the top address bits (0..7)")
        ->excludes(part);
    auto *page = app.add_option("--page-size", link.pageSize,
                                "Write in pages of N bytes (a power of two, 2..256; default: the part's page)")
                     ->type_name("N");
    app.add_flag("--byte-writes", link.byteWrites, "Write byte by byte, one write cycle each (slow, for any part)")
        ->excludes(page);
}

void AddOutputOptions(CLI::App &app, Output &output) {
    app.add_flag("-q,--quiet", output.quiet, "No progress and no notes");
    app.add_flag("--json", output.json,
                 "One JSON object per line on standard output (progress, state, message, result)");
    app.add_flag("--all", output.all, "Print every mismatch, not only the first 20");
}

void AddFormatOptions(CLI::App &sub, Parsed &p, bool pad) {
    sub.add_option("--format", p.format, "Image format: text, bin, ihex or srec (default: from the file name)")
        ->check(CLI::IsMember({"text", "bin", "ihex", "srec"}, CLI::ignore_case));
    if (pad)
        sub.add_flag("--pad", p.command.image.pad, "Fill a short binary image up to the device size with 0xff");
}

CLI::App *AddFileCommand(CLI::App &app, const char *name, const char *description, Parsed &p) {
    auto *sub = app.add_subcommand(name, description);
    sub->add_option("FILE", p.command.image.file,
                    "Image file (.bin binary, .hex/.ihex Intel HEX, .srec/.s19/.s28/.s37 S-record, else text; - "
                    "for standard input/output)")
        ->required();
    return sub;
}

void PrintUsageError(const std::string &what, bool json) {
    Output output;
    output.json = json;
    PrintError(output, Status::Fail(kExitUsage, what));
    std::fprintf(stderr, "%s\n", kUsage);
}

int Main(int argc, char **argv) {
    CLI::App app{"zelprog: program, verify, dump and clear a serial EEPROM (24Cxx) through zelapi"};
    app.footer(kFooter);
    app.fallthrough();
    app.require_subcommand(1);
    Parsed p;
    Command &c = p.command;
    AddLinkOptions(app, p.command.link);
    AddOutputOptions(app, p.command.output);

    std::map<CLI::App *, Runner> runners;
    runners[app.add_subcommand("ports", "List the SPI ports that the transport offers")] = RunPorts;
    runners[app.add_subcommand(
        "parts", "List the parts of the table of parts (size, page, roll-over, write cycle)")] = RunParts;
    runners[app.add_subcommand(
        "info", "Show the device address and the geometry (from the header if there is one)")] = RunInfo;
    runners[app.add_subcommand(
        "detect", "Find out from bus reads alone which device addresses answer, the "
                  "address bytes, the size and the parts that read like it (writes nothing)")] = RunDetect;
    auto *program = AddFileCommand(app, "program", "Write an image into the EEPROM, then verify it", p);
    AddFormatOptions(*program, p, true);
    AddRangeOptions(*program, p);
    program->add_flag("--no-verify", p.noVerify, "Do not read back and compare");
    AddSerialOptions(*program, p, "--serial-at", false);
    runners[program] = RunProgram;
    auto *verify = AddFileCommand(app, "verify", "Compare the EEPROM with an image", p);
    AddFormatOptions(*verify, p, true);
    AddRangeOptions(*verify, p);
    runners[verify] = RunVerify;
    auto *dump = AddFileCommand(app, "dump", "Read the EEPROM into an image file", p);
    AddFormatOptions(*dump, p, false);
    AddRangeOptions(*dump, p);
    dump->add_flag("--verify", p.dumpVerify, "Read twice and compare");
    runners[dump] = RunDump;
    auto *clear = app.add_subcommand("clear", "Fill the EEPROM with one byte value, then verify it");
    clear->add_option("--fill", p.fill, "Byte value to fill with, 0..255 or 0x00..0xff (default 0xff)");
    clear->add_flag("--no-verify", p.noVerify, "Do not read back and compare");
    runners[clear] = RunClear;
    auto *patch =
        app.add_subcommand("patch", "Write a few bytes at an address, verified; show them before and after");
    patch->add_option("ADDR", p.patchAddress, "EEPROM address of the first byte (decimal or 0x-hex)")->required();
    patch->add_option("BYTES", p.patchBytes, "The bytes in hexadecimal, e.g. de ad be ef");
    patch->add_option("--string", p.patchString, "Write the characters of this text (ASCII) instead");
    runners[patch] = RunPatch;
    auto *serial =
        app.add_subcommand("serial", "Write the counter's next serial number, verified, and advance the counter");
    AddSerialOptions(*serial, p, "--at", true);
    runners[serial] = RunSerial;
    auto *records =
        app.add_subcommand("records", "List the unit records of a counter, a serial list or a database");
    records->add_option("--counter", p.counter, "The counter file, or a postgresql:// database")
        ->type_name("FILE|URI");
    records->add_option("--serial-list", p.serialList, "The serial list (its records are beside it)")
        ->type_name("FILE");
    records->add_option("--serial", c.records.serial, "Only the units of this serial number or value")
        ->type_name("VALUE");
    records->add_option("--result", c.records.result, "Only the units with this result")
        ->check(CLI::IsMember({"written", "given back", "lost", "failed", "reserved", "sending"}));
    records->add_option("--since", c.records.since, "Only units from this UTC time on (e.g. 2026-12-08T07:00)")
        ->type_name("TIME");
    records->add_option("--until", c.records.until, "Only units up to this UTC time (e.g. 2026-12-08)")
        ->type_name("TIME");
    runners[records] = RunRecords;
    runners[app.add_subcommand("check-size", "Check that the last byte of the size can be changed and put back")] =
        RunCheckSize;
    runners[app.add_subcommand("read-header", "Read the geometry header stored in the EEPROM")] = RunReadHeader;
    runners[app.add_subcommand("write-header", "Store the given geometry (--part or --size-bits) in the EEPROM")] =
        RunWriteHeader;
    runners[app.add_subcommand("version", "Show the versions of the tool and the library")] = RunVersion;
    GangOptions gang;
    auto *gangCommand = AddFileCommand(
        app, "gang", "Program the image into the EEPROMs of several adapters at once, one process a site", p);
    AddFormatOptions(*gangCommand, p, true);
    AddRangeOptions(*gangCommand, p);
    gangCommand->add_flag("--no-verify", p.noVerify, "Do not read back and compare");
    AddSerialOptions(*gangCommand, p, "--serial-at", false);
    gangCommand
        ->add_option("--site", gang.sites,
                     "A site's transport configuration (as --link takes it); once for each adapter")
        ->type_name("LINK")
        ->required();
    gangCommand->add_option("--units", gang.units, "Units each site programs, one after another (default 1)")
        ->type_name("N")
        ->check(CLI::Range(1, 1000000));
    auto *worker = AddFileCommand(app, "gang-worker", "", p); // one site of a gang; not for users
    worker->group("");
    AddFormatOptions(*worker, p, true);
    AddRangeOptions(*worker, p);
    worker->add_flag("--no-verify", p.noVerify, "");
    worker->add_option("--serial-at", p.serialAt, "");
    runners[worker] = RunGangWorker;
    gui::GuiOptions guiOptions;
    bool noBrowser = false;
    auto *guiCommand = app.add_subcommand("gui", "Serve the GUI (hex editor, jobs, log) to a browser on this "
                                                 "machine; with --link, the page may open that link");
    guiCommand->add_option("--port", guiOptions.port, "Port on 127.0.0.1 (default 0: a free one)")
        ->check(CLI::Range(0, 65535));
    guiCommand->add_flag("--no-browser", noBrowser, "Print the address only; do not open a browser");
    std::vector<std::string> guiSites;
    guiCommand
        ->add_option("--site", guiSites, "A site of the production view (as gang takes it); once for each adapter")
        ->type_name("LINK");
    guiCommand
        ->add_option("--image", guiOptions.production.imageFile,
                     "The production view's image file (default: the page's buffer)")
        ->type_name("FILE");
    AddSerialOptions(*guiCommand, p, "--serial-at", false);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);
        const std::vector<std::string> extra = app.remaining();
        PrintUsageError(app.get_subcommands().empty() && !extra.empty() ? "unknown command '" + extra.front() + "'"
                                                                        : std::string(e.what()),
                        p.command.output.json);
        return kExitUsage;
    }
    if (!ParseFill(p.fill, c.fill)) {
        PrintUsageError("--fill takes a byte value, 0..255 or 0x00..0xff", c.output.json);
        return kExitUsage;
    }
    std::string what;
    if (records->parsed()) {
        c.serial.counter.file = p.counter;
        c.serial.list = p.serialList;
        if (p.counter.empty() == p.serialList.empty())
            what =
                "records lists the records of --counter FILE (or a postgresql:// database) or --serial-list FILE";
    }
    p.handedSerials = worker->parsed();
    if (!what.empty() || !ParseRangeAndPatch(p, what) || !ParseSerial(p, what)) {
        PrintUsageError(what, c.output.json);
        return kExitUsage;
    }
    if (!p.format.empty())
        c.image.format = ParseFormatName(p.format);
    c.verify = dump->parsed() ? p.dumpVerify : !p.noVerify;
    c.output.terminal = os::StderrIsTerminal();
    os::UseBinaryStdio();
    os::InstallInterruptHandler();
    os::IgnoreFileSizeSignal();

    guiOptions.openBrowser = !noBrowser;
    guiOptions.link = c.link.link; // the page may open it as it stands, files and traces included
    guiOptions.production.sites = guiSites;
    if (c.serial.at) {
        guiOptions.production.serial =
            "at 0x" + ToHex(*c.serial.at) + ", " +
            (c.serial.list.empty() ? std::string(SerialEncodingName(c.serial.format.encoding)) + " " +
                                         std::to_string(c.serial.format.width) + " bytes, " +
                                         (IsDatabaseUri(c.serial.counter.file.string())
                                              ? std::string("a PostgreSQL database")
                                              : "counter " + c.serial.counter.file.string())
                                   : "list " + c.serial.list.string());
        guiOptions.production.ledger = c.serial.Ledger();
    }
    guiOptions.production.command = [&c, guiSites](const std::string &image, bool binary) {
        return GangCommandLine(c, guiSites, image, binary);
    };
    Status status;
    if (guiCommand->parsed())
        status = gui::RunGui(guiOptions);
    else if (gangCommand->parsed())
        status = RunGang(c, gang);
    else
        status = runners.at(app.get_subcommands().front())(c);
    if (!status.Ok())
        PrintError(c.output, status);
    return status.code;
}

} // namespace
} // namespace zelprog

int main(int argc, char **argv) { return zelprog::Main(argc, argv); }
