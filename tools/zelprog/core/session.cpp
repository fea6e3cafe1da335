#include "core/session.h"

#include "core/os.h"
#include "core/parts.h"

#include <zelapi.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>

namespace zelprog {
namespace {

constexpr const char *kDefaultVirtualPart = "24c256";
constexpr int kMaxPioLine = 15;                // the chip has 16 PIO lines
constexpr int kDefaultPioLines[3] = {6, 7, 8}; // clock, data, write-protect: the library's own at its load

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

Status Usage(std::string message) { return Status::Fail(kExitUsage, std::move(message)); }

// "CLOCK,DATA,WP", each 0 to 15; 0 keeps that line at its default, as the
// library keeps a line for 0 (so line 0 itself cannot be chosen). The lines
// in use must differ.
bool ParseLines(const std::string &text, int lines[3]) {
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d,%d,%d%c", &lines[0], &lines[1], &lines[2], &tail) != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        if (lines[i] < 0 || lines[i] > kMaxPioLine)
            return false;
        if (lines[i] == 0)
            lines[i] = kDefaultPioLines[i];
    }
    return lines[0] != lines[1] && lines[0] != lines[2] && lines[1] != lines[2];
}

Status ApplyPioLines(const std::string &pio, int lines[3]) {
    if (pio.empty())
        return {};
    if (!ParseLines(pio, lines))
        return Usage("--pio takes three different line numbers from 0 to 15 (clock,data,write-protect; 0 keeps "
                     "the default 6, 7 or 8), e.g. --pio 6,7,8");
    zelSetPioLines(lines[0], lines[1], lines[2]);
    return {};
}

bool ValidPageSize(int bytes) {
    return bytes >= kMinPageBytes && bytes <= kMaxPageBytes && std::has_single_bit(static_cast<unsigned>(bytes));
}

std::string GeometryHint() { return "pass --part (one of " + KnownPartNames() + ") or --size-bits/--block-bits"; }

} // namespace

Session::~Session() {
    if (open_)
        zelClose();
}

Status Session::Open(SizeNeed need) {
    Status status = ResolveGeometry();
    if (status.Ok())
        status = OpenLink();
    if (status.Ok())
        status = ChooseWrites();
    if (!status.Ok() || geometry_ || need != SizeNeed::Required)
        return status;
    bool found = false;
    status = LoadHeaderGeometry(found);
    if (status.Ok() && !found)
        return Usage("the EEPROM holds no geometry header, so its size is unknown: " + GeometryHint() +
                     ", or store a header with 'zelprog write-header --part PART'");
    return status;
}

Status Session::ResolveGeometry() {
    const LinkOptions &o = options_;
    if (o.byteWrites && o.pageSize >= 0)
        return Usage("give either --page-size or --byte-writes, not both");
    if (o.pageSize >= 0 && !ValidPageSize(o.pageSize))
        return Usage("--page-size takes a power of two from 2 to 256 (the page of a 24c256 is 64)");
    if (!o.part.empty()) {
        if (o.sizeBits >= 0 || o.blockBits >= 0)
            return Usage("give either --part or --size-bits/--block-bits, not both");
        const PartGeometry *p = FindPart(o.part);
        if (p == nullptr)
            return Usage("unknown part '" + o.part + "': known parts are " + KnownPartNames());
        geometry_ = Geometry{p->sizeBits, p->blockBits};
        return {};
    }
    if (o.sizeBits < 0)
        return o.blockBits >= 0 ? Usage("--block-bits needs --size-bits") : Status{};
    if (o.sizeBits < kMinSizeBits || o.sizeBits > kMaxSizeBits)
        return Usage("--size-bits must be 7 to 18 (128 bytes to 256 KiB)");
    const int blockBits = std::max(o.blockBits, 0);
    if (blockBits > 7)
        return Usage("--block-bits must be 0 to 7 (4: device-address bit 0x08, 2: 0x04, 1: 0x02)");
    if (AddressBytes(o.sizeBits, blockBits) > 2)
        return Usage("size bits " + std::to_string(o.sizeBits) +
                     " need more block bits: three memory-address bytes are not supported");
    geometry_ = Geometry{o.sizeBits, blockBits};
    return {};
}

Status Session::ResolveVirtualPart(std::string &part) {
    if (!options_.part.empty()) {
        part = FindPart(options_.part)->name;
        return {};
    }
    if (!geometry_) {
        part = kDefaultVirtualPart;
        const PartGeometry *p = FindPart(part);
        geometry_ = Geometry{p->sizeBits, p->blockBits};
        return {};
    }
    part = PartNameOf(*geometry_);
    if (part.empty())
        return Usage("no known part has size bits " + std::to_string(geometry_->sizeBits) + " and block bits " +
                     std::to_string(geometry_->blockBits) +
                     ": pass --link \"SIMPART=... SIMFILE=...\" for the virtual target");
    return {};
}

Status Session::OpenLink() {
    const LinkOptions &o = options_;
    int lines[3] = {0, 0, 0};
    Status status = ApplyPioLines(o.pio, lines);
    if (!status.Ok())
        return status;
    if (!o.link.empty() && !o.transport.empty())
        return Usage("give either --link or --transport/--port, not both");
    if (o.port >= 0 && o.transport.empty())
        return Usage("--port needs --transport lpt|usb");
    const int sizeBits = geometry_ ? geometry_->sizeBits : 0;
    const int blockBits = geometry_ ? geometry_->blockBits : 0;
    // a whole transaction per round trip wherever the transport can take it
    zelSetBatching(1);
    int opened = 0;
    if (!o.link.empty()) {
        description_ = "the link \"" + o.link + "\"";
        opened = zelInitTrans(o.link.c_str(), 0, sizeBits, blockBits);
    } else if (!o.transport.empty()) {
        const std::string kind = Lower(o.transport);
        if (kind != "lpt" && kind != "usb")
            return Usage("--transport must be lpt or usb");
        description_ = (kind == "lpt" ? "the LPT link" : "the USB link") +
                       (o.port >= 0 ? " on port " + std::to_string(o.port) : std::string());
        opened = zelInit(kind == "lpt" ? 1 : 2, o.port, 0, sizeBits, blockBits);
    } else {
        std::string part;
        std::filesystem::path dir;
        std::string error;
        status = ResolveVirtualPart(part);
        if (!status.Ok())
            return status;
        if (!os::StateDirectory(dir, error))
            return Status::Fail(kExitFile, error);
        const std::string file = (dir / ("eeprom-" + part + ".bin")).string();
        if (file.find('"') != std::string::npos)
            return Status::Fail(kExitFile,
                                "the state file path '" + file +
                                    "' holds a double quote: point the state directory elsewhere or pass --link");
        // configuration words are separated by blanks; a quoted value may hold them
        std::string config = "SIMPART=" + part + " SIMFILE=\"" + file + "\"";
        if (!o.pio.empty())
            config += " SIMLINES=" + std::to_string(lines[0]) + "," + std::to_string(lines[1]) + "," +
                      std::to_string(lines[2]);
        description_ = "the virtual target (" + part + ", " + file + ")";
        opened = zelInitTrans(config.c_str(), 0, geometry_->sizeBits, geometry_->blockBits);
        if (opened == 0 && os::HeldByAnother(file))
            return Status::Fail(kExitNoLink,
                                "the backing file '" + file +
                                    "' is in use by another program (another zelprog?): wait until it "
                                    "ends (else check the link options, the PIO lines (--pio) and the wiring)");
    }
    if (opened == 0)
        return Status::Fail(
            kExitNoLink,
            "could not open " + description_ +
                ", or no EEPROM answered: check the link options, the PIO lines (--pio) and the wiring");
    open_ = true;
    return {};
}

Status Session::LoadHeaderGeometry(bool &found) {
    found = false;
    if (zelReadHeader() == 0)
        return {};
    int sizeBits = 0, blockBits = 0;
    if (zelGetGeometry(&sizeBits, &blockBits, nullptr) == 0 || sizeBits < kMinSizeBits ||
        sizeBits > kMaxHeaderSizeBits)
        return Status::Fail(kExitJobFailed, "the library took no usable geometry from the EEPROM's header");
    geometry_ = Geometry{sizeBits, blockBits};
    fromHeader_ = true;
    found = true;
    return ChooseWrites();
}

// Page writes of the given page size, else of the part's page (of the
// smallest page of the parts with the geometry, where no part was named);
// byte writes when asked for or when the page size is unknown.
Status Session::ChooseWrites() {
    const PartGeometry *part = options_.part.empty() ? nullptr : FindPart(options_.part);
    const int geometryPage = geometry_ ? SmallestPageOf(*geometry_) : 0;
    if (options_.byteWrites) {
        pageBytes_ = 0;
        pageSource_ = "--byte-writes";
    } else if (options_.pageSize > 0) {
        pageBytes_ = options_.pageSize;
        pageSource_ = "--page-size";
    } else if (part != nullptr) {
        pageBytes_ = part->pageBytes;
        pageSource_ = "the page of the " + part->name;
    } else if (geometryPage != 0) {
        pageBytes_ = geometryPage;
        pageSource_ = "the smallest page of the parts of " + std::to_string(geometry_->Bytes()) +
                      " bytes with block bits " + std::to_string(geometry_->blockBits);
    } else {
        pageBytes_ = 0;
        pageSource_ = "the page size is unknown";
    }
    if (zelSetPageWrite(pageBytes_) == 0)
        return Status::Fail(kExitUsage,
                            "the library refused page writes of " + std::to_string(pageBytes_) + " bytes");
    return {};
}

} // namespace zelprog
