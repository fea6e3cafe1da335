// The serial command, and the serial number of a program command.
#include "cli/commands.h"

#include "cli/device_command.h"
#include "cli/reporter.h"
#include "cli/serial_use.h"
#include "cli/text.h"
#include "core/memory_jobs.h"
#include "formats/line_reader.h"

#include <cstdio>

namespace zelprog {

Status UseSerial(const Command &c, const Session &session, Reporter &reporter,
                 const std::function<Status(const Bytes &, const JobControl &)> &write, SerialUse &use) {
    const SerialOptions &serial = c.serial;
    Status status = CheckRange(session, *serial.at, static_cast<uint64_t>(serial.format.width));
    if (status.Ok())
        status = CheckSerialArguments(serial.counter, serial.format);
    if (!status.Ok())
        return status;
    SerialCounter counter(serial.counter, reporter.Control());
    status = counter.Open();
    if (!status.Ok())
        return status;
    Bytes bytes;
    EncodeSerial(counter.Next(), serial.format, bytes);
    const std::string where = "at 0x" + ToHex(*serial.at) + " (" + SerialEncodingName(serial.format.encoding) +
                              ", " + std::to_string(serial.format.width) + " bytes: " + BytesText(bytes) + ")";
    return WriteSerial(
        counter, serial.format, where, reporter.Control(),
        [&](const Bytes &encoded, const JobControl &control) {
            use.bytes = encoded;
            return write(encoded, control);
        },
        use.number);
}

void PrintSerialResult(const Command &c, const char *command, const SerialUse &use, const std::string &text) {
    if (c.output.json) {
        Event result = ResultEvent(command);
        result["serial"] = use.number;
        result["address"] = "0x" + ToHex(*c.serial.at);
        result["bytes"] = BytesText(use.bytes);
        PrintEvent(result);
        return;
    }
    std::printf("serial %llu at 0x%s: %s\n", static_cast<unsigned long long>(use.number),
                ToHex(*c.serial.at).c_str(), BytesText(use.bytes).c_str());
    PrintNote(c.output, text);
}

Status RunSerial(const Command &c) {
    const auto at = static_cast<uint32_t>(*c.serial.at);
    SerialUse use;
    return RunOnDevice(c, {.run =
                               [&](DeviceContext &d) {
                                   return UseSerial(
                                       c, d.session, d.reporter,
                                       [&](const Bytes &serial, const JobControl &control) {
                                           return WriteRange(at, serial, true, control);
                                       },
                                       use);
                               },
                           .report =
                               [&](DeviceContext &) {
                                   PrintSerialResult(c, "serial", use,
                                                     "wrote serial " + std::to_string(use.number) + ", verified");
                               }});
}

} // namespace zelprog
