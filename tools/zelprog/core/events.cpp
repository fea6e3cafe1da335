#include "core/events.h"

#include <cmath>
#include <cstdio>

namespace zelprog {
namespace {

Event Named(std::string_view kind)
{
    Event event;
    event["event"] = kind;
    return event;
}

double Tenths(double value) { return std::isfinite(value) ? std::round(value * 10.0) / 10.0 : 0.0; }

} // namespace

std::string HexByte(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

Event StateEvent(std::string_view state)
{
    Event event = Named("state");
    event["state"] = state;
    return event;
}

Event ProgressEvent(std::string_view state, int percent, double bytesPerSecond, double secondsLeft)
{
    Event event = Named("progress");
    event["state"] = state;
    event["percent"] = percent;
    event["bytesPerSecond"] = Tenths(bytesPerSecond);
    event["secondsLeft"] = Tenths(secondsLeft);
    return event;
}

Event MessageEvent(std::string_view text)
{
    Event event = Named("message");
    event["text"] = text;
    return event;
}

Event NoteEvent(std::string_view text)
{
    Event event = Named("note");
    event["text"] = text;
    return event;
}

Event ResultEvent(std::string_view command)
{
    Event event = Named("result");
    event["command"] = command;
    event["ok"] = true;
    event["exitCode"] = 0;
    return event;
}

Event ErrorEvent(std::string_view message, int exitCode)
{
    Event event = Named("error");
    event["message"] = message;
    event["exitCode"] = exitCode;
    return event;
}

Event VersionEvent(std::string_view tool, std::string_view library)
{
    Event event = Named("version");
    event["tool"] = tool;
    event["library"] = library;
    return event;
}

Event PortEvent(std::string_view name)
{
    Event event = Named("port");
    event["name"] = name;
    return event;
}

void AddGeometry(Event &event, const Geometry &g)
{
    event["part"] = PartNameOf(g);
    event["bytes"] = static_cast<int64_t>(g.Bytes());
    event["sizeBits"] = g.sizeBits;
    event["blockBits"] = g.blockBits;
}

Event InfoEvent(std::string_view link, unsigned deviceAddress, bool header, const std::optional<Geometry> &geometry,
                int pageBytes)
{
    Event event = Named("info");
    event["link"] = link;
    event["deviceAddress"] = HexByte(deviceAddress);
    event["header"] = header;
    if (geometry)
        AddGeometry(event, *geometry);
    event["pageBytes"] = pageBytes;
    return event;
}

Event HeaderEvent(const Geometry &geometry)
{
    Event event = Named("header");
    AddGeometry(event, geometry);
    return event;
}

} // namespace zelprog
