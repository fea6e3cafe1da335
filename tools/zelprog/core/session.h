// Opening the link to the EEPROM with the geometry the user gave, or with
// the one stored in the EEPROM's geometry header.
#pragma once

#include "core/job.h"
#include "core/parts.h"
#include "core/status.h"
#include "formats/image.h"

#include <optional>
#include <string>

namespace zelprog {

struct LinkOptions {
    std::string transport; // "lpt" or "usb" (zelInit); empty: not given
    int port = -1;         // with --transport; -1: none
    std::string link;      // the whole transport configuration (zelInitTrans)
    std::string pio;       // "CLOCK,DATA,WP"
    std::string part;      // "24c256"
    int sizeBits = -1;     // -1: not given
    int blockBits = -1;
    int pageSize = -1;       // --page-size; -1: the part table's page
    bool byteWrites = false; // --byte-writes: one write cycle per byte
};

enum class SizeNeed {
    Required, // jobs and the size check: from the options, else from the header
    Optional, // info and header commands look at the header themselves
};

// One open link to one EEPROM; closed when the object goes. The library
// holds one link per process, so one Session at a time.
class Session {
public:
    // `control` receives the notes and follows the jobs the session runs itself.
    Session(const LinkOptions &options, JobControl control) : options_(options), control_(std::move(control)) {}
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Checks the options, opens the link and, when the size must be known and
    // the options do not give it, takes it from the geometry header.
    Status Open(SizeNeed need);

    // zelReadHeader, then the geometry the library took from it
    // (zelGetGeometry); page writes follow the new geometry. `found` is false
    // when the EEPROM holds no valid header.
    Status LoadHeaderGeometry(bool &found);

    const std::optional<Geometry> &GetGeometry() const { return geometry_; }
    bool GeometryFromHeader() const { return fromHeader_; }
    const std::string &LinkDescription() const { return description_; }
    // The page size of the writes, 0 for byte writes, and where it came from.
    int PageBytes() const { return pageBytes_; }
    const std::string &PageSource() const { return pageSource_; }

private:
    Status ResolveGeometry();
    Status ResolveVirtualPart(std::string &part);
    Status OpenLink();
    Status ChooseWrites();

    LinkOptions options_;
    JobControl control_;
    std::optional<Geometry> geometry_;
    bool fromHeader_ = false;
    int pageBytes_ = 0;
    std::string pageSource_ = "the page size is unknown";
    std::string description_;
    bool open_ = false;
};

} // namespace zelprog
