// The test transport: this library's own definitions of the six hoplink_*
// functions, for test programs that link zelapi_static (not the shared
// hoplink). Link order: LIBS zelapi_static zel_test_support.
//
// What it does:
// - Logs every register access (kind, address, value, result) and every link
//   call (open with its three arguments, cpu_stop, close, enumerate with its
//   four), in order.
// - Forwards to an in-process virtual target (hoplink::sim::Link) once a test
//   opened one; the target's memory and faults are reachable through Target().
// - Owns one VirtualClock (1 us per register access by default). It is set
//   into the target at every open, and the library's millisecond tick reads
//   it, so waits of 5, 10 or 20 ms are exact and take no real time.
// - Without an open target, answers register accesses itself: writes succeed,
//   reads give the open-drain level of the lines as this chip drives them
//   (a line reads high unless it is driven low), as on a bus with no device.
// - Lets a test script what the target cannot give: queued read values (taken
//   before anything else), failing writes or reads, and the results of open
//   and enumerate.
//
// Typical use, through the fixtures:
//
//   class MyTest : public zeltest::LinkTest {};
//   TEST_F(MyTest, ReadsBack) {
//       ASSERT_TRUE(Attach("SIMPART=24C02", 8, 0));   // zelInitTrans
//       transport().ClearLog();
//       ... run something ...
//       EXPECT_EQ(BusText(), "S A0+ 00+ S A1+ ff- P");
//   }
//
// It has hoplink_batch too: with batching on (zelSetBatching) the library
// hands it whole transactions. Each access of a batch is logged as if it had
// come alone; with nothing scripted the batch goes to the target as one
// call, else access by access through the scripts.
//
// Every test runs in its own process (CTest), so the library's process-wide
// state (register shadows, line numbers, descriptor) starts fresh for each.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <hoplink/sim.h>

namespace zeltest {

enum class AccessKind { Write, Read };

struct RegisterAccess {
    AccessKind kind;
    uint32_t address;
    uint16_t value; // the value written, or the value put in *value by a read
    int result;     // what the transport returned: 0 success

    // What the library takes from this access: a failed read reads 0xFFFF.
    uint16_t Seen() const { return kind == AccessKind::Read && result != 0 ? 0xFFFF : value; }
};

enum class LinkCallKind { Open, CpuStop, Close, Enumerate };

struct LinkCall {
    LinkCallKind kind;
    std::string config;             // open: the configuration string
    int reserved = 0;               // open: the second argument
    uint16_t linkParam = 0;         // open: the third argument
    std::array<intptr_t, 4> args{}; // enumerate: the four arguments
    int result = 0;
    size_t registerIndex = 0; // register accesses logged before this call
};

class TestTransport {
public:
    static TestTransport &Get();

    // Closes the target and clears the log, scripts and failure switches;
    // the clock goes on (time never runs backwards) at 1 us per access.
    void Reset();

    // Scripting. An open or enumerate result, once set, is returned for every
    // later call without touching the target; nullopt forwards again.
    void ScriptOpenResult(std::optional<int> result);
    void ScriptEnumerateResult(int result); // default 0
    void QueueReads(const std::vector<uint16_t> &values);
    void FailWrites(bool fail);
    void FailReads(bool fail);
    // Runs `hook` on the accessing thread, outside the transport's lock,
    // before each register access from the `nth` one (1-based, counted from
    // this call) until it returns true once. It may block the access.
    void HookAccess(uint64_t nth, std::function<bool()> hook);
    // Called from inside a hook: the access that it held fails.
    static void FailHookedAccess();
    void AdvanceClock(uint64_t micros);

    // The open virtual target, null while none is open. It is used outside
    // the transport's lock: touch it only while no job drives the bus.
    hoplink::sim::Target *Target();
    hoplink::sim::VirtualClock &Clock() { return clock_; }
    uint32_t NowMs();

    std::vector<RegisterAccess> Registers() const;
    std::vector<LinkCall> LinkCalls() const;
    size_t WriteCount() const;
    size_t ReadCount() const;
    size_t BatchCount() const; // batch calls since the last Reset
    void ClearLog();

    // The hoplink_* definitions call these.
    int Open(const char *config, int reserved, uint16_t linkParam);
    int Close();
    int CpuStop();
    int Enumerate(intptr_t a, intptr_t b, intptr_t c, intptr_t d);
    int Write(uint32_t address, uint32_t value);
    int Read(uint32_t address, uint16_t *value);
    int32_t Batch(hoplink_access *accesses, int32_t count);

private:
    void LogBatch(const hoplink_access *accesses, int32_t count, int32_t done);
    TestTransport();
    int WriteUnlocked(uint32_t address, uint16_t value);
    void RunAccessHook();
    int ReadUnlocked(uint32_t address, uint16_t *value);

    // guards everything below: the library may drive the bus from a worker
    // thread while the test thread looks at the log
    mutable std::mutex mutex_;
    hoplink::sim::Link link_;
    hoplink::sim::VirtualClock clock_;
    std::vector<RegisterAccess> registers_;
    std::vector<LinkCall> linkCalls_;
    std::optional<int> openResult_;
    int enumerateResult_ = 0;
    std::deque<uint16_t> queuedReads_;
    bool failWrites_ = false;
    bool failReads_ = false;
    uint16_t enable_ = 0; // registers as last written, for the target-less answer
    uint16_t level_ = 0;
    uint64_t accesses_ = 0; // register accesses so far
    size_t batches_ = 0;
    uint64_t hookAt_ = 0; // 0: no hook armed
    std::function<bool()> hook_;
};

// Bus events decoded from the register log, as the master drove the lines:
// START (data falls while the clock is high and the data line had read high),
// STOP (data released while the clock is high), and bytes of nine clock
// pulses (eight bits and the acknowledge). A released data line counts as
// the level that the master last sampled during that clock pulse, or high.
// Clock pulses outside a transaction, or too few for a byte before a START
// or STOP, are loose pulses ("~n").
struct BusEvent {
    enum class Kind { Start, Stop, Byte, Pulses };
    Kind kind;
    uint8_t value = 0;
    bool ack = false; // byte: the ninth bit was low
    int pulses = 0;   // pulses: how many
};

std::vector<BusEvent> DecodeBus(const std::vector<RegisterAccess> &log, int clockLine = 6, int dataLine = 7);
// "S a0+ 01+ 23+ S a1+ 5a- P": S start, P stop, bytes in hex with + for an
// acknowledge and - for none, ~n for n loose clock pulses.
std::string BusText(const std::vector<BusEvent> &events);
std::string BusText(const std::vector<RegisterAccess> &log, int clockLine = 6, int dataLine = 7);

// Opens and closes around each test; every helper goes through the transport.
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    TestTransport &transport() { return TestTransport::Get(); }

    // The virtual target alone (hoplink_open and cpu_stop), no attach: for
    // tests of the bus. True when it opened.
    bool OpenTarget(const std::string &config);
    // The library's open path through zelInitTrans (attach included).
    bool Attach(const std::string &config, int sizeBits, int blockBits);
    hoplink::sim::Target &Target();
    // The bus as decoded from the log since the last ClearLog, on the lines
    // given to zelSetPioLines (6 and 7 unless a test changed them).
    std::string BusText() const;
};

// A fixture with a 24C02 on the default lines, opened but not attached.
class BusTest : public LinkTest {
protected:
    void SetUp() override;
    virtual std::string Config() const { return "SIMPART=24C02"; }
};

} // namespace zeltest
