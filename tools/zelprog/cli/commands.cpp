#include "cli/commands.h"

#include "cli/device_command.h"
#include "cli/reporter.h"
#include "cli/text.h"
#include "core/detect.h"
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

Status RunPorts(const Command &c) {
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

// The table of parts; "*" marks a row with cells not read in a datasheet.
Status RunParts(const Command &c) {
    if (!c.output.json)
        std::printf("%-11s %7s %5s %5s %9s %8s %6s\n", "part", "bytes", "addr", "block", "page", "rollover",
                    "tWR");
    for (const PartGeometry &p : KnownParts()) {
        if (c.output.json) {
            PrintEvent(PartEvent(p));
            continue;
        }
        const std::string page = p.pageBytes == p.pageBytesMax
                                     ? std::to_string(p.pageBytes)
                                     : std::to_string(p.pageBytes) + "-" + std::to_string(p.pageBytesMax);
        std::printf("%-11s %7zu %5d %5d %9s %8s %4dms%s\n", p.name.c_str(), std::size_t{1} << p.sizeBits,
                    p.addressBytes, p.blockBits, page.c_str(), p.readsRollAtBlockEnd ? "block" : "memory",
                    p.writeCycleMs, p.unconfirmed ? " *" : "");
    }
    if (!c.output.json)
        std::printf("* some cells not read in a datasheet (the strictest value stands)\n");
    return {};
}

Status RunVersion(const Command &c) {
    char library[64] = {};
    zelGetVersion(library);
    if (c.output.json)
        PrintEvent(VersionEvent(ZELPROG_VERSION, library));
    else
        std::printf("zelprog %s, library %s\n", ZELPROG_VERSION, library);
    return {};
}

Status RunInfo(const Command &c) {
    unsigned address = 0;
    std::optional<Geometry> given, header;
    bool found = false;
    return RunOnDevice(
        c, {.size = SizeNeed::Optional,
            .run =
                [&](DeviceContext &d) {
                    address = static_cast<unsigned>(zelGetDeviceAddress());
                    given = d.session.GetGeometry();
                    const Status status = d.session.LoadHeaderGeometry(found);
                    if (found)
                        header = d.session.GetGeometry();
                    return status;
                },
            .report =
                [&](DeviceContext &d) {
                    const Session &session = d.session;
                    if (c.output.json) {
                        PrintEvent(InfoEvent(session.LinkDescription(), address, found, header ? header : given,
                                             session.PageBytes()));
                        return;
                    }
                    std::printf("link:           %s\n", session.LinkDescription().c_str());
                    std::printf("device address: %s\n", HexByte(address).c_str());
                    if (given)
                        std::printf("given geometry: %s\n", GeometryText(*given).c_str());
                    std::printf("header:         %s\n",
                                header ? GeometryText(*header).c_str() : "none (no valid geometry header)");
                    std::printf("writes:         %s\n", WritesText(session).c_str());
                    if (given && header &&
                        (given->sizeBits != header->sizeBits || given->blockBits != header->blockBits))
                        PrintNote(c.output, "note: the geometry header disagrees with the given geometry");
                }});
}

// What answers on the bus, from reads alone: the geometry the link was
// opened with plays no part.
Status RunDetect(const Command &c) {
    Detection found;
    return RunOnDevice(c, {.size = SizeNeed::Optional,
                           .run =
                               [&](DeviceContext &) {
                                   if (Detect(found))
                                       return Status{};
                                   return Status::Fail(kExitJobFailed,
                                                       "a read failed while detecting: check the wiring");
                               },
                           .report =
                               [&](DeviceContext &) {
                                   if (c.output.json) {
                                       PrintEvent(DetectEvent(found));
                                       return;
                                   }
                                   std::string answering;
                                   for (unsigned device : found.answering)
                                       answering += (answering.empty() ? "" : " ") + HexByte(device);
                                   const auto known = [](std::size_t n) {
                                       return n == 0 ? std::string("unknown") : std::to_string(n);
                                   };
                                   std::printf("answering:     %s\n", answering.c_str());
                                   std::printf("address bytes: %s\n",
                                               known(static_cast<std::size_t>(found.addressBytes)).c_str());
                                   std::printf("bytes:         %s\n", known(found.bytes).c_str());
                                   std::string parts;
                                   for (const std::string &name : found.candidates)
                                       parts += (parts.empty() ? "" : ", ") + name;
                                   std::printf("parts:         %s%s\n", parts.empty() ? "none" : parts.c_str(),
                                               found.sure ? " (sure)" : "");
                                   if (!found.note.empty())
                                       std::printf("note:          %s\n", found.note.c_str());
                               }});
}

Status RunClear(const Command &c) {
    return RunOnDevice(c, {.run =
                               [&](DeviceContext &d) {
                                   return ClearImage(d.session, static_cast<uint8_t>(c.fill), c.verify,
                                                     d.Control());
                               },
                           .report =
                               [&](DeviceContext &d) {
                                   PrintResult(c.output, "clear",
                                               "filled " + std::to_string(d.session.GetGeometry()->Bytes()) +
                                                   " bytes with " + HexByte(static_cast<unsigned>(c.fill)) +
                                                   (c.verify ? ", verified" : " (not verified)"));
                               }});
}

Status RunPatch(const Command &c) {
    const auto address = static_cast<uint32_t>(c.patch.address);
    const auto length = static_cast<uint32_t>(c.patch.bytes.size());
    Bytes before, after;
    return RunOnDevice(c, {.run =
                               [&](DeviceContext &d) {
                                   Status status = CheckRange(d.session, c.patch.address, c.patch.bytes.size());
                                   if (status.Ok())
                                       status = ReadRange(address, length, before, d.Control());
                                   if (status.Ok())
                                       status = WriteRange(address, c.patch.bytes, true, d.Control());
                                   if (status.Ok())
                                       status = ReadRange(address, length, after, d.Control());
                                   return status;
                               },
                           .report =
                               [&](DeviceContext &) {
                                   const std::string at = "0x" + ToHex(address);
                                   if (c.output.json) {
                                       Event result = ResultEvent("patch");
                                       result["address"] = at;
                                       result["before"] = BytesText(before);
                                       result["after"] = BytesText(after);
                                       PrintEvent(result);
                                       return;
                                   }
                                   std::printf("before %s: %s\n", at.c_str(), BytesText(before).c_str());
                                   std::printf("now    %s: %s\n", at.c_str(), BytesText(after).c_str());
                                   PrintNote(c.output, "patched " + std::to_string(after.size()) + " bytes" +
                                                           RunsText({Run{address, after}}) + ", verified");
                               }});
}

Status RunCheckSize(const Command &c) {
    return RunOnDevice(
        c, {.run =
                [&](DeviceContext &d) {
                    const std::size_t bytes = d.session.GetGeometry()->Bytes();
                    if (zelCheckSize() != 0)
                        return Status{};
                    return Status::Fail(
                        kExitJobFailed,
                        "size check failed: the last byte of " + std::to_string(bytes) + " (0x" +
                            ToHex(bytes - 1) +
                            ") cannot be changed and put back; the EEPROM is smaller, or write-protected");
                },
            .report =
                [&](DeviceContext &d) {
                    PrintResult(c.output, "check-size",
                                "size check passed: the EEPROM holds " +
                                    std::to_string(d.session.GetGeometry()->Bytes()) + " bytes");
                }});
}

Status RunReadHeader(const Command &c) {
    return RunOnDevice(c, {.size = SizeNeed::Optional,
                           .run =
                               [&](DeviceContext &d) {
                                   bool found = false;
                                   const Status status = d.session.LoadHeaderGeometry(found);
                                   if (status.Ok() && !found)
                                       return Status::Fail(kExitJobFailed,
                                                           "the EEPROM holds no valid geometry header "
                                                           "(write one with write-header)");
                                   return status;
                               },
                           .report =
                               [&](DeviceContext &d) {
                                   const Geometry &g = *d.session.GetGeometry();
                                   if (c.output.json)
                                       PrintEvent(HeaderEvent(g));
                                   else
                                       std::printf("%s\n", GeometryText(g).c_str());
                               }});
}

// A part above 128 KiB: a header would read back as none.
std::string HeaderCannotCarry(const Geometry &g) {
    const std::string part = PartNameOf(g).empty() ? std::string("PART") : PartNameOf(g);
    return "the geometry header cannot carry " + std::to_string(g.Bytes()) +
           " bytes (a header of more than 128 KiB reads back as none): pass --part " + part +
           " with every command instead";
}

Status RunWriteHeader(const Command &c) {
    return RunOnDevice(
        c, {.size = SizeNeed::Optional,
            .run =
                [&](DeviceContext &d) {
                    if (!d.session.GetGeometry())
                        return Status::Fail(kExitUsage, "write-header stores the geometry you give: "
                                                        "pass --part or --size-bits/--block-bits");
                    const Geometry &g = *d.session.GetGeometry();
                    if (g.sizeBits > kMaxHeaderSizeBits)
                        return Status::Fail(kExitUsage, HeaderCannotCarry(g));
                    if (zelWriteHeader() == 0)
                        return Status::Fail(kExitJobFailed, "writing the geometry header failed (is "
                                                            "the EEPROM write-protected?)");
                    return Status{};
                },
            .report =
                [&](DeviceContext &d) {
                    PrintResult(c.output, "write-header",
                                "wrote the geometry header: " + GeometryText(*d.session.GetGeometry()));
                }});
}

} // namespace zelprog
