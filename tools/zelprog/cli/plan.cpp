#include "cli/plan.h"

#include "cli/text.h"
#include "core/file_io.h"
#include "core/image_jobs.h"
#include "core/memory_jobs.h"
#include "core/parts.h"

#include <algorithm>

namespace zelprog {
namespace {

Status FileError(const Command &c, const std::string &error) {
    return Status::Fail(kExitFile, FileName(c.image.file) + " (" + FormatName(FormatOf(c.image)) + "): " + error);
}

// A binary image at --offset: the file's bytes, or its first --length.
Status PlanBinaryRange(const Command &c, const Session &session, const std::string &raw, ImagePlan &plan) {
    if (c.image.pad)
        return Status::Fail(kExitUsage,
                            "--pad fills a whole-EEPROM image; with --offset or --length only the file's "
                            "bytes are written");
    const uint64_t offset = c.range.offset.value_or(0);
    const uint64_t length = c.range.length.value_or(raw.size());
    if (length > raw.size())
        return FileError(c, "holds " + std::to_string(raw.size()) + " bytes, fewer than --length " +
                                std::to_string(length));
    const Status status = CheckRange(session, offset, length);
    if (!status.Ok())
        return status;
    plan.runs = {
        Run{static_cast<uint32_t>(offset), Bytes(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(length))}};
    return {};
}

// Bytes that no text file holds: controls other than the blanks and line ends.
bool HoldsNonText(std::string_view raw) {
    return std::any_of(raw.begin(), raw.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f' && b != '\v') || b == 0x7F;
    });
}

// A file read as a text image because of its name (standard input has none)
// that holds binary bytes was most likely meant as a binary image.
std::string FormatHint(const Command &c, std::string_view raw) {
    if (c.image.format || FormatOf(c.image) != ImageFormat::Text || !HoldsNonText(raw))
        return "";
    return std::string("; ") + (c.image.file == "-" ? "standard input" : "the file") +
           " holds bytes that are not text: for a binary image pass --format bin";
}

// A file whose records carry their addresses: the cells it names. One run
// over the whole EEPROM goes through the original jobs.
Status PlanRecords(const Command &c, const Session &session, const std::string &raw, ImagePlan &plan) {
    if (c.range.Given())
        return Status::Fail(kExitUsage, std::string("--offset and --length place binary images; the records of ") +
                                            (FormatOf(c.image) == ImageFormat::Text       ? "a text image"
                                             : FormatOf(c.image) == ImageFormat::IntelHex ? "an Intel HEX file"
                                                                                          : "an S-record file") +
                                            " carry their own addresses");
    const std::size_t size = session.GetGeometry()->Bytes();
    std::string error;
    if (!DecodeRuns(FormatOf(c.image), raw, size, plan.runs, error))
        return FileError(c, error + FormatHint(c, raw));
    if (plan.runs.size() == 1 && plan.runs[0].address == 0 && plan.runs[0].bytes.size() == size) {
        plan.whole = true;
        plan.image = std::move(plan.runs[0].bytes);
        plan.runs.clear();
    }
    return {};
}

} // namespace

std::size_t ImagePlan::Count() const {
    if (whole)
        return image.size();
    std::size_t n = 0;
    for (const Run &run : runs)
        n += run.bytes.size();
    return n;
}

Status PlanImage(const Command &c, const Session &session, const std::string &raw, ImagePlan &plan) {
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
    if (status.Ok() && plan.whole && session.GeometryFromHeader() &&
        !ImageHoldsHeader(plan.image, g.sizeBits, g.blockBits))
        PrintNote(c.output, "note: the image does not carry the geometry header, so the next command needs --part "
                            "(or run write-header afterwards)");
    return status;
}

Status ReadImageFile(const Command &c, std::string &raw) {
    std::string error;
    if (!ReadWholeFile(c.image.file, raw, error))
        return Status::Fail(kExitFile, error);
    return {};
}

Status WritePlan(const Session &session, const ImagePlan &plan, bool verify, const JobControl &control) {
    if (plan.whole)
        return ProgramImage(session, plan.image, verify, control);
    Status status;
    for (std::size_t i = 0; i < plan.runs.size() && status.Ok(); ++i)
        status = WriteRange(plan.runs[i].address, plan.runs[i].bytes, verify, control);
    return status;
}

ImagePlan WithSerialBytes(ImagePlan plan, uint32_t at, const Bytes &serial) {
    if (plan.whole)
        std::copy(serial.begin(), serial.end(), plan.image.begin() + at);
    else
        Overlay(plan.runs, at, serial);
    return plan;
}

// The image file's name in a unit record: without its folder.
std::string ImageName(const std::string &file) {
    return file == "-" ? "standard input" : std::filesystem::path(file).filename().string();
}

std::string PlanRanges(const ImagePlan &plan) {
    return plan.whole ? RangesText({{0, plan.image}}) : RangesText(plan.runs);
}

} // namespace zelprog
