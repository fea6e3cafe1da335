// The supervisor of a gang: starts a worker a site, hands each ready worker
// its next unit's serial number, settles every number in the ledger and
// keeps the other sites going when one fails or dies.
#include "cli/gang.h"

#include "cli/gang_view.h"
#include "cli/plan.h"
#include "cli/serial_use.h"
#include "cli/text.h"
#include "core/ledger.h"
#include "core/os.h"
#include "core/sha256.h"
#include "formats/line_reader.h"

#include <chrono>
#include <deque>
#include <memory>
#include <optional>

namespace zelprog {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 100;                         // how often a stop request is looked at
constexpr auto kStopGrace = std::chrono::seconds(5); // a stopped job ends well within this, else it is killed

struct Site {
    SiteView view;
    os::ChildProcess worker;
    std::string pending;            // output that is not yet a whole line
    std::optional<SerialValue> out; // the number it is writing
    std::string outSince;           // when that write began (UTC)
    Clock::time_point began;
    int unitsLeft = 0;
    int mismatches = 0;   // bytes that the unit's verify found different
    std::string ranges;   // what the unit's write covered, as its worker tells
    std::string failure;  // the worker's error message
    bool writing = false; // a unit line was sent and its end not yet seen
    bool ended = false;
};

// The global link options that apply to every site.
std::vector<std::string> LinkArguments(const LinkOptions &l) {
    std::vector<std::string> args;
    const std::pair<const char *, const std::string *> texts[] = {{"--pio", &l.pio}, {"--part", &l.part}};
    for (const auto &[option, value] : texts)
        if (!value->empty())
            args.insert(args.end(), {option, *value});
    const std::pair<const char *, int> numbers[] = {
        {"--size-bits", l.sizeBits}, {"--block-bits", l.blockBits}, {"--page-size", l.pageSize}};
    for (const auto &[option, value] : numbers)
        if (value >= 0)
            args.insert(args.end(), {option, std::to_string(value)});
    if (l.byteWrites)
        args.push_back("--byte-writes");
    return args;
}

std::vector<std::string> WorkerArguments(const Command &c, const std::filesystem::path &self,
                                         const std::string &link) {
    std::vector<std::string> args = {self.string(), "--json", "--link", link};
    const std::vector<std::string> shared = LinkArguments(c.link);
    args.insert(args.end(), shared.begin(), shared.end());
    args.insert(args.end(), {"gang-worker", c.image.file});
    if (c.image.format)
        args.insert(args.end(), {"--format", FormatName(*c.image.format)});
    if (c.image.pad)
        args.push_back("--pad");
    if (c.range.offset)
        args.insert(args.end(), {"--offset", std::to_string(*c.range.offset)});
    if (c.range.length)
        args.insert(args.end(), {"--length", std::to_string(*c.range.length)});
    if (!c.verify)
        args.push_back("--no-verify");
    if (c.serial.at)
        args.insert(args.end(), {"--serial-at", std::to_string(*c.serial.at)});
    return args;
}

class Supervisor {
public:
    // `raw`: the image file's bytes, for the records.
    Supervisor(const Command &c, const GangOptions &gang, const std::string &raw, GangView &view)
        : c_(c), gang_(gang), view_(view), imageSha256_(c.serial.at ? Sha256Hex(raw) : "") {}

    Status Run() {
        Status status = Start();
        if (status.Ok())
            Follow();
        view_.Summary(summary_);
        if (!halted_.Ok())
            return halted_;
        if (stopping_)
            return Status::Fail(kExitInterrupted, "interrupted: the sites were stopped; every number is settled");
        if (summary_.failed > 0)
            return Status::Fail(kExitJobFailed, std::to_string(summary_.failed) + " of " +
                                                    std::to_string(summary_.failed + summary_.passed) +
                                                    " units failed");
        return status;
    }

private:
    Status Start() {
        if (c_.serial.at) {
            ledger_ = MakeLedger(c_.serial.Ledger(), {[this](const Event &e) { view_.Note(e.value("text", "")); },
                                                      [] { return os::Interrupted(); }});
            const Status status = ledger_->Open();
            if (!status.Ok())
                return status;
        }
        std::filesystem::path self;
        std::string error;
        if (!os::SelfPath(self, error))
            return Status::Fail(kExitUsage, error);
        for (std::size_t i = 0; i < gang_.sites.size(); ++i) {
            Site &site = sites_.emplace_back();
            site.view = view_.Site(static_cast<int>(i + 1));
            site.unitsLeft = gang_.units;
            if (!site.worker.Start(WorkerArguments(c_, self, gang_.sites[i]), error)) {
                site.ended = true;
                Fail(site, error);
            }
            site.view.pid = site.worker.Id();
        }
        return {};
    }

    void Follow() {
        std::vector<intptr_t> outputs;
        std::vector<Site *> live;
        std::vector<bool> ready;
        for (;;) {
            if (os::Interrupted() && !stopping_)
                StopAll();
            if (stopping_ && !killed_ && Clock::now() > stopDeadline_) {
                for (Site &site : sites_)
                    if (!site.ended)
                        site.worker.Kill();
                killed_ = true;
            }
            outputs.clear();
            live.clear();
            for (Site &site : sites_)
                if (!site.ended) {
                    outputs.push_back(site.worker.Output());
                    live.push_back(&site);
                }
            if (live.empty())
                return;
            os::WaitForOutput(outputs, kPollMs, ready);
            for (std::size_t i = 0; i < live.size(); ++i)
                if (ready[i])
                    Receive(*live[i]);
        }
    }

    void Receive(Site &site) {
        const bool more = site.worker.Receive(site.pending);
        for (std::size_t end; (end = site.pending.find('\n')) != std::string::npos;) {
            const std::string line = site.pending.substr(0, end);
            site.pending.erase(0, end + 1);
            OnLine(site, line);
        }
        if (!more)
            OnEnd(site);
    }

    void OnLine(Site &site, const std::string &line) {
        const Event event = Event::parse(line, nullptr, false);
        if (!event.is_object())
            return;
        const std::string kind = event.value("event", "");
        if (kind == "ready")
            NextUnit(site);
        else if (kind == "written") {
            site.ranges = event.value("ranges", "");
            Settle(site, "written", "");
        } else {
            if (kind == "progress" || kind == "state") {
                site.view.step = event.value("state", "");
                site.view.percent = event.value("percent", 0);
                Show(site);
            } else if (kind == "message" && event.contains("address")) {
                ++site.mismatches;
            } else if (kind == "error") {
                site.failure = event.value("message", "");
            }
            view_.Forward(site.view.site, event);
        }
    }

    void NextUnit(Site &site) {
        if (stopping_ || !halted_.Ok() || site.unitsLeft == 0) {
            site.worker.CloseInput();
            site.view.state = site.view.state == "starting" ? "done" : site.view.state;
            return Show(site);
        }
        std::string line = "-";
        if (ledger_) {
            SerialValue value;
            Status status = ledger_->Reserve(site.view.link, value);
            if (status.Ok()) {
                status = ledger_->Sending(value);
                if (!status.Ok()) {
                    const Status back = ledger_->GiveBack(value, status.message);
                    summary_.givenBack.push_back(value.text);
                    status = back.Ok() ? status : back;
                }
            }
            if (!status.Ok())
                return Halt(status);
            site.out = value;
            line = BytesText(value.bytes);
        }
        --site.unitsLeft;
        site.writing = true;
        site.mismatches = 0;
        site.ranges.clear();
        site.failure.clear();
        site.outSince = UtcNow();
        site.began = Clock::now();
        site.view.state = "writing";
        site.view.serial = site.out ? site.out->text : "";
        site.view.step.clear();
        site.view.percent = 0;
        Show(site);
        if (!site.worker.Send(line + "\n"))
            site.failure = "the site's worker did not take its unit";
    }

    // The end of the site's unit: "written", or why it failed.
    void Settle(Site &site, const std::string &result, const std::string &reason) {
        site.writing = false;
        const bool passed = result == "written";
        if (site.out) {
            const std::string why = reason + " (the unit may hold it)";
            const Status status =
                passed ? ledger_->Written(*site.out, Where(site.out->bytes)) : ledger_->Lose(*site.out, why);
            (passed ? summary_.written : summary_.lost).push_back(site.out->text);
            Record(site, passed ? "written" : "lost", passed ? "" : reason);
            site.out.reset();
            if (!status.Ok())
                Halt(status);
        }
        ++(passed ? summary_.passed : summary_.failed);
        ++(passed ? site.view.passed : site.view.failed);
        site.view.last = passed ? "passed" : reason;
        site.view.state = passed ? "passed" : stopping_ ? "stopped" : "failed";
        site.view.percent = passed ? 100 : site.view.percent;
        Show(site);
    }

    void Record(const Site &site, const std::string &result, const std::string &reason) {
        UnitRecord record;
        record.time = site.outSince;
        record.station = c_.serial.station.empty() ? os::HostName() : c_.serial.station;
        record.site = site.view.link;
        record.serial = site.out->text;
        record.where = Where(site.out->bytes);
        record.image = ImageName(c_.image.file);
        record.imageSha256 = imageSha256_;
        record.ranges = site.ranges;
        record.result = result;
        record.reason = reason;
        record.durationMs = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - site.began).count());
        record.mismatches = static_cast<uint64_t>(site.mismatches);
        const Status status = ledger_->Record(record);
        if (!status.Ok())
            Halt(status);
    }

    std::string Where(const Bytes &bytes) const {
        const std::string form = c_.serial.list.empty() ? SerialEncodingName(c_.serial.format.encoding) : "list";
        return "at 0x" + ToHex(*c_.serial.at) + " (" + form + ", " + std::to_string(bytes.size()) +
               " bytes: " + BytesText(bytes) + ")";
    }

    void OnEnd(Site &site) {
        const int exitCode = site.worker.Wait();
        site.ended = true;
        if (site.writing || exitCode != 0)
            Fail(site, site.failure.empty() ? "its worker ended " + ExitText(exitCode) : site.failure);
        else if (site.view.state != "failed") {
            site.view.state = "done";
            Show(site);
        }
    }

    void Fail(Site &site, const std::string &reason) {
        if (site.writing)
            return Settle(site, "failed", reason);
        if (stopping_) {
            site.view.state = "stopped"; // between units: nothing failed
            return Show(site);
        }
        // the site failed before it could take a unit
        ++summary_.failed;
        ++site.view.failed;
        site.view.last = reason;
        site.view.state = "failed";
        Show(site);
    }

    static std::string ExitText(int exitCode) {
        return exitCode > 128 ? "by signal " + std::to_string(exitCode - 128)
                              : "with exit code " + std::to_string(exitCode);
    }

    void StopAll() {
        stopping_ = true;
        stopDeadline_ = Clock::now() + kStopGrace;
        for (Site &site : sites_)
            if (!site.ended) {
                site.worker.CloseInput();
                site.worker.Stop();
            }
    }

    // The ledger failed: no new unit starts, the running ones end.
    void Halt(const Status &status) {
        if (halted_.Ok())
            halted_ = status;
        for (Site &site : sites_)
            if (!site.ended && !site.writing)
                site.worker.CloseInput();
    }

    void Show(const Site &site) { view_.Changed(site.view); }

    const Command &c_;
    const GangOptions &gang_;
    GangView &view_;
    const std::string imageSha256_;
    std::unique_ptr<Ledger> ledger_;
    std::deque<Site> sites_; // a deque: a site never moves, its worker with it
    GangSummary summary_;
    Status halted_;
    bool stopping_ = false, killed_ = false;
    Clock::time_point stopDeadline_;
};

} // namespace

std::vector<std::string> GangCommandLine(const Command &c, const std::vector<std::string> &sites,
                                         const std::string &image, bool binary) {
    std::filesystem::path self;
    std::string error;
    os::SelfPath(self, error);
    std::vector<std::string> args = {self.string(), "--json"};
    const std::vector<std::string> shared = LinkArguments(c.link);
    args.insert(args.end(), shared.begin(), shared.end());
    args.insert(args.end(), {"gang", image});
    if (binary)
        args.insert(args.end(), {"--format", "bin"});
    const SerialOptions &s = c.serial;
    if (s.at) {
        args.insert(args.end(),
                    {"--serial-at", std::to_string(*s.at), "--width", std::to_string(s.format.width), "--encoding",
                     SerialEncodingName(s.format.encoding), "--step", std::to_string(s.counter.step)});
        if (!s.counter.file.empty())
            args.insert(args.end(), {"--counter", s.counter.file.string()});
        if (!s.list.empty())
            args.insert(args.end(), {"--serial-list", s.list.string()});
        if (!s.station.empty())
            args.insert(args.end(), {"--station", s.station});
        std::error_code ec;
        if (s.counter.first && !std::filesystem::exists(s.counter.file, ec))
            args.insert(args.end(), {"--first", std::to_string(*s.counter.first)}); // the first run starts it
    }
    for (const std::string &site : sites)
        args.insert(args.end(), {"--site", site});
    return args;
}

Status RunGang(const Command &c, const GangOptions &gang) {
    if (!os::CanStartChildren())
        return Status::Fail(kExitUsage, "gang needs worker processes, which this Windows build cannot start: run "
                                        "one zelprog program a site instead");
    if (gang.sites.empty())
        return Status::Fail(kExitUsage, "gang needs at least one --site LINK");
    if (!c.link.link.empty() || !c.link.transport.empty())
        return Status::Fail(kExitUsage, "gang takes its links from --site, not from --link or --transport");
    if (c.image.file == "-")
        return Status::Fail(kExitUsage, "gang reads the image from a file, not from standard input");
    if (c.serial.at && !c.verify)
        return Status::Fail(kExitUsage, "a serial number is always verified: leave out --no-verify");
    std::string raw;
    Status status = ReadImageFile(c, raw); // a file error before any site starts
    if (status.Ok() && c.serial.at)
        status = CheckLedgerOptions(c.serial.Ledger());
    if (!status.Ok())
        return status;
    os::InstallTerminateHandler();
    os::IgnoreBrokenPipe();
    std::vector<SiteView> sites;
    for (std::size_t i = 0; i < gang.sites.size(); ++i) {
        SiteView site;
        site.site = static_cast<int>(i + 1);
        site.link = gang.sites[i];
        sites.push_back(site);
    }
    GangView view(c.output, os::StdoutIsTerminal(), sites);
    return Supervisor(c, gang, raw, view).Run();
}

} // namespace zelprog
