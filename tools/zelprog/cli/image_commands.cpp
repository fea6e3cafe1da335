// program, verify and dump: images, whole or in ranges.
#include "cli/commands.h"

#include "cli/plan.h"
#include "cli/reporter.h"
#include "cli/serial_use.h"
#include "cli/text.h"
#include "core/file_io.h"
#include "core/image_jobs.h"
#include "core/memory_jobs.h"

namespace zelprog {
namespace {

// Reads --offset/--length, twice with --verify.
Status DumpRange(const Command &c, const Session &session, uint32_t &offset, Bytes &bytes, const JobControl &control)
{
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

Status RunProgram(const Command &c)
{
    if (c.serial.at && !c.verify)
        return Status::Fail(kExitUsage, "a serial number is always verified: leave out --no-verify");
    Reporter reporter(c.output);
    Session session(c.link, reporter.Control());
    ImagePlan plan;
    Status status = OpenWithImage(c, session, plan);
    reporter.Finish();
    if (!status.Ok())
        return status;
    SerialUse use;
    if (c.serial.at)
        status = UseSerial(c, session, reporter,
                           [&](const Bytes &serial, const JobControl &control) {
                               return WritePlan(session, WithSerialBytes(plan, static_cast<uint32_t>(*c.serial.at), serial),
                                                true, control);
                           },
                           use);
    else
        status = WritePlan(session, plan, c.verify, reporter.Control());
    reporter.Finish();
    if (!status.Ok())
        return status;
    const std::string text = "programmed " + std::to_string(plan.Count()) + " bytes" +
                             (plan.whole ? "" : RunsText(plan.runs)) + (c.verify ? ", verified" : " (not verified)");
    if (c.serial.at)
        PrintSerialResult(c, "program", use, text + ", with serial " + std::to_string(use.number));
    else
        PrintResult(c.output, "program", text);
    return status;
}

Status RunVerify(const Command &c)
{
    Reporter reporter(c.output);
    Session session(c.link, reporter.Control());
    ImagePlan plan;
    Status status = OpenWithImage(c, session, plan);
    reporter.Finish();
    if (!status.Ok())
        return status;
    if (plan.whole)
        status = VerifyImage(session, plan.image, reporter.Control());
    for (std::size_t i = 0; i < plan.runs.size() && status.Ok(); ++i)
        status = VerifyRange(plan.runs[i].address, plan.runs[i].bytes, reporter.Control());
    reporter.Finish();
    if (status.Ok())
        PrintResult(c.output, "verify", "the EEPROM matches " + FileName(c.image.file) +
                                            (plan.whole ? "" : RunsText(plan.runs)));
    return status;
}

Status RunDump(const Command &c)
{
    if (c.output.json && c.image.file == "-")
        return Status::Fail(kExitUsage, "--json and a dump to standard output both use standard output: name a file");
    std::string error;
    if (!CanWriteFile(c.image.file, error))   // before a read that may take minutes
        return Status::Fail(kExitFile, error);
    Reporter reporter(c.output);
    Session session(c.link, reporter.Control());
    Status status = session.Open(SizeNeed::Required);
    reporter.Finish();
    if (!status.Ok())
        return status;
    Bytes bytes;
    uint32_t offset = 0;
    status = c.range.Given() ? DumpRange(c, session, offset, bytes, reporter.Control())
                             : DumpImage(session, c.verify, bytes, reporter.Control());
    reporter.Finish();
    if (!status.Ok())
        return status;
    std::string file;
    if (!EncodeRange(FormatOf(c.image), offset, bytes, file))
        return Status::Fail(kExitUsage, "a text image holds whole words: give an even --offset and --length, or "
                                        "dump as bin or ihex");
    if (!WriteWholeFile(c.image.file, file, error))
        return Status::Fail(kExitFile, error);
    if (c.image.file != "-")
        PrintResult(c.output, "dump", "dumped " + std::to_string(bytes.size()) + " bytes" +
                                          (c.range.Given() ? RunsText({Run{offset, bytes}}) : std::string()) +
                                          " to '" + c.image.file + "'");
    return {};
}

} // namespace zelprog
