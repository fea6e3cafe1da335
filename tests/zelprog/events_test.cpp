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

TEST(Events, EachKindPrintsItsKeysInOrder) {
    Event serial = ResultEvent("serial");
    serial["serial"] = 1234;
    const std::vector<EventCase> cases = {
        {"state", StateEvent("Writing..."), R"({"event":"state","state":"Writing..."})"},
        {"progress rounded to tenths", ProgressEvent("Reading...", 40, 1234.56, 0.04),
         R"({"event":"progress","state":"Reading...","percent":40,"bytesPerSecond":1234.6,"secondsLeft":0.0})"},
        {"progress of no known rate",
         ProgressEvent("Reading...", 0, std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::quiet_NaN()),
         R"({"event":"progress","state":"Reading...","percent":0,"bytesPerSecond":0.0,"secondsLeft":0.0})"},
        {"message escaped", MessageEvent("a \"quoted\"\tword\n"),
         R"({"event":"message","text":"a \"quoted\"\tword\n"})"},
        {"result with a key of its command", serial,
         R"({"event":"result","command":"serial","ok":true,"exitCode":0,"serial":1234})"},
        {"error", ErrorEvent("cannot open 'x'", 4),
         R"({"event":"error","message":"cannot open 'x'","exitCode":4})"},
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

struct MismatchCase {
    const char *message;
    std::vector<std::string> lines; // the events' lines
};

TEST(Events, TheLibrarysVerifyMessagesBecomeOneMismatchForEachByteByItsAddress) {
    const std::vector<MismatchCase> cases = {
        {"ERROR: word 0x10 read as 0x3ea instead of 0xe145",
         {R"({"event":"message","text":"ERROR: byte 0x20 read as 0xea instead of 0x45","address":32,"read":234,"expected":69})",
          R"({"event":"message","text":"ERROR: byte 0x21 read as 0x3 instead of 0xe1","address":33,"read":3,"expected":225})"}},
        {"ERROR: word 0x0 read as 0x12ff instead of 0x34ff",
         {R"({"event":"message","text":"ERROR: byte 0x1 read as 0x12 instead of 0x34","address":1,"read":18,"expected":52})"}},
        {"ERROR: byte 0x7fff read as 0x0 instead of 0xff",
         {R"({"event":"message","text":"ERROR: byte 0x7fff read as 0x0 instead of 0xff","address":32767,"read":0,"expected":255})"}},
        {"ERROR: the EEPROM did not finish its write cycle within 20 ms", {}},
        {"ERROR: word 0x10 read as 0x3ea instead of 0xe145 and more", {}},
        {"ERROR: byte 0x10 read as 0x100 instead of 0x1", {}},
    };
    for (const MismatchCase &c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> lines;
        for (const Event &event : MismatchEvents(c.message))
            lines.push_back(event.dump());
        EXPECT_EQ(lines, c.lines);
    }
}

} // namespace
} // namespace zelprog
