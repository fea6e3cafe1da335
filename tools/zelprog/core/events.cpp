#include "core/events.h"

#include <cmath>
#include <cstdio>

namespace zelprog {
namespace {

Event Named(std::string_view kind) {
    Event event;
    event["event"] = kind;
    return event;
}

double Tenths(double value) { return std::isfinite(value) ? std::round(value * 10.0) / 10.0 : 0.0; }

} // namespace

std::string HexByte(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

Event StateEvent(std::string_view state) {
    Event event = Named("state");
    event["state"] = state;
    return event;
}

Event ProgressEvent(std::string_view state, int percent, double bytesPerSecond, double secondsLeft) {
    Event event = Named("progress");
    event["state"] = state;
    event["percent"] = percent;
    event["bytesPerSecond"] = Tenths(bytesPerSecond);
    event["secondsLeft"] = Tenths(secondsLeft);
    return event;
}

Event MessageEvent(std::string_view text) {
    Event event = Named("message");
    event["text"] = text;
    return event;
}

Event MismatchEvent(uint64_t address, unsigned read, unsigned expected) {
    char text[96];
    std::snprintf(text, sizeof text, "ERROR: byte 0x%llx read as 0x%x instead of 0x%x",
                  static_cast<unsigned long long>(address), read, expected);
    Event event = MessageEvent(text);
    event["address"] = address;
    event["read"] = read;
    event["expected"] = expected;
    return event;
}

std::vector<Event> MismatchEvents(std::string_view message) {
    const std::string text(message);
    char unit[8] = {};
    unsigned long long index = 0;
    unsigned read = 0, expected = 0;
    int end = 0;
    if (std::sscanf(text.c_str(), "ERROR: %5s 0x%llx read as 0x%x instead of 0x%x%n", unit, &index, &read,
                    &expected, &end) != 4 ||
        static_cast<std::size_t>(end) != text.size())
        return {};
    const std::string_view kind = unit;
    if (kind == "byte" && read <= 0xFF && expected <= 0xFF)
        return {MismatchEvent(index, read, expected)};
    if (kind != "word" || read > 0xFFFF || expected > 0xFFFF)
        return {};
    std::vector<Event> events;
    for (unsigned shift : {0u, 8u})
        if ((read >> shift & 0xFF) != (expected >> shift & 0xFF))
            events.push_back(MismatchEvent(2 * index + shift / 8, read >> shift & 0xFF, expected >> shift & 0xFF));
    return events;
}

Event NoteEvent(std::string_view text) {
    Event event = Named("note");
    event["text"] = text;
    return event;
}

Event ResultEvent(std::string_view command) {
    Event event = Named("result");
    event["command"] = command;
    event["ok"] = true;
    event["exitCode"] = 0;
    return event;
}

Event ErrorEvent(std::string_view message, int exitCode) {
    Event event = Named("error");
    event["message"] = message;
    event["exitCode"] = exitCode;
    return event;
}

Event VersionEvent(std::string_view tool, std::string_view library) {
    Event event = Named("version");
    event["tool"] = tool;
    event["library"] = library;
    return event;
}

Event PortEvent(std::string_view name) {
    Event event = Named("port");
    event["name"] = name;
    return event;
}

Event PartEvent(const PartGeometry &p) {
    Event event = Named("part");
    event["name"] = p.name;
    event["aliases"] = p.aliases;
    event["bytes"] = std::size_t{1} << p.sizeBits;
    event["sizeBits"] = p.sizeBits;
    event["blockBits"] = p.blockBits;
    event["addressBytes"] = p.addressBytes;
    event["pageBytes"] = p.pageBytes;
    event["pageBytesMax"] = p.pageBytesMax;
    event["readsRollAtBlockEnd"] = p.readsRollAtBlockEnd;
    event["writeCycleMs"] = p.writeCycleMs;
    event["unconfirmed"] = p.unconfirmed;
    event["sources"] = p.sources;
    return event;
}

void AddGeometry(Event &event, const Geometry &g) {
    event["part"] = PartNameOf(g);
    event["bytes"] = static_cast<int64_t>(g.Bytes());
    event["sizeBits"] = g.sizeBits;
    event["blockBits"] = g.blockBits;
}

Event InfoEvent(std::string_view link, unsigned deviceAddress, bool header,
                const std::optional<Geometry> &geometry, int pageBytes) {
    Event event = Named("info");
    event["link"] = link;
    event["deviceAddress"] = HexByte(deviceAddress);
    event["header"] = header;
    if (geometry)
        AddGeometry(event, *geometry);
    event["pageBytes"] = pageBytes;
    return event;
}

Event HeaderEvent(const Geometry &geometry) {
    Event event = Named("header");
    AddGeometry(event, geometry);
    return event;
}

Event DetectEvent(const Detection &d) {
    Event event = Named("detect");
    event["answering"] = Event::array();
    for (unsigned device : d.answering)
        event["answering"].push_back(HexByte(device));
    event["addressBytes"] = d.addressBytes;
    event["bytes"] = d.bytes;
    event["candidates"] = d.candidates;
    event["sure"] = d.sure;
    event["note"] = d.note;
    return event;
}

} // namespace zelprog
