// The one event schema: the JSON objects that `zelprog --json` prints, one a
// line, and that the GUI streams as Server-Sent Events. Each object names
// its kind in "event", the first key; the other keys follow in a fixed order.
#pragma once

#include "core/detect.h"
#include "core/parts.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace zelprog {

using Event = nlohmann::ordered_json; // keeps the keys in the order they were added

// Receives the events of a session and its jobs. Job events come on the
// library's worker thread, one at a time; the others on the caller's thread.
using EventSink = std::function<void(const Event &)>;

// A job's state text: {"event":"state","state":"Writing..."}
Event StateEvent(std::string_view state);
// {"event":"progress","state":...,"percent":0..100,"bytesPerSecond":...,"secondsLeft":...};
// the rate and the time left are 0 while unknown, rounded to a tenth.
Event ProgressEvent(std::string_view state, int percent, double bytesPerSecond, double secondsLeft);
// A message of a job, or a summary of them: {"event":"message","text":...}
Event MessageEvent(std::string_view text);
// One byte that a verify read back differently, by its byte address:
// {"event":"message","text":"ERROR: byte 0x20 read as 0xea instead of 0x45",
//  "address":32,"read":234,"expected":69}
Event MismatchEvent(uint64_t address, unsigned read, unsigned expected);
// The byte mismatches that one of the library's verify messages tells: the
// whole-image jobs compare 16-bit words ("ERROR: word 0x10 read as 0x3ea
// instead of 0xe145" is about the bytes 0x20 and 0x21, low byte first), one
// event for each of its bytes that differs; the range jobs' byte message is
// one. Empty for any other text.
std::vector<Event> MismatchEvents(std::string_view message);
// Something the user should know that is not an error:
// {"event":"note","text":"the image does not carry the geometry header, ..."}
Event NoteEvent(std::string_view text);
// A command that succeeded: {"event":"result","command":"program","ok":true,"exitCode":0};
// commands add their own keys after these.
Event ResultEvent(std::string_view command);
// A command that failed: {"event":"error","message":...,"exitCode":N}
Event ErrorEvent(std::string_view message, int exitCode);

Event VersionEvent(std::string_view tool, std::string_view library);
Event PortEvent(std::string_view name);
// A row of the table of parts: {"event":"part","name":"24c256","aliases":[...],"bytes":N,"sizeBits":S,
// "blockBits":B,"addressBytes":A,"pageBytes":smallest,"pageBytesMax":largest,"readsRollAtBlockEnd":bool,
// "writeCycleMs":longest,"unconfirmed":bool,"sources":"..."}
Event PartEvent(const PartGeometry &part);
// The geometry as "part" ("" for none), "bytes", "sizeBits", "blockBits".
void AddGeometry(Event &event, const Geometry &geometry);
// {"event":"info","link":...,"deviceAddress":"0xa0","header":bool, geometry..., "pageBytes":N}
// (pageBytes 0: byte writes)
Event InfoEvent(std::string_view link, unsigned deviceAddress, bool header,
                const std::optional<Geometry> &geometry, int pageBytes);
// {"event":"header", geometry...}
Event HeaderEvent(const Geometry &geometry);

// What the bus reads showed: {"event":"detect","answering":["0xa0",...],"addressBytes":A,"bytes":N,
// "candidates":[...],"sure":bool,"note":"..."} (addressBytes and bytes 0: the reads cannot tell)
Event DetectEvent(const Detection &detection);

// "0xa0": lowercase hexadecimal, at least two digits.
std::string HexByte(unsigned value);

} // namespace zelprog
