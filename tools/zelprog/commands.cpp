#include "commands.h"

#include "file_io.h"
#include "job.h"
#include "json.h"
#include "line_reader.h"
#include "parts.h"
#include "temp_file.h"

#include <zelapi.h>

#include <cstdio>
#include <functional>

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

std::string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

std::string GeometryText(const Geometry &g)
{
    const std::string part = PartNameOf(g);
    return (part.empty() ? std::string() : part + ": ") + std::to_string(g.Bytes()) + " bytes, size bits " +
           std::to_string(g.sizeBits) + ", block bits " + std::to_string(g.blockBits);
}

JsonLine &AddGeometry(JsonLine &line, const Geometry &g)
{
    return line.Add("part", PartNameOf(g)).Add("bytes", static_cast<int64_t>(g.Bytes())).Add("sizeBits", g.sizeBits)
        .Add("blockBits", g.blockBits);
}

// Runs a job whose start export takes the temporary image path.
Status RunImageJob(const Output &output, uint64_t bytes, const std::function<int()> &start, const std::string &what)
{
    Reporter reporter(output, bytes);
    switch (RunJob(start, reporter)) {
    case JobOutcome::Succeeded:
        return {};
    case JobOutcome::Interrupted:
        return Status::Fail(kExitInterrupted, "interrupted: stopped " + what + "; the EEPROM may be partly changed");
    case JobOutcome::Refused:
        return Status::Fail(kExitJobFailed, "the library refused to start " + what);
    case JobOutcome::Failed:
        break;
    }
    const int messages = reporter.Messages();
    return Status::Fail(kExitJobFailed, what + " failed" +
                                            (messages > 0 ? ": " + std::to_string(messages) + " words differ"
                                                          : " (the EEPROM did not answer as expected)"));
}

void PrintResult(const Output &output, const char *command, const std::string &text)
{
    if (output.json)
        JsonLine("result").Add("command", command).Add("ok", true).Add("exitCode", 0).Print();
    else
        PrintNote(output, text);
}

// Reads the image file named by the command and converts it to the text
// image that the library reads, sized to the open EEPROM.
Status PrepareImage(const Command &c, const Session &session, const std::string &raw, const TempFile &temp)
{
    const Geometry &g = *session.GetGeometry();
    Bytes bytes;
    std::string error;
    if (!DecodeImage(FormatOf(c.image), raw, g.Bytes(), c.image.pad, bytes, error))
        return Status::Fail(kExitFile, FileName(c.image.file) + " (" + FormatName(FormatOf(c.image)) + "): " + error);
    if (temp.Path().size() > kMaxLibraryPath)
        return Status::Fail(kExitFile, "the temporary directory's path is too long: set TMPDIR to a shorter one");
    if (!WriteWholeFile(temp.Path(), EmitTextImage(bytes), error))
        return Status::Fail(kExitFile, error);
    if (session.GeometryFromHeader() && !ImageHoldsHeader(bytes, g.sizeBits, g.blockBits))
        PrintNote(c.output, "note: the image does not carry the geometry header, so the next command needs --part "
                            "(or run write-header afterwards)");
    return {};
}

// Reads the image file, opens the link and leaves the image, converted for
// the library, in `temp`. The file is read first: a file error never
// touches the EEPROM.
Status OpenWithImage(const Command &c, Session &session, const TempFile &temp)
{
    std::string raw, error;
    if (!ReadWholeFile(c.image.file, raw, error))
        return Status::Fail(kExitFile, error);
    const Status status = session.Open(SizeNeed::Required);
    return status.Ok() ? PrepareImage(c, session, raw, temp) : status;
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
            JsonLine("port").Add("name", name).Print();
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
        JsonLine("version").Add("tool", ZELPROG_VERSION).Add("library", library).Print();
    else
        std::printf("zelprog %s, library %s\n", ZELPROG_VERSION, library);
    return {};
}

Status RunInfo(const Command &c)
{
    Session session(c.link, c.output);
    Status status = session.Open(SizeNeed::Optional);
    if (!status.Ok())
        return status;
    const unsigned address = static_cast<unsigned>(zelGetDeviceAddress());
    const std::optional<Geometry> given = session.GetGeometry();
    bool found = false;
    status = session.LoadHeaderGeometry(found);
    if (!status.Ok())
        return status;
    const std::optional<Geometry> header = found ? session.GetGeometry() : std::nullopt;
    if (c.output.json) {
        JsonLine line("info");
        line.Add("link", session.LinkDescription()).Add("deviceAddress", Hex(address)).Add("header", found);
        if (header)
            AddGeometry(line, *header);
        else if (given)
            AddGeometry(line, *given);
        line.Print();
        return {};
    }
    std::printf("link:           %s\n", session.LinkDescription().c_str());
    std::printf("device address: %s\n", Hex(address).c_str());
    if (given)
        std::printf("given geometry: %s\n", GeometryText(*given).c_str());
    std::printf("header:         %s\n", header ? GeometryText(*header).c_str() : "none (no valid geometry header)");
    if (given && header && (given->sizeBits != header->sizeBits || given->blockBits != header->blockBits))
        PrintNote(c.output, "note: the geometry header disagrees with the given geometry");
    return {};
}

Status RunProgram(const Command &c)
{
    Session session(c.link, c.output);
    TempFile temp("program");
    Status status = OpenWithImage(c, session, temp);
    if (!status.Ok())
        return status;
    const std::string path = temp.Path();
    const std::size_t bytes = session.GetGeometry()->Bytes();
    status = RunImageJob(c.output, bytes, [&] { return zelProgram(path.c_str(), 0, c.verify ? 1 : 0); }, "programming");
    if (status.Ok())
        PrintResult(c.output, "program",
                    "programmed " + std::to_string(bytes) + " bytes" + (c.verify ? ", verified" : " (not verified)"));
    return status;
}

Status RunVerify(const Command &c)
{
    Session session(c.link, c.output);
    TempFile temp("verify");
    Status status = OpenWithImage(c, session, temp);
    if (!status.Ok())
        return status;
    const std::string path = temp.Path();
    status = RunImageJob(c.output, session.GetGeometry()->Bytes(), [&] { return zelVerify(path.c_str(), 0); },
                         "verifying");
    if (status.Ok())
        PrintResult(c.output, "verify", "the EEPROM matches " + FileName(c.image.file));
    return status;
}

Status RunDump(const Command &c)
{
    if (c.output.json && c.image.file == "-")
        return Status::Fail(kExitUsage, "--json and a dump to standard output both use standard output: name a file");
    Session session(c.link, c.output);
    Status status = session.Open(SizeNeed::Required);
    if (!status.Ok())
        return status;
    const std::size_t size = session.GetGeometry()->Bytes();
    Bytes bytes = session.SizingImage();
    std::string error;
    if (bytes.empty() || c.verify) {
        TempFile temp("dump");
        const std::string path = temp.Path();
        if (path.size() > kMaxLibraryPath)
            return Status::Fail(kExitFile, "the temporary directory's path is too long: set TMPDIR to a shorter one");
        status = RunImageJob(c.output, size, [&] { return zelDump(path.c_str(), 0, c.verify ? 1 : 0); },
                             c.verify ? "reading twice" : "reading");
        if (!status.Ok())
            return status.code == kExitJobFailed ? Status::Fail(kExitJobFailed, status.message + "; nothing written")
                                                 : status;
        std::string text;
        if (!ReadWholeFile(path, text, error) || !ParseTextImage(text, size, bytes, error))
            return Status::Fail(kExitFile, "the library's dump could not be read back: " + error);
    }
    if (!WriteWholeFile(c.image.file, EncodeImage(FormatOf(c.image), bytes), error))
        return Status::Fail(kExitFile, error);
    if (c.image.file != "-")
        PrintResult(c.output, "dump", "dumped " + std::to_string(size) + " bytes to '" + c.image.file + "'");
    return {};
}

Status RunClear(const Command &c)
{
    Session session(c.link, c.output);
    Status status = session.Open(SizeNeed::Required);
    if (!status.Ok())
        return status;
    const std::size_t bytes = session.GetGeometry()->Bytes();
    status = RunImageJob(c.output, bytes,
                         [&] { return zelClear(static_cast<uint8_t>(c.fill), 0, c.verify ? 1 : 0); }, "clearing");
    if (status.Ok())
        PrintResult(c.output, "clear", "filled " + std::to_string(bytes) + " bytes with " + Hex(static_cast<unsigned>(c.fill)) +
                                           (c.verify ? ", verified" : " (not verified)"));
    return status;
}

Status RunCheckSize(const Command &c)
{
    Session session(c.link, c.output);
    Status status = session.Open(SizeNeed::Required);
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
    Session session(c.link, c.output);
    Status status = session.Open(SizeNeed::Optional);
    bool found = false;
    if (status.Ok())
        status = session.LoadHeaderGeometry(found);
    if (!status.Ok())
        return status;
    if (!found)
        return Status::Fail(kExitJobFailed, "the EEPROM holds no valid geometry header (write one with write-header)");
    const Geometry &g = *session.GetGeometry();
    if (c.output.json) {
        JsonLine line("header");
        AddGeometry(line, g).Print();
    } else {
        std::printf("%s\n", GeometryText(g).c_str());
    }
    return {};
}

Status RunWriteHeader(const Command &c)
{
    Session session(c.link, c.output);
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
