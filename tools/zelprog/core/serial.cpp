#include "core/serial.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
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

// What the counter file holds: the next number and, while a run writes one,
// the number it reserved and the size the log had then.
struct CounterState {
    uint64_t next = 0;
    std::optional<uint64_t> reserved;
    uint64_t logged = 0;
};

// "next N", "reserved N", "logged BYTES"; '#' lines are comments.
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
        } else if (key == "reserved" && !state.reserved) {
            state.reserved = value;
        } else if (key == "logged") {
            state.logged = value;
        } else {
            return false;
        }
    }
    return haveNext;
}

// The number and the fate word ("written", "given", "lost") of the first
// line that the log got after its first `from` bytes.
bool LogEntryAfter(const std::filesystem::path &log, uint64_t from, uint64_t &number, std::string &fate) {
    std::ifstream in(log, std::ios::binary);
    if (!in || !in.seekg(static_cast<std::streamoff>(from)))
        return false;
    std::string line, time, text;
    if (!std::getline(in, line))
        return false;
    std::istringstream words(line);
    if (!(words >> time >> text >> fate) || !ParseDecimal(text, number))
        return false;
    if (!fate.empty() && fate.back() == ':')
        fate.pop_back();
    return true;
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
        return Store(std::nullopt);
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
    return state.reserved ? Settle(*state.reserved, state.logged) : Status{};
}

// An earlier run reserved a number and ended before it recorded the outcome
// in the counter: a log line after the reservation tells whether it got that far.
Status SerialCounter::Settle(uint64_t reserved, uint64_t logged) {
    uint64_t number = 0;
    std::string fate;
    if (LogEntryAfter(log_, logged, number, fate) && number == reserved &&
        (fate == "written" || fate == "given" || fate == "lost")) {
        if (fate == "given")
            next_ = reserved;
        return Store(std::nullopt);
    }
    const Status status = Log(reserved, "lost: reserved by a run that did not finish (the unit may hold it)");
    return status.Ok() ? Store(std::nullopt) : status;
}

Status SerialCounter::Store(std::optional<uint64_t> reserved) {
    std::string text =
        "# zelprog serial counter; the log of every number is beside it\nnext " + std::to_string(next_) + "\n";
    if (reserved)
        text += "reserved " + std::to_string(*reserved) + "\nlogged " + std::to_string(SizeOf(log_)) + "\n";
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
    return Store(number);
}

Status SerialCounter::Written(uint64_t number, const std::string &where) {
    const Status status = Log(number, "written " + where);
    return status.Ok() ? Store(std::nullopt) : status;
}

Status SerialCounter::Lose(uint64_t number, const std::string &why) {
    const Status status = Log(number, "lost: " + why);
    return status.Ok() ? Store(std::nullopt) : status;
}

Status SerialCounter::GiveBack(uint64_t number, const std::string &why) {
    Status status = Log(number, "given back: " + why);
    if (!status.Ok())
        return status;
    next_ = number;
    return Store(std::nullopt);
}

Status CheckSerialArguments(const CounterOptions &options, const SerialFormat &format) {
    Bytes bytes;
    if (options.first && !EncodeSerial(*options.first, format, bytes))
        return DoesNotFit("first", *options.first, format);
    return {};
}

} // namespace zelprog
