#include "gui/device.h"

#include "core/detect.h"
#include "core/image_jobs.h"
#include "core/memory_jobs.h"
#include "core/parts.h"

#include <zelapi.h>

#include <boost/asio/post.hpp>

namespace zelprog::gui {

namespace {

Status Refused(std::string message) { return Status::Fail(kExitUsage, std::move(message)); }

} // namespace

Device::Device(boost::asio::io_context &io, EventHub &hub) : io_(io), hub_(hub) {}

Device::~Device() {
    stop_ = true;
    if (job_.joinable())
        job_.join();
}

std::size_t Device::Size() const {
    return session_ != nullptr && session_->GetGeometry() ? session_->GetGeometry()->Bytes() : 0;
}

nlohmann::json Device::State() const {
    nlohmann::json state = {{"open", session_ != nullptr}, {"busy", Busy()}, {"chipKnown", !chip_.empty()}};
    if (session_ != nullptr)
        state["link"] = link_;
    return state;
}

Status Device::Startable() const {
    if (Busy())
        return Refused("a job is running: wait for it or press Stop");
    if (session_ == nullptr)
        return Refused("no EEPROM is open: open the link first");
    return {};
}

Status Device::Open(const OpenRequest &request) {
    if (Busy())
        return Refused("a job is running: wait for it or press Stop");
    const int page = request.link.pageSize;
    if (page != -1 && (page < 2 || page > 256 || (page & (page - 1)) != 0))
        return Refused("the page size must be a power of two from 2 to 256");
    session_.reset(); // closes a link that was open
    chip_.clear();
    JobControl control{[this](const Event &event) { hub_.Publish(event); }, [this] { return stop_.load(); }};
    auto session = std::make_unique<Session>(request.link, std::move(control));
    stop_ = false;
    // Opening reads the geometry header, a matter of milliseconds: it runs
    // here, so that no request sees a half-open link.
    const Status status = session->Open(SizeNeed::Required);
    if (!status.Ok())
        return status;
    const Geometry g = *session->GetGeometry();
    link_ = {{"description", session->LinkDescription()},
             {"deviceAddress", HexByte(static_cast<unsigned>(zelGetDeviceAddress()))},
             {"part", PartNameOf(g)},
             {"bytes", g.Bytes()},
             {"sizeBits", g.sizeBits},
             {"blockBits", g.blockBits},
             {"pageSize", session->PageBytes()},
             {"pageSource", session->PageSource()},
             {"fromHeader", session->GeometryFromHeader()}};
    session_ = std::move(session);
    return {};
}

Status Device::Close() {
    if (Busy())
        return Refused("a job is running: wait for it or press Stop");
    session_.reset();
    chip_.clear();
    return {};
}

Status Device::Start(std::string command, Work work, std::function<void(bool)> after) {
    const Status startable = Startable();
    if (!startable.Ok())
        return startable;
    stop_ = false;
    job_ = std::thread([this, command = std::move(command), work = std::move(work), after = std::move(after)] {
        JobControl control{[this](const Event &event) { hub_.Publish(event); }, [this] { return stop_.load(); }};
        const Status status = work(*session_, control);
        boost::asio::post(io_, [this, command, status, after] { Finished(command, status, after); });
    });
    return {};
}

void Device::Finished(const std::string &command, const Status &status, const std::function<void(bool)> &after) {
    job_.join();
    if (after)
        after(status.Ok());
    hub_.Publish(status.Ok() ? ResultEvent(command) : ErrorEvent(status.message, status.code));
}

Status Device::StartRead() {
    auto read = std::make_shared<Bytes>();
    return Start(
        "dump",
        [read](Session &s, const JobControl &c) {
            return ReadRange(0, static_cast<uint32_t>(s.GetGeometry()->Bytes()), *read, c);
        },
        [this, read](bool ok) {
            if (ok)
                chip_ = std::move(*read);
        });
}

Status Device::ImageFits(const Bytes &image) const {
    if (image.size() == Size())
        return {};
    return Refused("the image holds " + std::to_string(image.size()) + " bytes, the EEPROM " +
                   std::to_string(Size()));
}

Status Device::StartWrite(Bytes bytes) {
    if (Status s = Startable(); !s.Ok())
        return s;
    if (Status s = ImageFits(bytes); !s.Ok())
        return s;
    auto image = std::make_shared<const Bytes>(std::move(bytes));
    return Start(
        "program", [image](Session &s, const JobControl &c) { return ProgramImage(s, *image, true, c); },
        [this, image](bool ok) {
            chip_.clear(); // after a failed or stopped write nothing is known
            if (ok)
                chip_ = *image;
        });
}

Status Device::StartVerify(Bytes bytes) {
    if (Status s = Startable(); !s.Ok())
        return s;
    if (Status s = ImageFits(bytes); !s.Ok())
        return s;
    auto image = std::make_shared<const Bytes>(std::move(bytes));
    return Start(
        "verify", [image](Session &s, const JobControl &c) { return VerifyImage(s, *image, c); },
        [this, image](bool ok) {
            if (ok)
                chip_ = *image;
        });
}

Status Device::StartErase(uint8_t fill) {
    return Start(
        "clear", [fill](Session &s, const JobControl &c) { return ClearImage(s, fill, true, c); },
        [this, fill](bool ok) {
            chip_.clear();
            if (ok)
                chip_.assign(Size(), fill);
        });
}

Status Device::StartCheckSize() {
    return Start("check-size", [](Session &s, const JobControl &) {
        if (zelCheckSize() != 0)
            return Status{};
        return Status::Fail(kExitJobFailed,
                            "size check failed: the last byte of " + std::to_string(s.GetGeometry()->Bytes()) +
                                " cannot be changed and put back; the EEPROM is smaller, or write-protected");
    });
}

Status Device::StartWriteHeader() {
    return Start(
        "write-header",
        [](Session &, const JobControl &) {
            if (zelWriteHeader() != 0)
                return Status{};
            return Status::Fail(kExitJobFailed,
                                "writing the geometry header failed (is the EEPROM write-protected?)");
        },
        [this](bool ok) {
            if (ok)
                chip_.clear(); // the header's bytes changed
        });
}

Status Device::StartDetect() {
    return Start("detect", [](Session &, const JobControl &c) {
        Detection found;
        if (!Detect(found))
            return Status::Fail(kExitJobFailed, "a read failed while detecting: check the wiring");
        if (c.sink)
            c.sink(DetectEvent(found));
        return Status{};
    });
}

void Device::Stop() { stop_ = true; }

} // namespace zelprog::gui
