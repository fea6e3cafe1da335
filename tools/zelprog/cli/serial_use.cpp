// The serial command, and the serial number of a program command.
#include "cli/commands.h"

#include "cli/device_command.h"
#include "cli/reporter.h"
#include "cli/serial_use.h"
#include "cli/text.h"
#include "core/memory_jobs.h"
#include "core/os.h"
#include "zelparts/part_table.h"
#include "formats/line_reader.h"

#include <cstdio>

namespace zelprog {

std::string SiteName(const LinkOptions &link) {
    if (!link.link.empty())
        return link.link;
    if (!link.transport.empty())
        return link.transport + (link.port >= 0 ? " " + std::to_string(link.port) : "");
    return "virtual";
}

namespace {

// The part's first factory-programmed ID (EUI-48, EUI-64 or serial number
// in the array), read after the unit's write: hex digits, or "" when the
// part has none or it could not be read; the unit's outcome never depends on it.
std::string FactoryId(const Command &c, const JobControl &control) {
    const zelparts::PartRow *row = c.link.part.empty() ? nullptr : zelparts::Find(c.link.part);
    if (row == nullptr || row->ids.empty())
        return "";
    const zelparts::IdField &id = row->ids.front();
    const uint32_t length = id.kind == "eui64" ? 8 : id.kind == "eui48" ? 6 : 4;
    Bytes bytes;
    if (!ReadRange(id.address, length, bytes, control).Ok())
        return "";
    std::string hex;
    for (uint8_t b : bytes)
        hex += HexByte(b).substr(2);
    return hex;
}

} // namespace

Status UseSerial(const Command &c, const Session &session, Reporter &reporter, const UnitImage &image,
                 const std::function<Status(const Bytes &, const JobControl &)> &write, SerialUse &use) {
    const SerialOptions &serial = c.serial;
    const LedgerOptions options = serial.Ledger();
    Status status = CheckLedgerOptions(options);
    if (status.Ok() && serial.list.empty())
        status = CheckRange(session, *serial.at, static_cast<uint64_t>(serial.format.width));
    if (!status.Ok())
        return status;
    const std::unique_ptr<Ledger> ledger = MakeLedger(options, reporter.Control());
    status = ledger->Open();
    if (!status.Ok())
        return status;
    UnitRecord record{.station = serial.station.empty() ? os::HostName() : serial.station,
                      .site = SiteName(c.link),
                      .image = image.name,
                      .imageSha256 = image.sha256};
    const auto where = [&](const SerialValue &value) {
        const std::string form =
            serial.list.empty() ? std::string(SerialEncodingName(serial.format.encoding)) : std::string("list");
        return "at 0x" + ToHex(*serial.at) + " (" + form + ", " + std::to_string(value.bytes.size()) +
               " bytes: " + BytesText(value.bytes) + ")";
    };
    SerialValue value;
    status = WriteSerial(
        *ledger, record.site, where, reporter.Control(),
        [&](const Bytes &bytes, const JobControl &control) {
            use.bytes = bytes;
            record.ranges = image.ranges(bytes);
            Status written = CheckRange(session, *serial.at, bytes.size());
            if (written.Ok())
                written = write(bytes, control);
            if (written.Ok())
                record.factoryId = FactoryId(c, control);
            return written;
        },
        value, &record);
    use.number = value.number;
    use.text = value.text;
    return status;
}

void PrintSerialResult(const Command &c, const char *command, const SerialUse &use, const std::string &text) {
    if (c.output.json) {
        Event result = ResultEvent(command);
        if (c.serial.list.empty())
            result["serial"] = use.number;
        else
            result["serial"] = use.text;
        result["address"] = "0x" + ToHex(*c.serial.at);
        result["bytes"] = BytesText(use.bytes);
        PrintEvent(result);
        return;
    }
    std::printf("serial %s at 0x%s: %s\n", use.text.c_str(), ToHex(*c.serial.at).c_str(),
                BytesText(use.bytes).c_str());
    PrintNote(c.output, text);
}

Status RunSerial(const Command &c) {
    const auto at = static_cast<uint32_t>(*c.serial.at);
    SerialUse use;
    return RunOnDevice(c, {.run =
                               [&](DeviceContext &d) {
                                   return UseSerial(
                                       c, d.session, d.reporter,
                                       UnitImage{.ranges =
                                                     [&](const Bytes &bytes) {
                                                         return RangesText({{at, bytes}});
                                                     }},
                                       [&](const Bytes &serial, const JobControl &control) {
                                           return WriteRange(at, serial, true, control);
                                       },
                                       use);
                               },
                           .report =
                               [&](DeviceContext &) {
                                   PrintSerialResult(c, "serial", use, "wrote serial " + use.text + ", verified");
                               }});
}

} // namespace zelprog
