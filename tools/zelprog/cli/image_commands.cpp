// program, verify and dump: images, whole or in ranges.
#include "cli/commands.h"

#include "cli/device_command.h"
#include "cli/plan.h"
#include "cli/reporter.h"
#include "cli/serial_use.h"
#include "cli/text.h"
#include "core/file_io.h"
#include "core/image_jobs.h"
#include "core/memory_jobs.h"
#include "core/sha256.h"

namespace zelprog {
namespace {

// Reads --offset/--length, twice with --verify.
Status DumpRange(const Command &c, const Session &session, uint32_t &offset, Bytes &bytes,
                 const JobControl &control) {
    const uint64_t size = session.GetGeometry()->Bytes();
    const uint64_t from = c.range.offset.value_or(0);
    const uint64_t length = c.range.length.value_or(from < size ? size - from : 1);
    Status status = CheckRange(session, from, length);
    if (!status.Ok())
        return status;
    offset = static_cast<uint32_t>(from);
    Bytes first;
    status = ReadRange(offset, static_cast<uint32_t>(length), first, control);
    if (status.Ok() && c.verify)
        status = VerifyRange(offset, first, control);
    if (!status.Ok())
        return status.code == kExitJobFailed ? Status::Fail(kExitJobFailed, status.message + "; nothing written")
                                             : status;
    bytes = std::move(first);
    return {};
}

} // namespace

Status RunProgram(const Command &c) {
    if (c.serial.at && !c.verify)
        return Status::Fail(kExitUsage, "a serial number is always verified: leave out --no-verify");
    std::string raw;
    ImagePlan plan;
    SerialUse use;
    return RunOnDevice(
        c, {.before = [&] { return ReadImageFile(c, raw); },
            .run =
                [&](DeviceContext &d) {
                    Status status = PlanImage(c, d.session, raw, plan);
                    if (!status.Ok() || !c.serial.at)
                        return status.Ok() ? WritePlan(d.session, plan, c.verify, d.Control()) : status;
                    const auto at = static_cast<uint32_t>(*c.serial.at);
                    const UnitImage image{.name = ImageName(c.image.file),
                                          .sha256 = Sha256Hex(raw),
                                          .ranges = [&](const Bytes &serial) {
                                              return PlanRanges(WithSerialBytes(plan, at, serial));
                                          }};
                    return UseSerial(
                        c, d.session, d.reporter, image,
                        [&](const Bytes &serial, const JobControl &control) {
                            return WritePlan(d.session, WithSerialBytes(plan, at, serial), true, control);
                        },
                        use);
                },
            .report =
                [&](DeviceContext &) {
                    const std::string text = "programmed " + std::to_string(plan.Count()) + " bytes" +
                                             (plan.whole ? "" : RunsText(plan.runs)) +
                                             (c.verify ? ", verified" : " (not verified)");
                    if (c.serial.at)
                        PrintSerialResult(c, "program", use, text + ", with serial " + use.text);
                    else
                        PrintResult(c.output, "program", text);
                }});
}

Status RunVerify(const Command &c) {
    std::string raw;
    ImagePlan plan;
    return RunOnDevice(c, {.before = [&] { return ReadImageFile(c, raw); },
                           .run =
                               [&](DeviceContext &d) {
                                   Status status = PlanImage(c, d.session, raw, plan);
                                   if (status.Ok() && plan.whole)
                                       status = VerifyImage(d.session, plan.image, d.Control());
                                   for (std::size_t i = 0; i < plan.runs.size() && status.Ok(); ++i)
                                       status = VerifyRange(plan.runs[i].address, plan.runs[i].bytes, d.Control());
                                   return status;
                               },
                           .report =
                               [&](DeviceContext &) {
                                   PrintResult(c.output, "verify",
                                               "the EEPROM matches " + FileName(c.image.file) +
                                                   (plan.whole ? "" : RunsText(plan.runs)));
                               }});
}

Status RunDump(const Command &c) {
    if (c.output.json && c.image.file == "-")
        return Status::Fail(kExitUsage,
                            "--json and a dump to standard output both use standard output: name a file");
    Bytes bytes;
    uint32_t offset = 0;
    return RunOnDevice(
        c, {.before =
                [&] {
                    std::string error; // known before a read that may take minutes
                    return CanWriteFile(c.image.file, error) ? Status{} : Status::Fail(kExitFile, error);
                },
            .run =
                [&](DeviceContext &d) {
                    Status status = c.range.Given() ? DumpRange(c, d.session, offset, bytes, d.Control())
                                                    : DumpImage(d.session, c.verify, bytes, d.Control());
                    if (!status.Ok())
                        return status;
                    std::string file, error;
                    if (!EncodeRange(FormatOf(c.image), offset, bytes, file))
                        return Status::Fail(kExitUsage,
                                            "a text image holds whole words: give an even --offset and "
                                            "--length, or dump as bin or ihex");
                    if (!WriteWholeFile(c.image.file, file, error))
                        return Status::Fail(kExitFile, error);
                    return Status{};
                },
            .report =
                [&](DeviceContext &) {
                    if (c.image.file != "-")
                        PrintResult(c.output, "dump",
                                    "dumped " + std::to_string(bytes.size()) + " bytes" +
                                        (c.range.Given() ? RunsText({Run{offset, bytes}}) : std::string()) +
                                        " to '" + c.image.file + "'");
                }});
}

} // namespace zelprog
