#include "gui/production.h"

#include "formats/image.h"

#include <filesystem>

namespace zelprog::gui {
namespace {

constexpr int kPollMs = 200;

} // namespace

Production::~Production() {
    Stop();
    if (follower_.joinable())
        follower_.join();
}

nlohmann::json Production::State() const {
    return {{"sites", setup_.sites},
            {"serial", setup_.serial},
            {"image", std::filesystem::path(setup_.imageFile).filename().string()},
            {"records", setup_.ledger.has_value()},
            {"running", Running()}};
}

bool Production::Running() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return running_;
}

Status Production::Start(const Bytes *uploaded) {
    if (setup_.sites.empty())
        return Status::Fail(kExitUsage, "no sites were named on the command line (zelprog gui --site LINK ...)");
    if (uploaded == nullptr && setup_.imageFile.empty())
        return Status::Fail(kExitUsage, "no image was named on the command line: upload the buffer's");
    if (uploaded != nullptr && uploaded->empty())
        return Status::Fail(kExitUsage, "the buffer is empty");
    if (Running())
        return Status::Fail(kExitJobFailed, "the sites are running already");
    if (follower_.joinable())
        follower_.join();
    std::string image = setup_.imageFile, error;
    if (uploaded != nullptr) {
        std::filesystem::path dir;
        if (!os::RuntimeDirectory(dir, error))
            return Status::Fail(kExitFile, error);
        uploaded_ = dir / ("production-" + std::to_string(os::ProcessId()) + ".bin");
        if (!os::WritePrivateFile(uploaded_, std::string(uploaded->begin(), uploaded->end()), error))
            return Status::Fail(kExitFile, "the image could not be kept for the sites: " + error);
        image = uploaded_.string();
    }
    auto gang = std::make_unique<os::ChildProcess>();
    if (!gang->Start(setup_.command(image, uploaded != nullptr), error))
        return Status::Fail(kExitFile, "the sites could not be started: " + error);
    {
        std::lock_guard<std::mutex> hold(mutex_);
        gang_ = std::move(gang);
        running_ = true;
    }
    gang_->CloseInput();
    follower_ = std::thread([this] { Follow(); });
    return {};
}

void Production::Stop() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (running_)
        gang_->Stop();
}

// The gang's events as it prints them; its closing error is told in the
// "gang" event that ends the run, so that no page takes it for a job's.
void Production::Forward(const std::string &line, std::string &failure) {
    Event event = Event::parse(line, nullptr, false);
    if (!event.is_object())
        return;
    if (event.value("event", "") == "error") {
        failure = event.value("message", "");
        return;
    }
    hub_.Publish(std::move(event));
}

void Production::Follow() {
    std::string pending, failure;
    std::vector<bool> ready;
    for (bool more = true; more;) {
        os::WaitForOutput({gang_->Output()}, kPollMs, ready);
        if (!ready[0])
            continue;
        more = gang_->Receive(pending);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
            Forward(pending.substr(0, end), failure);
    }
    const int exitCode = gang_->Wait();
    if (!uploaded_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(uploaded_, ignored);
    }
    Event end;
    end["event"] = "gang";
    end["exitCode"] = exitCode;
    end["message"] = failure;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        running_ = false;
    }
    hub_.Publish(std::move(end));
}

Status Production::Records(const RecordFilter &filter, nlohmann::json &out) const {
    if (!setup_.ledger)
        return Status::Fail(kExitUsage,
                            "no serial numbers were set up on the command line, so there are no records");
    std::vector<UnitRecord> records;
    const Status status = MakeLedger(*setup_.ledger, {})->Records(filter, records);
    if (!status.Ok())
        return status;
    out = nlohmann::json::array();
    for (const UnitRecord &record : records)
        out.push_back(nlohmann::json::parse(RecordJson(record)));
    return {};
}

} // namespace zelprog::gui
