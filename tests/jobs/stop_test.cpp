// zelStop: a background job ends at its next byte or chunk through the
// normal result path; the forced end stays the last resort; afterwards
// progress, result and the next job work.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

#if defined(__linux__)
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "jobs/job_fixture.h"

namespace zeltest {
namespace {

constexpr size_t kBytes32 = 4096; // 24C32

class StopTest : public JobTest {
protected:
    // A 24C32 with a 1 ms write cycle: every byte written costs about a
    // thousand register accesses of acknowledge polling, so a program from
    // erased runs long after the stop request.
    void AttachSlowEeprom() { ASSERT_TRUE(Attach("SIMPART=24C32 SIMTWR=1", 12, 0)); }

    std::string WriteImage(const std::string &name, uint16_t word, size_t words) {
        const std::string path = TempPath(name);
        WriteImageFile(path, std::vector<uint16_t>(words, word));
        return path;
    }

    std::vector<HandlerEvent> EventsFrom(const std::vector<HandlerEvent> &events, std::thread::id thread) {
        std::vector<HandlerEvent> from;
        for (const HandlerEvent &event : events) {
            if (event.thread == thread) {
                from.push_back(event);
            }
        }
        return from;
    }
};

TEST_F(StopTest, StopDuringProgramEndsItWithResultZeroAndLeavesNextJobUsable) {
    AttachSlowEeprom();
    const std::string image = WriteImage("image.txt", 0x1234, kBytes32 / 2);
    Signal midway;
    bool signalled = false;
    handler_.hook = [&](const HandlerEvent &event) {
        if (event.kind != HandlerEvent::Kind::Progress) {
            return;
        }
        transport().ClearLog(); // keeps the register log small on a long job
        if (!signalled && event.value >= 5) {
            signalled = true;
            midway.Set();
        }
    };
    const std::thread::id caller = std::this_thread::get_id();
    ASSERT_EQ(zelProgram(image.c_str(), 0, 1), 1);
    midway.Wait();

    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(zelStop(), 1);
    const auto elapsed = std::chrono::steady_clock::now() - asked;

    EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
    EXPECT_EQ(zelIsBusy(), 0);
    EXPECT_EQ(zelGetResult(), 0);
    // the job told its own result: it was not ended forcibly
    const std::vector<HandlerEvent> events = handler_.Events();
    ASSERT_EQ(events.back().kind, HandlerEvent::Kind::Result);
    EXPECT_EQ(events.back().value, 0);
    EXPECT_NE(events.back().thread, caller);
    EXPECT_EQ(Summarize(events), "result:0 state:Writing... progress result:0");
    size_t written = 0;
    for (uint8_t byte : Memory()) {
        EXPECT_TRUE(byte == 0xFF || byte == 0x34 || byte == 0x12) << int{byte};
        written += byte != 0xFF ? 1 : 0;
    }
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, kBytes32);

    handler_.hook = nullptr;
    transport().Clock().SetStep(1000); // the write cycle passes at the first probe
    EXPECT_EQ(zelProgram(image.c_str(), 1, 1), 1);
    EXPECT_EQ(WordsOf(Memory()), std::vector<uint16_t>(kBytes32 / 2, 0x1234));
    EXPECT_EQ(zelGetProgress(), 100);
}

TEST_F(StopTest, StopWithNoJobReturnsOneAndTheNextJobRuns) {
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));

    EXPECT_EQ(zelStop(), 1);

    ASSERT_EQ(zelClear(0x00, 0, 1), 1);
    EXPECT_EQ(handler_.WaitForWorkerResult(std::this_thread::get_id()), 1);
    WaitUntilIdle();
    EXPECT_EQ(zelGetResult(), 1);
    EXPECT_EQ(Memory(), std::vector<uint8_t>(256, 0x00));
}

enum class Job { Program, Verify, Dump, Clear };

struct HandlerStopCase {
    const char *name;
    Job job;
    const char *stopAfterState;  // stop at 50 % of the transfer that follows this state
    const char *sequence;        // the worker's callbacks
    std::vector<uint8_t> memory; // the EEPROM afterwards; empty: not looked at
};

void PrintTo(const HandlerStopCase &c, std::ostream *os) { PrintCase(c, os); }

std::vector<uint8_t> Erased() { return std::vector<uint8_t>(256, 0xFF); }

const HandlerStopCase kHandlerStops[] = {
    {"ClearEndsMidWrite", Job::Clear, "Clearing...", "state:Clearing... progress result:0", {}},
    {"ProgramEndsDuringItsReadBack", Job::Program, "Verifying...",
     "state:Writing... progress state:Verifying... progress result:0", std::vector<uint8_t>(256, 0x00)},
    {"VerifyEndsWithoutComparing", Job::Verify, "Reading...", "state:Reading... progress result:0", Erased()},
    {"DumpEndsWithoutWritingItsFile", Job::Dump, "Reading...", "state:Reading... progress result:0", Erased()},
};

class StopFromHandler : public StopTest, public testing::WithParamInterface<HandlerStopCase> {};

// A handler on the worker thread cannot wait for its own thread: zelStop
// there only asks, and the job ends at its next step.
TEST_P(StopFromHandler, EndsTheJobAtItsNextStep) {
    const HandlerStopCase &c = GetParam();
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    const std::string image = WriteImage("zeros.txt", 0x0000, 128);
    const std::string dump = WriteImage("dump.txt", 0x0000, 1);
    bool armed = false;
    int stopReturned = -1;
    handler_.hook = [&](const HandlerEvent &event) {
        if (event.kind == HandlerEvent::Kind::State) {
            armed = event.text == c.stopAfterState;
        } else if (armed && stopReturned < 0 && event.kind == HandlerEvent::Kind::Progress && event.value >= 50) {
            stopReturned = zelStop();
        }
    };
    const std::thread::id caller = std::this_thread::get_id();
    int started = 0;
    switch (c.job) {
    case Job::Program:
        started = zelProgram(image.c_str(), 0, 1);
        break;
    case Job::Verify:
        started = zelVerify(image.c_str(), 0);
        break;
    case Job::Dump:
        started = zelDump(dump.c_str(), 0, 0);
        break;
    case Job::Clear:
        started = zelClear(0x00, 0, 0);
        break;
    }
    ASSERT_EQ(started, 1);

    EXPECT_EQ(handler_.WaitForWorkerResult(caller), 0);
    WaitUntilIdle();

    EXPECT_EQ(stopReturned, 1);
    EXPECT_EQ(zelGetResult(), 0);
    std::vector<HandlerEvent> events = EventsFrom(handler_.Events(), handler_.Events().back().thread);
    EXPECT_EQ(Summarize(events), c.sequence);
    EXPECT_EQ(FileText(dump), "@0000  0000\n");
    if (!c.memory.empty()) {
        EXPECT_EQ(Memory(), c.memory);
    } else {
        const std::vector<uint8_t> memory = Memory();
        EXPECT_EQ(memory.front(), 0x00);
        EXPECT_EQ(memory.back(), 0xFF);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryJob, StopFromHandler, testing::ValuesIn(kHandlerStops),
                         [](const testing::TestParamInfo<HandlerStopCase> &info) {
                             return std::string(info.param.name);
                         });

// Sets its signal when the thread that owns it ends.
struct ThreadEndSignal {
    Signal *signal = nullptr;
    ~ThreadEndSignal() {
        if (signal != nullptr) {
            signal->Set();
        }
    }
};
thread_local ThreadEndSignal threadEnd;

TEST_F(StopTest, ForcedEndOfAJobStuckInItsHandlerLeavesStatusAndNextJobWorking) {
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    const std::string image = WriteImage("image.txt", 0x1234, 128);
    // outlives the abandoned thread, which may still return into it
    static RecordingHandler *const stuck = new RecordingHandler;
    // never destroyed: a thread ended forcibly inside release.Wait() leaves it in use
    static Signal &entered = *new Signal, &release = *new Signal, &ended = *new Signal;
    const std::thread::id caller = std::this_thread::get_id();
    std::thread::id stuckThread;
    stuck->hook = [caller, &stuckThread](const HandlerEvent &event) {
        if (event.kind == HandlerEvent::Kind::Progress && event.value >= 10 && event.thread != caller &&
            stuckThread == std::thread::id{}) {
            stuckThread = event.thread;
            threadEnd.signal = &ended;
            entered.Set();
            release.Wait(); // holds the job's lock, as a handler stuck in a callback does
        }
    };
    SetZelHandler(stuck);
    ASSERT_EQ(zelProgram(image.c_str(), 0, 0), 1);
    entered.Wait();

    EXPECT_EQ(zelStop(), 1); // the last resort, after 1000 ms

    EXPECT_EQ(zelIsBusy(), 0);
    EXPECT_EQ(zelGetResult(), 0);
    EXPECT_GE(zelGetProgress(), 10);
    const size_t eventsAtStop = stuck->Events().size();
    ASSERT_EQ(zelProgram(image.c_str(), 0, 1), 1);
    EXPECT_EQ(stuck->WaitForWorkerResult(caller), 1);
    WaitUntilIdle();
    EXPECT_EQ(zelGetResult(), 1);
    EXPECT_EQ(WordsOf(Memory()), std::vector<uint16_t>(128, 0x1234));

    release.Set();
#if !defined(_WIN32)
    // POSIX abandons the thread: it runs on, but stores and tells nothing
    ended.Wait();
#endif
    EXPECT_EQ(zelGetResult(), 1);
    EXPECT_EQ(zelGetProgress(), 100);
    const std::vector<HandlerEvent> events = stuck->Events();
    for (size_t k = 0; k < events.size(); ++k) {
        EXPECT_FALSE(k >= eventsAtStop && events[k].thread == stuckThread) << Summarize({events[k]});
    }
    SetZelHandler(nullptr);
}

// Register accesses as the bus sees them: kind, address and the two bus
// lines' bits of each value (the write-protect line differs with where a job
// ended).
std::vector<std::string> BusLineAccesses(const std::vector<RegisterAccess> &log, size_t from) {
    std::vector<std::string> out;
    for (size_t k = from; k < log.size(); ++k) {
        const RegisterAccess &a = log[k];
        const unsigned value = a.Seen() & 0x00C0u;
        out.push_back((a.kind == AccessKind::Write ? "w " : "r ") + std::to_string(a.address) + " " +
                      std::to_string(value));
    }
    return out;
}

// A thread stuck in a transport call is given up on; when that call returns
// (done or failed), the thread runs on to its end while the next job drives
// the bus. It must change nothing that job uses: the next job's traffic is
// that of the same job run again afterwards, and it prints nothing.
class GivenUpInATransportCall : public StopTest, public testing::WithParamInterface<bool> {};

TEST_P(GivenUpInATransportCall, ChangesNothingTheNextJobSends) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows ends the thread (TerminateThread) instead of giving up on it";
#endif
    const bool stuckCallFails = GetParam();
    // one register access stuck in the transport; a stuck batch would carry
    // the rest of its accesses to the bus once it returns
    zelSetBatching(0);
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=1", 8, 0));
    const std::string image = WriteImage("image.txt", 0x0000, 128);
    SetMemory(std::vector<uint8_t>(256, 0x00));
    static Signal &blocked = *new Signal, &release = *new Signal, &ended = *new Signal;
    hoplink::sim::Target *target = &Target();
    // block during acknowledge polling, where the device drives no line
    transport().HookAccess(2000, [target, stuckCallFails] {
        if (!target->WriteCycleActive()) {
            return false;
        }
        threadEnd.signal = &ended;
        blocked.Set();
        release.Wait();
        if (stuckCallFails) {
            TestTransport::FailHookedAccess();
        }
        return true;
    });
    ASSERT_EQ(zelClear(0x5A, 0, 0), 1);
    blocked.Wait();
    EXPECT_EQ(zelStop(), 1);         // the last resort, after 1000 ms
    transport().AdvanceClock(50000); // the write cycle and the thread's polling window are over

    // halfway through the next job the stuck call returns and its thread runs
    // to its end, with the test clock standing still: it waits for nothing
    transport().ClearLog();
    transport().HookAccess(300, [] {
        release.Set();
        ended.Wait();
        return true;
    });
    testing::internal::CaptureStdout();
    EXPECT_EQ(zelVerify(image.c_str(), 1), 0); // one byte took the clear, the rest did not
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const std::vector<RegisterAccess> next = transport().Registers();
    transport().ClearLog();
    EXPECT_EQ(zelVerify(image.c_str(), 1), 0);
    const std::vector<RegisterAccess> again = transport().Registers();

    // both start after BusRelease has put the bus lines' bits back
    ASSERT_GT(next.size(), 300u);
    std::vector<std::string> seen = BusLineAccesses(next, 4);
    const std::vector<std::string> expected = BusLineAccesses(again, 4);
    // the one access that the stuck call began before the forced end comes
    // in where it was released; nothing else of that thread may follow
    ASSERT_EQ(seen.size(), expected.size() + 1);
    size_t same = 0;
    while (same < expected.size() && seen[same] == expected[same]) {
        ++same;
    }
    seen.erase(seen.begin() + static_cast<std::ptrdiff_t>(same));
    EXPECT_EQ(seen, expected) << "the stuck call came in at access " << same + 4;
}

INSTANTIATE_TEST_SUITE_P(StuckCall, GivenUpInATransportCall, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                             return info.param ? "Fails" : "Succeeds";
                         });

// What a host's handler, stuck in a callback at the forced end and released
// while the next job runs, may go on to call.
struct LateCall {
    const char *name;
    void (*call)();
};

void PrintTo(const LateCall &c, std::ostream *os) { PrintCase(c, os); }

const LateCall kLateCalls[] = {
    {"Stop", [] { zelStop(); }},
    {"MoveLines", [] { zelSetPioLines(2, 4, 5); }},
    {"CloseLink", [] { zelClose(); }},
    {"RemoveHandler", [] { SetZelHandler(nullptr); }},
    {"RemoveCallbacks", [] { zelSetCallbacks(nullptr, nullptr); }},
};

class LateHandlerCall : public StopTest, public testing::WithParamInterface<LateCall> {};

// None of it reaches the next job: it ends with 1, writes its image and
// tells its result to the handler that the host installed.
TEST_P(LateHandlerCall, ReachesNothingOfTheNextJob) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows ends the thread (TerminateThread): nothing of it runs on";
#endif
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    const std::string first = WriteImage("first.txt", 0x1111, 128);
    const std::string second = WriteImage("second.txt", 0x2222, 128);
    // never destroyed: the thread given up on uses them up to its end
    static RecordingHandler *const handler = new RecordingHandler;
    static Signal &entered = *new Signal, &release = *new Signal, &ended = *new Signal;
    static Signal &nextHeld = *new Signal, &nextGoOn = *new Signal;
    static std::atomic<bool> stuckOnce{false};
    static void (*lateCall)() = nullptr;
    lateCall = GetParam().call;
    handler->hook = [](const HandlerEvent &event) {
        if (event.kind == HandlerEvent::Kind::Progress && event.value >= 10 && !stuckOnce.exchange(true)) {
            threadEnd.signal = &ended;
            entered.Set();
            release.Wait();
            lateCall();
        }
    };
    SetZelHandler(handler);
    ASSERT_EQ(zelProgram(first.c_str(), 0, 0), 1);
    entered.Wait();
    EXPECT_EQ(zelStop(), 1); // the last resort, after 1000 ms

    // the next job holds still in a register access while the old thread runs on to its end
    std::thread::id nextThread;
    transport().HookAccess(200, [&nextThread] {
        nextThread = std::this_thread::get_id();
        nextHeld.Set();
        nextGoOn.Wait();
        return true;
    });
    ASSERT_EQ(zelProgram(second.c_str(), 0, 1), 1);
    nextHeld.Wait();
    release.Set();
    ended.Wait();
    nextGoOn.Set();
    WaitUntilIdle();

    ASSERT_EQ(zelGetResult(), 1);
    EXPECT_EQ(WordsOf(Memory()), std::vector<uint16_t>(128, 0x2222));
    const std::vector<HandlerEvent> events = handler->Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, HandlerEvent::Kind::Result);
    EXPECT_EQ(events.back().value, 1);
    EXPECT_EQ(events.back().thread, nextThread);
    SetZelHandler(nullptr);
}

INSTANTIATE_TEST_SUITE_P(EveryCall, LateHandlerCall, testing::ValuesIn(kLateCalls),
                         [](const testing::TestParamInfo<LateCall> &info) { return info.param.name; });

#if defined(__linux__)
// A dump whose output takes its writes slowly (a pipe that nobody reads) is
// given up on inside a write; once zelStop has returned it writes nothing
// more: the reader gets at most what that one write held.
TEST_F(StopTest, DumpGivenUpInAWriteWritesNothingMore) {
    ASSERT_TRUE(Attach("SIMPART=24C32 SIMTWR=0", 12, 0));
    constexpr size_t kWholeDump = 2048 * 12; // 2048 records of 12 characters
    const std::string fifo = TempPath("dump.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const int pipeBytes = fcntl(reader, F_SETPIPE_SZ, 4096);
    ASSERT_GT(pipeBytes, 0);
    ASSERT_LT(static_cast<size_t>(pipeBytes) * 2, kWholeDump);

    ASSERT_EQ(zelDump(fifo.c_str(), 0, 0), 1);
    int queued = 0; // the pipe fills; the job's next write waits for room
    while (zelIsBusy() == 1 && ioctl(reader, FIONREAD, &queued) == 0 && queued < pipeBytes) {
        std::this_thread::yield();
    }
    ASSERT_EQ(queued, pipeBytes);
    EXPECT_EQ(zelStop(), 1); // the last resort, after 1000 ms
    EXPECT_EQ(zelGetResult(), 0);

    std::string received; // until the job's thread closes the pipe
    for (char piece[4096];;) {
        const ssize_t n = read(reader, piece, sizeof piece);
        if (n > 0) {
            received.append(piece, static_cast<size_t>(n));
        } else if (n == 0 || errno != EAGAIN) {
            break;
        } else {
            std::this_thread::yield();
        }
    }
    close(reader);
    EXPECT_EQ(received.rfind("@0000  ", 0), 0u);
    EXPECT_LT(received.size(), kWholeDump / 2);
}
#endif

} // namespace
} // namespace zeltest
