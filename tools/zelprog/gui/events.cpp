#include "gui/events.h"

#include "gui/guard.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <deque>

namespace zelprog::gui {

namespace asio = boost::asio;
namespace beast = boost::beast;

// One page's stream: frames are written one after another from a queue; a
// read that never expects data tells when the page has gone.
class EventStream : public std::enable_shared_from_this<EventStream> {
public:
    EventStream(beast::tcp_stream stream, EventHub &hub) : stream_(std::move(stream)), hub_(hub) {
        stream_.expires_never();
    }

    void Start(std::string head) {
        Send(std::move(head));
        WatchForClose();
    }

    void Send(std::string frame) {
        queue_.push_back(std::move(frame));
        if (queue_.size() == 1)
            WriteNext();
    }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

private:
    void WriteNext() {
        asio::async_write(stream_, asio::buffer(queue_.front()),
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (ec) {
                                  self->Ended();
                                  return;
                              }
                              self->queue_.pop_front();
                              if (!self->queue_.empty())
                                  self->WriteNext();
                          });
    }

    void WatchForClose() {
        stream_.async_read_some(
            asio::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, std::size_t) {
                if (ec)
                    self->Ended();
                else
                    self->WatchForClose(); // a page sends nothing on this connection; ignore what comes
            });
    }

    void Ended() {
        if (ended_)
            return;
        ended_ = true;
        Close();
        hub_.Remove(this);
    }

    beast::tcp_stream stream_;
    EventHub &hub_;
    std::deque<std::string> queue_;
    char scratch_[64];
    bool ended_ = false;
};

namespace {

std::string Frame(const Event &event) { return "data: " + event.dump() + "\n\n"; }

std::string Head(const Request &request) {
    http::response<http::empty_body> head{http::status::ok, request.version()};
    head.set(http::field::server, "zelprog");
    head.set(http::field::content_type, "text/event-stream");
    head.set(http::field::cache_control, "no-store");
    head.keep_alive(false);
    std::ostringstream text;
    text << head.base();
    return text.str();
}

} // namespace

void EventHub::Attach(beast::tcp_stream stream, const Request &request) {
    auto page = std::make_shared<EventStream>(std::move(stream), *this);
    streams_.push_back(page);
    page->Start(Head(request));
    if (controller_ == nullptr) {
        controller_ = page;
        controllerId_ = NewToken();
        page->Send(Frame({{"event", "hello"}, {"control", true}, {"page", controllerId_}}));
    } else {
        page->Send(Frame({{"event", "hello"},
                          {"control", false},
                          {"text", "This EEPROM is in use by another page of this zelprog gui. Close that page to "
                                   "take control here."}}));
    }
}

void EventHub::Remove(const EventStream *stream) {
    std::erase_if(streams_, [stream](const std::shared_ptr<EventStream> &s) { return s.get() == stream; });
    if (controller_.get() != stream)
        return;
    controller_.reset();
    controllerId_.clear();
    Send({{"event", "free"}, {"text", "The page that had control has gone: reload to take control."}});
}

bool EventHub::HasControl(std::string_view pageId) const {
    return controller_ != nullptr && SameSecret(pageId, controllerId_);
}

void EventHub::Publish(Event event) {
    asio::post(io_, [this, event = std::move(event)] { Send(event); });
}

void EventHub::Send(const Event &event) {
    const std::string frame = Frame(event);
    for (const auto &stream : streams_)
        stream->Send(frame);
}

void EventHub::CloseAll() {
    for (const auto &stream : streams_)
        stream->Close();
    streams_.clear();
    controller_.reset();
}

} // namespace zelprog::gui
