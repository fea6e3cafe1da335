// What the job suites share: a handler that records every callback with its
// thread and the busy state seen inside it, image files in a temporary
// folder, and a fixture with an attached virtual EEPROM.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "support/test_transport.h"
#include "zelapi.h"

namespace zeltest {

struct HandlerEvent {
    enum class Kind { Progress, State, Result, Message };
    Kind kind;
    int value = 0;    // progress or result
    std::string text; // state or message text
    std::thread::id thread;
    int busy = 0; // zelIsBusy() inside the callback
};

class RecordingHandler : public ZelHandler {
public:
    void OnProgressChange(int progress) override;
    void OnStateChange(const char *state) override;
    void OnResult(int result) override;
    void OnMessage(const char *message) override;

    std::vector<HandlerEvent> Events() const;
    // Waits for an OnResult that comes from another thread than `caller`
    // (the worker's) and returns its value.
    int WaitForWorkerResult(std::thread::id caller);

    // Runs inside every callback, after the event was recorded, on the
    // thread of the callback. Set it before the job starts.
    std::function<void(const HandlerEvent &)> hook;

private:
    void Record(HandlerEvent event);

    mutable std::mutex mutex_; // guards events_
    std::condition_variable resultArrived_;
    std::vector<HandlerEvent> events_;
};

// Names a table row in test output by its `name` (instead of its bytes).
template <typename Case>
requires requires(const Case &c) { std::string(c.name); }
void PrintCase(const Case &c, std::ostream *os) { *os << c.name; }

// The callbacks in order, "state:Writing... progress result:1": a run of
// progress reports is one "progress", a message is "message".
std::string Summarize(const std::vector<HandlerEvent> &events);
// Every run of progress reports starts at 0, never decreases and ends at 100.
testing::AssertionResult ProgressRunsComplete(const std::vector<HandlerEvent> &events);
// The texts of the OnMessage calls, in order.
std::vector<std::string> Messages(const std::vector<HandlerEvent> &events);

// A one-shot signal between threads (mutex and condition variable: the
// atomic waits behind std::latch miss wake-ups in some runtimes).
class Signal {
public:
    void Set();
    void Wait();
    bool IsSet();

private:
    std::mutex mutex_; // guards set_
    std::condition_variable changed_;
    bool set_ = false;
};

// Polls zelIsBusy until the worker thread has ended.
void WaitUntilIdle();

// Image files: one "@%04x  %04x" record per word.
void WriteImageFile(const std::string &path, const std::vector<uint16_t> &words);
std::string FileText(const std::string &path); // "" when it cannot be read
bool FileExists(const std::string &path);
// Word k holds bytes 2k (low) and 2k + 1 (high) of `bytes`.
std::vector<uint16_t> WordsOf(const std::vector<uint8_t> &bytes);

// A virtual EEPROM attached through zelInitTrans, a recording handler
// installed, and a temporary folder for image files.
class JobTest : public LinkTest {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string TempPath(const std::string &name) const;
    std::vector<uint8_t> Memory();
    void SetMemory(const std::vector<uint8_t> &bytes);
    hoplink::sim::Counters Counters();

    RecordingHandler handler_;

private:
    std::string folder_;
};

} // namespace zeltest
