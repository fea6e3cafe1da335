// Opening the link to the EEPROM with the geometry the user gave, or with
// the one stored in the EEPROM's geometry header.
#pragma once

#include "image.h"
#include "output.h"

#include <optional>
#include <string>

namespace zelprog {

struct LinkOptions {
    std::string transport;  // "lpt" or "usb" (zelInit); empty: not given
    int port = -1;          // with --transport; -1: none
    std::string link;       // the whole transport configuration (zelInitTrans)
    std::string pio;        // "CLOCK,DATA,WP"
    std::string part;       // "24c256"
    int sizeBits = -1;      // -1: not given
    int blockBits = -1;
};

struct Geometry {
    int sizeBits = 0;
    int blockBits = 0;
    std::size_t Bytes() const { return std::size_t{1} << sizeBits; }
};

enum class SizeNeed {
    Required, // jobs and the size check: from the options, else from the header
    Optional, // info and header commands look at the header themselves
};

class Session {
public:
    Session(const LinkOptions &options, const Output &output) : options_(options), output_(output) {}
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Checks the options, opens the link and, when the size must be known and
    // the options do not give it, takes it from the geometry header.
    Status Open(SizeNeed need);

    // zelReadHeader, then a read of the whole EEPROM, whose length is the size
    // (the library has no call that returns the geometry); the block bits come
    // from the header bytes of that read. `found` is false when the EEPROM
    // holds no valid header.
    Status LoadHeaderGeometry(bool &found);

    const std::optional<Geometry> &GetGeometry() const { return geometry_; }
    bool GeometryFromHeader() const { return fromHeader_; }
    // The EEPROM as read while sizing it from the header (empty otherwise).
    const Bytes &SizingImage() const { return sizingImage_; }
    const std::string &LinkDescription() const { return description_; }

private:
    Status ResolveGeometry();
    Status ResolveVirtualPart(std::string &part);
    Status OpenLink();

    LinkOptions options_;
    Output output_;
    std::optional<Geometry> geometry_;
    bool fromHeader_ = false;
    Bytes sizingImage_;
    std::string description_;
    bool open_ = false;
};

// A part name for a geometry, or "" when no known part has it.
std::string PartNameOf(const Geometry &geometry);

} // namespace zelprog
