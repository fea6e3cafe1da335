// The EEPROM as the page drives it: one link session and at most one job
// at a time. Jobs run on a thread of their own through zelprog's job runner,
// so the page hears exactly the events that `zelprog --json` prints for the
// same job; the server's thread stays free to answer requests meanwhile.
#pragma once

#include "core/session.h"
#include "formats/image.h"
#include "gui/events.h"

#include <boost/asio/io_context.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace zelprog::gui {

struct OpenRequest {
    LinkOptions link; // pageSize and byteWrites say how writes go
};

class Device {
public:
    Device(boost::asio::io_context &io, EventHub &hub);
    ~Device(); // stops a running job and waits for it
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // All below on the server's thread.
    nlohmann::json State() const;
    Status Open(const OpenRequest &request);
    Status Close();

    // Each starts a job, or refuses with a Status naming why; a refusal
    // changes nothing, the running job's data included.
    Status StartRead();
    Status StartWrite(Bytes image);
    Status StartVerify(Bytes image);
    Status StartErase(uint8_t fill);
    Status StartCheckSize();
    Status StartWriteHeader();
    Status StartDetect(); // bus reads alone: tells a "detect" event, writes nothing
    void Stop();

    bool Busy() const { return job_.joinable(); }
    std::size_t Size() const; // 0 while closed
    // The EEPROM's contents as the last read saw them (empty before any).
    const Bytes &Chip() const { return chip_; }

private:
    using Work = std::function<Status(Session &, const JobControl &)>;

    Status Startable() const;
    Status ImageFits(const Bytes &image) const;
    Status Start(std::string command, Work work, std::function<void(bool ok)> after = {});
    void Finished(const std::string &command, const Status &status, const std::function<void(bool)> &after);

    boost::asio::io_context &io_;
    EventHub &hub_;
    std::unique_ptr<Session> session_; // used by the job's thread while a job runs, else by the server's
    std::thread job_;
    std::atomic<bool> stop_{false};
    Bytes chip_;          // server thread only; a job's own image is held by the job alone
    nlohmann::json link_; // what the page is shown of the open link
};

} // namespace zelprog::gui
