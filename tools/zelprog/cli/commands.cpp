#include "cli/commands.h"

#include "cli/reporter.h"
#include "core/file_io.h"
#include "core/image_jobs.h"
#include "core/memory_jobs.h"
#include "core/parts.h"
#include "formats/line_reader.h"

#include <zelapi.h>

#include <cstdio>

#ifndef ZELPROG_VERSION
#error "ZELPROG_VERSION names the tool's version"
#endif

namespace zelprog {
namespace {

constexpr std::size_t kPortListBytes = 4096;

ImageFormat FormatOf(const ImageOptions &image)
{
    return image.format ? *image.format : FormatFromPath(image.file);
}

std::string FileName(const std::string &file) { return file == "-" ? "standard input" : "'" + file + "'"; }

std::string WritesText(const Session &session)
{
    const int page = session.PageBytes();
    return (page > 0 ? "pages of " + std::to_string(page) + " bytes" : std::string("byte by byte")) + " (" +
           session.PageSource() + ")";
}

void PrintResult(const Output &output, const char *command, const std::string &text)
{
    if (output.json)
        PrintEvent(ResultEvent(command));
    else
        PrintNote(output, text);
}

// What a program or verify command moves: the whole EEPROM through the
// original image jobs, or runs of cells through the memory jobs.
struct ImagePlan {
    bool whole = false;
    Bytes image; // whole: device-sized
    Runs runs;   // else
    std::size_t Count() const;
};

std::size_t ImagePlan::Count() const
{
    if (whole)
        return image.size();
    std::size_t n = 0;
    for (const Run &run : runs)
        n += run.bytes.size();
    return n;
}

Status FileError(const Command &c, const std::string &error)
{
    return Status::Fail(kExitFile, FileName(c.image.file) + " (" + FormatName(FormatOf(c.image)) + "): " + error);
}

// A binary image at --offset: the file's bytes, or its first --length.
Status PlanBinaryRange(const Command &c, const Session &session, const std::string &raw, ImagePlan &plan)
{
    if (c.image.pad)
        return Status::Fail(kExitUsage, "--pad fills a whole-EEPROM image; with --offset or --length only the file's "
                                        "bytes are written");
    const uint64_t offset = c.range.offset.value_or(0);
    const uint64_t length = c.range.length.value_or(raw.size());
    if (length > raw.size())
        return FileError(c, "holds " + std::to_string(raw.size()) + " bytes, fewer than --length " +
                                std::to_string(length));
    const Status status = CheckRange(session, offset, length);
    if (!status.Ok())
        return status;
    plan.runs = {Run{static_cast<uint32_t>(offset), Bytes(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(length))}};
    return {};
}

// A file whose records carry their addresses: the cells it names. One run
// over the whole EEPROM goes through the original jobs.
Status PlanRecords(const Command &c, const Session &session, const std::string &raw, ImagePlan &plan)
{
    if (c.range.Given())
        return Status::Fail(kExitUsage, std::string("--offset and --length place binary images; the records of ") +
                                            (FormatOf(c.image) == ImageFormat::Text ? "a text image" : "an image file of this format") +
                                            " carry their own addresses");
    const std::size_t size = session.GetGeometry()->Bytes();
    std::string error;
    if (!DecodeRuns(FormatOf(c.image), raw, size, plan.runs, error))
        return FileError(c, error);
    if (plan.runs.size() == 1 && plan.runs[0].address == 0 && plan.runs[0].bytes.size() == size) {
        plan.whole = true;
        plan.image = std::move(plan.runs[0].bytes);
        plan.runs.clear();
    }
    return {};
}

Status PlanImage(const Command &c, const Session &session, const std::string &raw, ImagePlan &plan)
{
    const Geometry &g = *session.GetGeometry();
    Status status;
    if (CarriesAddresses(FormatOf(c.image))) {
        status = PlanRecords(c, session, raw, plan);
    } else if (c.range.Given()) {
        status = PlanBinaryRange(c, session, raw, plan);
    } else {
        std::string error;
        plan.whole = FitBinary(raw, g.Bytes(), c.image.pad, plan.image, error);
        if (!plan.whole)
            status = FileError(c, error);
    }
    if (status.Ok() && plan.whole && session.GeometryFromHeader() && !ImageHoldsHeader(plan.image, g.sizeBits, g.blockBits))
        PrintNote(c.output, "note: the image does not carry the geometry header, so the next command needs --part "
                            "(or run write-header afterwards)");
    return status;
}

// Reads the image file, opens the link and plans the image for it. The
// file is read first: a file error never touches the EEPROM.
Status OpenWithImage(const Command &c, Session &session, ImagePlan &plan)
{
    std::string raw, error;
    if (!ReadWholeFile(c.image.file, raw, error))
        return Status::Fail(kExitFile, error);
    const Status status = session.Open(SizeNeed::Required);
    return status.Ok() ? PlanImage(c, session, raw, plan) : status;
}

std::string RunsText(const Runs &runs)
{
    if (runs.size() != 1)
        return " in " + std::to_string(runs.size()) + " runs";
    return " at 0x" + ToHex(runs[0].address) + "..0x" + ToHex(runs[0].address + runs[0].bytes.size() - 1);
}

std::string BytesText(const Bytes &bytes)
{
    std::string text;
    for (uint8_t b : bytes)
        text += (text.empty() ? "" : " ") + HexByte(b).substr(2);
    return text;
}

} // namespace

Status RunPorts(const Command &c)
{
    int32_t count = 0;
    char names[kPortListBytes] = {};
    if (zelGetAvailableSpiPorts(reinterpret_cast<intptr_t>(&count), reinterpret_cast<intptr_t>(names),
                                sizeof names, 0) == 0)
        return Status::Fail(kExitNoLink, "the transport library could not list its ports");
    std::string list(names);
    std::size_t at = 0, end;
    while ((end = list.find('\n', at)) != std::string::npos) {
        const std::string name = list.substr(at, end - at);
        if (c.output.json)
            PrintEvent(PortEvent(name));
        else
            std::printf("%s\n", name.c_str());
        at = end + 1;
    }
    return {};
}

Status RunVersion(const Command &c)
{
    char library[64] = {};
    zelGetVersion(library);
    if (c.output.json)
        PrintEvent(VersionEvent(ZELPROG_VERSION, library));
    else
        std::printf("zelprog %s, library %s\n", ZELPROG_VERSION, library);
    return {};
}

Status RunInfo(const Command &c)
{
    Reporter reporter(c.output);
    Session session(c.link, reporter.Control());
    Status status = session.Open(SizeNeed::Optional);
    if (!status.Ok())
        return status;
    const unsigned address = static_cast<unsigned>(zelGetDeviceAddress());
    const std::optional<Geometry> given = session.GetGeometry();
    bool found = false;
    status = session.LoadHeaderGeometry(found);
    reporter.Finish();
    if (!status.Ok())
        return status;
    const std::optional<Geometry> header = found ? session.GetGeometry() : std::nullopt;
    if (c.output.json) {
        PrintEvent(InfoEvent(session.LinkDescription(), address, found, header ? header : given, session.PageBytes()));
        return {};
    }
    std::printf("link:           %s\n", session.LinkDescription().c_str());
    std::printf("device address: %s\n", HexByte(address).c_str());
    if (given)
        std::printf("given geometry: %s\n", GeometryText(*given).c_str());
    std::printf("header:         %s\n", header ? GeometryText(*header).c_str() : "none (no valid geometry header)");
    std::printf("writes:         %s\n", WritesText(session).c_str());
    if (given && header && (given->sizeBits != header->sizeBits || given->blockBits != header->blockBits))
        PrintNote(c.output, "note: the geometry header disagrees with the given geometry");
    return {};
}

Status RunProgram(const Command &c)
{
    Reporter reporter(c.output);
    Session session(c.link, reporter.Control());
    ImagePlan plan;
    Status status = OpenWithImage(c, session, plan);
    reporter.Finish();
    if (!status.Ok())
        return status;
    if (plan.whole)
        status = ProgramImage(session, plan.image, c.verify, reporter.Control());
    for (std::size_t i = 0; i < plan.runs.size() && status.Ok(); ++i)
        status = WriteRange(plan.runs[i].address, plan.runs[i].bytes, c.verify, reporter.Control());
    reporter.Finish();
    if (status.Ok())
        PrintResult(c.output, "program",
                    "programmed " + std::to_string(plan.Count()) + " bytes" + (plan.whole ? "" : RunsText(plan.runs)) +
                        (c.verify ? ", verified" : " (not verified)"));
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

Status RunDump(const Command &c)
{
    if (c.output.json && c.image.file == "-")
        return Status::Fail(kExitUsage, "--json and a dump to standard output both use standard output: name a file");
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
    std::string file, error;
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

Status RunClear(const Command &c)
{
    Reporter reporter(c.output);
    Session session(c.link, reporter.Control());
    Status status = session.Open(SizeNeed::Required);
    reporter.Finish();
    if (!status.Ok())
        return status;
    const std::size_t bytes = session.GetGeometry()->Bytes();
    status = ClearImage(session, static_cast<uint8_t>(c.fill), c.verify, reporter.Control());
    reporter.Finish();
    if (status.Ok())
        PrintResult(c.output, "clear", "filled " + std::to_string(bytes) + " bytes with " +
                                           HexByte(static_cast<unsigned>(c.fill)) +
                                           (c.verify ? ", verified" : " (not verified)"));
    return status;
}

Status RunPatch(const Command &c)
{
    Reporter reporter(c.output);
    Session session(c.link, reporter.Control());
    Status status = session.Open(SizeNeed::Required);
    reporter.Finish();
    if (status.Ok())
        status = CheckRange(session, c.patch.address, c.patch.bytes.size());
    if (!status.Ok())
        return status;
    const auto address = static_cast<uint32_t>(c.patch.address);
    Bytes before, after;
    status = ReadRange(address, static_cast<uint32_t>(c.patch.bytes.size()), before, reporter.Control());
    if (status.Ok())
        status = WriteRange(address, c.patch.bytes, true, reporter.Control());
    if (status.Ok())
        status = ReadRange(address, static_cast<uint32_t>(c.patch.bytes.size()), after, reporter.Control());
    reporter.Finish();
    if (!status.Ok())
        return status;
    if (c.output.json) {
        Event result = ResultEvent("patch");
        result["address"] = "0x" + ToHex(address);
        result["before"] = BytesText(before);
        result["after"] = BytesText(after);
        PrintEvent(result);
        return {};
    }
    const std::string at = "0x" + ToHex(address);
    std::printf("before %s: %s\n", at.c_str(), BytesText(before).c_str());
    std::printf("now    %s: %s\n", at.c_str(), BytesText(after).c_str());
    PrintNote(c.output, "patched " + std::to_string(after.size()) + " bytes" + RunsText({Run{address, after}}) +
                            ", verified");
    return {};
}

Status RunCheckSize(const Command &c)
{
    Reporter reporter(c.output);
    Session session(c.link, reporter.Control());
    Status status = session.Open(SizeNeed::Required);
    reporter.Finish();
    if (!status.Ok())
        return status;
    const Geometry g = *session.GetGeometry();
    if (zelCheckSize() == 0)
        return Status::Fail(kExitJobFailed, "size check failed: the last byte of " + std::to_string(g.Bytes()) +
                                                " (0x" + ToHex(g.Bytes() - 1) +
                                                ") cannot be changed and put back; the EEPROM is smaller, or write-protected");
    PrintResult(c.output, "check-size", "size check passed: the EEPROM holds " + std::to_string(g.Bytes()) + " bytes");
    return {};
}

Status RunReadHeader(const Command &c)
{
    Reporter reporter(c.output);
    Session session(c.link, reporter.Control());
    Status status = session.Open(SizeNeed::Optional);
    bool found = false;
    if (status.Ok())
        status = session.LoadHeaderGeometry(found);
    reporter.Finish();
    if (!status.Ok())
        return status;
    if (!found)
        return Status::Fail(kExitJobFailed, "the EEPROM holds no valid geometry header (write one with write-header)");
    const Geometry &g = *session.GetGeometry();
    if (c.output.json)
        PrintEvent(HeaderEvent(g));
    else
        std::printf("%s\n", GeometryText(g).c_str());
    return {};
}

Status RunWriteHeader(const Command &c)
{
    Reporter reporter(c.output);
    Session session(c.link, reporter.Control());
    Status status = session.Open(SizeNeed::Optional);
    if (!status.Ok())
        return status;
    if (!session.GetGeometry())
        return Status::Fail(kExitUsage, "write-header stores the geometry you give: pass --part or --size-bits/--block-bits");
    const Geometry &g = *session.GetGeometry();
    if (zelWriteHeader() == 0)
        return Status::Fail(kExitJobFailed, "writing the geometry header failed (is the EEPROM write-protected?)");
    PrintResult(c.output, "write-header", "wrote the geometry header: " + GeometryText(g));
    return {};
}

} // namespace zelprog
