// The event schema that `zelprog --json` prints and the GUI streams: the
// kind first, then the keys in a fixed order, texts escaped.
#include "core/events.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace zelprog {
namespace {

struct EventCase {
    const char *name;
    Event event;
    const char *line;
};

TEST(Events, EachKindPrintsItsKeysInOrder)
{
    Event serial = ResultEvent("serial");
    serial["serial"] = 1234;
    const std::vector<EventCase> cases = {
        {"state", StateEvent("Writing..."), R"({"event":"state","state":"Writing..."})"},
        {"progress rounded to tenths", ProgressEvent("Reading...", 40, 1234.56, 0.04),
         R"({"event":"progress","state":"Reading...","percent":40,"bytesPerSecond":1234.6,"secondsLeft":0.0})"},
        {"progress of no known rate", ProgressEvent("Reading...", 0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()),
         R"({"event":"progress","state":"Reading...","percent":0,"bytesPerSecond":0.0,"secondsLeft":0.0})"},
        {"message escaped", MessageEvent("a \"quoted\"\tword\n"), R"({"event":"message","text":"a \"quoted\"\tword\n"})"},
        {"result with a key of its command", serial,
         R"({"event":"result","command":"serial","ok":true,"exitCode":0,"serial":1234})"},
        {"error", ErrorEvent("cannot open 'x'", 4), R"({"event":"error","message":"cannot open 'x'","exitCode":4})"},
        {"info without geometry", InfoEvent("the link", 0xA0, false, std::nullopt, 0),
         R"({"event":"info","link":"the link","deviceAddress":"0xa0","header":false,"pageBytes":0})"},
        {"header of a known part", HeaderEvent(Geometry{11, 7}),
         R"({"event":"header","part":"24c16","bytes":2048,"sizeBits":11,"blockBits":7})"},
    };
    for (const EventCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.event.dump(), c.line);
    }
}

} // namespace
} // namespace zelprog
