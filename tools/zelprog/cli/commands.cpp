#include "cli/commands.h"

#include "cli/reporter.h"
#include "cli/text.h"
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
