#include "core/serial.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>
#include <thread>

namespace zelprog {
namespace {

constexpr std::chrono::milliseconds kLockPoll{100};
constexpr std::chrono::seconds kLockPatience{60};

std::filesystem::path Beside(const std::filesystem::path &file, const char *suffix) {
    std::filesystem::path p = file;
    p += suffix;
    return p;
}

std::string Quoted(const std::filesystem::path &path) { return "'" + path.string() + "'"; }

bool ParseDecimal(const std::string &text, uint64_t &value) {
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || v > (UINT64_MAX - static_cast<unsigned>(c - '0')) / 10)
            return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    value = v;
    return true;
}

// What the counter file holds: the next number and, while a run writes
// some, the numbers it reserved and the size the log had when the oldest of
// them was reserved.
struct CounterState {
    uint64_t next = 0;
    std::vector<uint64_t> reserved;
    uint64_t logged = 0;
};

// "next N", "reserved N" (one line a number out), "logged BYTES"; '#' lines
// are comments.
bool ParseCounter(const std::string &text, CounterState &state) {
    std::istringstream lines(text);
    std::string line;
    bool haveNext = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t blank = line.find(' ');
        const std::string key = line.substr(0, blank);
        uint64_t value = 0;
        if (blank == std::string::npos || !ParseDecimal(line.substr(blank + 1), value))
            return false;
        if (key == "next" && !haveNext) {
            state.next = value;
            haveNext = true;
        } else if (key == "reserved") {
            state.reserved.push_back(value);
        } else if (key == "logged") {
            state.logged = value;
        } else {
            return false;
        }
    }
    return haveNext;
}

// The fate word ("written", "given", "lost") of each number that the log
// got a line for after its first `from` bytes; the last one of a number.
std::map<uint64_t, std::string> LogEntriesAfter(const std::filesystem::path &log, uint64_t from) {
    std::map<uint64_t, std::string> fates;
    std::ifstream in(log, std::ios::binary);
    if (!in || !in.seekg(static_cast<std::streamoff>(from)))
        return fates;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string time, text, fate;
        uint64_t number = 0;
        if (!(words >> time >> text >> fate) || !ParseDecimal(text, number))
            continue;
        if (!fate.empty() && fate.back() == ':')
            fate.pop_back();
        fates[number] = fate;
    }
    return fates;
}

uint64_t SizeOf(const std::filesystem::path &file) {
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(file, ec);
    return ec ? 0 : static_cast<uint64_t>(size);
}

Status DoesNotFit(const char *which, uint64_t value, const SerialFormat &format) {
    return Status::Fail(kExitUsage, std::string("the ") + which + " serial number, " + std::to_string(value) +
                                        ", does not fit " + std::to_string(format.width) + " bytes of " +
                                        SerialEncodingName(format.encoding) + ": nothing was written");
}

bool Fits(uint64_t value, int digits) {
    for (int i = 0; i < digits; ++i)
        value /= 10;
    return value == 0;
}

} // namespace

std::string UtcNow() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long long>(time.hours().count()), static_cast<long long>(time.minutes().count()),
                  static_cast<long long>(time.seconds().count()));
    return text;
}

std::optional<SerialEncoding> ParseSerialEncoding(std::string_view name) {
    if (name == "le")
        return SerialEncoding::LittleEndian;
    if (name == "be")
        return SerialEncoding::BigEndian;
    if (name == "ascii")
        return SerialEncoding::Ascii;
    if (name == "bcd")
        return SerialEncoding::Bcd;
    return std::nullopt;
}

const char *SerialEncodingName(SerialEncoding encoding) {
    switch (encoding) {
    case SerialEncoding::LittleEndian:
        return "le";
    case SerialEncoding::BigEndian:
        return "be";
    case SerialEncoding::Ascii:
        return "ascii";
    case SerialEncoding::Bcd:
        break;
    }
    return "bcd";
}

bool EncodeSerial(uint64_t value, const SerialFormat &format, Bytes &bytes) {
    const int width = format.width;
    if (width < 1 || width > kMaxSerialWidth)
        return false;
    Bytes out(static_cast<std::size_t>(width));
    switch (format.encoding) {
    case SerialEncoding::LittleEndian:
    case SerialEncoding::BigEndian:
        if (width < 8 && value >> (8 * width) != 0)
            return false;
        for (int i = 0; i < width; ++i)
            out[static_cast<std::size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
        if (format.encoding == SerialEncoding::BigEndian)
            std::reverse(out.begin(), out.end());
        break;
    case SerialEncoding::Ascii:
        if (!Fits(value, width))
            return false;
        for (int i = width - 1; i >= 0; --i, value /= 10)
            out[static_cast<std::size_t>(i)] = static_cast<uint8_t>('0' + value % 10);
        break;
    case SerialEncoding::Bcd:
        if (!Fits(value, 2 * width))
            return false;
        for (int i = width - 1; i >= 0; --i, value /= 100)
            out[static_cast<std::size_t>(i)] = static_cast<uint8_t>((value % 100 / 10) << 4 | value % 10);
        break;
    }
    bytes = std::move(out);
    return true;
}

SerialCounter::SerialCounter(CounterOptions options, JobControl control)
    : options_(std::move(options)), control_(std::move(control)), log_(Beside(options_.file, ".log")),
      lock_(Beside(options_.file, ".lock")) {}

Status SerialCounter::Open() {
    Status status = Lock();
    return status.Ok() ? Load() : status;
}

Status SerialCounter::Lock() {
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    bool told = false;
    while (true) {
        bool busy = false;
        std::string error;
        if (held_.TryLock(lock_, busy, error))
            return {};
        if (!busy)
            return Status::Fail(kExitFile, error);
        if (control_.stopRequested && control_.stopRequested())
            return Status::Fail(kExitInterrupted,
                                "interrupted while waiting for the counter " + Quoted(options_.file));
        if (std::chrono::steady_clock::now() >= deadline)
            return Status::Fail(kExitJobFailed, "another zelprog has held the counter " + Quoted(options_.file) +
                                                    " for a minute; nothing was written");
        if (!told && control_.sink)
            control_.sink(
                NoteEvent("another zelprog is using the counter " + Quoted(options_.file) + ": waiting"));
        told = true;
        std::this_thread::sleep_for(kLockPoll);
    }
}

Status SerialCounter::Load() {
    std::error_code ec;
    if (!std::filesystem::exists(options_.file, ec)) {
        if (!options_.first)
            return Status::Fail(kExitUsage, "there is no counter file " + Quoted(options_.file) +
                                                ": pass --first N to start a new one");
        next_ = *options_.first;
        return Store();
    }
    if (options_.first && !options_.startWhenMissing)
        return Status::Fail(kExitUsage, "--first starts a new counter, and " + Quoted(options_.file) +
                                            " exists already: leave out --first to go on from it");
    // Read, then closed before anything is stored: Windows does not replace
    // a file that is still open for reading.
    std::ostringstream text;
    bool read = false;
    {
        std::ifstream in(options_.file, std::ios::binary);
        text << in.rdbuf();
        read = static_cast<bool>(in);
    }
    CounterState state;
    if (!read || !ParseCounter(text.str(), state))
        return Status::Fail(kExitFile, "the counter file " + Quoted(options_.file) +
                                           " is not one zelprog wrote (\"next N\"): nothing was written");
    next_ = state.next;
    return state.reserved.empty() ? Status{} : Settle(state.reserved, state.logged);
}

// An earlier run reserved numbers and ended before it recorded their
// outcomes in the counter: a log line after the reservations tells whether
// it got that far with a number; the others are lost. A number given back
// is handed out again only when it was the last one handed out, as
// GiveBack does.
Status SerialCounter::Settle(const std::vector<uint64_t> &reserved, uint64_t logged) {
    const std::map<uint64_t, std::string> fates = LogEntriesAfter(log_, logged);
    for (const uint64_t number : reserved) {
        const auto fate = fates.find(number);
        if (fate == fates.end() ||
            (fate->second != "written" && fate->second != "given" && fate->second != "lost")) {
            const Status status =
                Log(number, "lost: reserved by a run that did not finish (the unit may hold it)");
            if (!status.Ok())
                return status;
        } else if (fate->second == "given" && number + options_.step == next_) {
            next_ = number;
        }
    }
    return Store();
}

Status SerialCounter::Store() {
    std::string text =
        "# zelprog serial counter; the log of every number is beside it\nnext " + std::to_string(next_) + "\n";
    for (const uint64_t number : out_)
        text += "reserved " + std::to_string(number) + "\n";
    if (!out_.empty())
        text += "logged " + std::to_string(outLogged_) + "\n";
    std::string error;
    if (!os::ReplaceWholeFile(options_.file, text, error))
        return Status::Fail(kExitFile, "the counter could not be stored: " + error);
    return {};
}

Status SerialCounter::Log(uint64_t number, const std::string &fate) {
    std::string error;
    if (!os::AppendToFile(log_, UtcNow() + " " + std::to_string(number) + " " + fate + "\n", error))
        return Status::Fail(kExitFile, "the serial log could not be written: " + error);
    return {};
}

Status SerialCounter::Reserve(uint64_t &number) {
    if (options_.step == 0 || next_ > UINT64_MAX - options_.step)
        return Status::Fail(kExitUsage, "the counter cannot advance past " + std::to_string(next_));
    number = next_;
    next_ += options_.step;
    if (out_.empty())
        outLogged_ = SizeOf(log_);
    out_.push_back(number);
    return Store();
}

void SerialCounter::Settled(uint64_t number) {
    out_.erase(std::remove(out_.begin(), out_.end(), number), out_.end());
}

Status SerialCounter::Written(uint64_t number, const std::string &where) {
    const Status status = Log(number, "written " + where);
    Settled(number);
    return status.Ok() ? Store() : status;
}

Status SerialCounter::Lose(uint64_t number, const std::string &why) {
    const Status status = Log(number, "lost: " + why);
    Settled(number);
    return status.Ok() ? Store() : status;
}

Status SerialCounter::GiveBack(uint64_t number, const std::string &why) {
    // the counter goes back only over the newest number: one handed out
    // after it may still be out, and is never handed out twice
    const bool newest = number + options_.step == next_;
    Status status =
        Log(number, "given back: " + why + (newest ? "" : " (not handed out again: a later number was out)"));
    if (!status.Ok())
        return status;
    Settled(number);
    if (newest)
        next_ = number;
    return Store();
}

Status CheckSerialArguments(const CounterOptions &options, const SerialFormat &format) {
    Bytes bytes;
    if (options.first && !EncodeSerial(*options.first, format, bytes))
        return DoesNotFit("first", *options.first, format);
    return {};
}

} // namespace zelprog
