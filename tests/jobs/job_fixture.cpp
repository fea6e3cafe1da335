#include "jobs/job_fixture.h"

#include "support/test_data.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <fstream>
#include <sstream>

namespace zeltest {

void RecordingHandler::OnProgressChange(int progress) {
    Record({HandlerEvent::Kind::Progress, progress, "", {}, 0});
}

void RecordingHandler::OnStateChange(const char *state) { Record({HandlerEvent::Kind::State, 0, state, {}, 0}); }

void RecordingHandler::OnResult(int result) { Record({HandlerEvent::Kind::Result, result, "", {}, 0}); }

void RecordingHandler::OnMessage(const char *message) { Record({HandlerEvent::Kind::Message, 0, message, {}, 0}); }

void RecordingHandler::Record(HandlerEvent event) {
    event.thread = std::this_thread::get_id();
    event.busy = zelIsBusy();
    {
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back(event);
    }
    resultArrived_.notify_all();
    if (hook) {
        hook(event);
    }
}

std::vector<HandlerEvent> RecordingHandler::Events() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_;
}

int RecordingHandler::WaitForWorkerResult(std::thread::id caller) {
    std::unique_lock<std::mutex> lock(mutex_);
    const HandlerEvent *found = nullptr;
    resultArrived_.wait(lock, [&] {
        for (const HandlerEvent &event : events_) {
            if (event.kind == HandlerEvent::Kind::Result && event.thread != caller) {
                found = &event;
                return true;
            }
        }
        return false;
    });
    return found->value;
}

std::string Summarize(const std::vector<HandlerEvent> &events) {
    std::string summary;
    HandlerEvent::Kind last = HandlerEvent::Kind::State;
    bool any = false;
    for (const HandlerEvent &event : events) {
        const bool progressRun =
            any && last == HandlerEvent::Kind::Progress && event.kind == HandlerEvent::Kind::Progress;
        any = true;
        last = event.kind;
        if (progressRun) {
            continue;
        }
        if (!summary.empty()) {
            summary += ' ';
        }
        switch (event.kind) {
        case HandlerEvent::Kind::Progress:
            summary += "progress";
            break;
        case HandlerEvent::Kind::State:
            summary += "state:" + event.text;
            break;
        case HandlerEvent::Kind::Result:
            summary += "result:" + std::to_string(event.value);
            break;
        case HandlerEvent::Kind::Message:
            summary += "message";
            break;
        }
    }
    return summary;
}

testing::AssertionResult ProgressRunsComplete(const std::vector<HandlerEvent> &events) {
    std::vector<std::vector<int>> runs;
    bool inRun = false;
    for (const HandlerEvent &event : events) {
        if (event.kind != HandlerEvent::Kind::Progress) {
            inRun = false;
            continue;
        }
        if (!inRun) {
            runs.emplace_back();
        }
        inRun = true;
        runs.back().push_back(event.value);
    }
    for (size_t r = 0; r < runs.size(); ++r) {
        const std::vector<int> &run = runs[r];
        if (run.front() != 0 || run.back() != 100) {
            return testing::AssertionFailure()
                   << "run " << r << " goes from " << run.front() << " to " << run.back();
        }
        for (size_t k = 1; k < run.size(); ++k) {
            if (run[k] < run[k - 1]) {
                return testing::AssertionFailure()
                       << "run " << r << " falls from " << run[k - 1] << " to " << run[k];
            }
        }
    }
    return testing::AssertionSuccess();
}

std::vector<std::string> Messages(const std::vector<HandlerEvent> &events) {
    std::vector<std::string> texts;
    for (const HandlerEvent &event : events) {
        if (event.kind == HandlerEvent::Kind::Message) {
            texts.push_back(event.text);
        }
    }
    return texts;
}

void Signal::Set() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        set_ = true;
    }
    changed_.notify_all();
}

bool Signal::IsSet() {
    std::lock_guard<std::mutex> guard(mutex_);
    return set_;
}

void Signal::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return set_; });
}

void WaitUntilIdle() {
    while (zelIsBusy() != 0) {
        std::this_thread::yield();
    }
}

void WriteImageFile(const std::string &path, const std::vector<uint16_t> &words) {
    std::FILE *file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr) << path;
    for (size_t i = 0; i < words.size(); ++i) {
        std::fprintf(file, "@%04zx  %04x\n", i, static_cast<unsigned>(words[i]));
    }
    ASSERT_EQ(std::fclose(file), 0);
}

std::string FileText(const std::string &path) { return zeltest::ReadFile(path, std::ios::in); }

bool FileExists(const std::string &path) { return std::filesystem::exists(path); }

std::vector<uint16_t> WordsOf(const std::vector<uint8_t> &bytes) {
    std::vector<uint16_t> words(bytes.size() / 2);
    for (size_t k = 0; k < words.size(); ++k) {
        words[k] = static_cast<uint16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8);
    }
    return words;
}

void JobTest::SetUp() {
    LinkTest::SetUp();
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char &c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    // a folder of this run's own: other builds' suites may run at the same time
    name += "_" + std::to_string(std::random_device{}());
    folder_ = (std::filesystem::path(testing::TempDir()) / ("zeljobs_" + name)).string();
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    SetZelHandler(&handler_);
}

void JobTest::TearDown() {
    zelStop();
    SetZelHandler(nullptr);
    std::filesystem::remove_all(folder_);
    LinkTest::TearDown();
}

std::string JobTest::TempPath(const std::string &name) const {
    return (std::filesystem::path(folder_) / name).string();
}

std::vector<uint8_t> JobTest::Memory() {
    const std::span<uint8_t> cells = Target().Memory();
    return {cells.begin(), cells.end()};
}

void JobTest::SetMemory(const std::vector<uint8_t> &bytes) {
    const std::span<uint8_t> cells = Target().Memory();
    std::copy(bytes.begin(), bytes.end(), cells.begin());
}

hoplink::sim::Counters JobTest::Counters() { return Target().GetCounters(); }

} // namespace zeltest
