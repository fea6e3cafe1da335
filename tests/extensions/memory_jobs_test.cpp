// The memory jobs and the geometry through the public header against the
// virtual target: ranges anywhere in the device, the handler sequence of
// each job blocking and in the background, refused ranges, and what the
// host's buffer holds when.
#include <gmock/gmock.h>

#include <algorithm>
#include <numeric>

#include "jobs/job_fixture.h"

namespace zeltest {
namespace {

using testing::ElementsAre;

constexpr uint32_t kBytes = 256; // 24C02
const char *const k24C02 = "SIMPART=24C02 SIMTWR=0";

// Cell k holds (k ^ 0x5A) & 0x7f: each byte differs from its neighbours and none is erased.
std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t k = 0; k < size; ++k) {
        bytes[k] = static_cast<uint8_t>((k ^ 0x5A) & 0x7F);
    }
    return bytes;
}

class MemoryJobTest : public JobTest {
protected:
    void AttachSmall() { ASSERT_TRUE(Attach(k24C02, 8, 0)); }
};

// ---------------------------------------------------------------------------

struct GeometryCase {
    const char *name;
    const char *config;
    int sizeBits, blockBits;
    int addressBytes;
};

void PrintTo(const GeometryCase &c, std::ostream *os) { PrintCase(c, os); }

const GeometryCase kGeometries[] = {
    {"TwoAddressBytes", "SIMPART=24C256", 15, 0, 2},
    {"BlockBitsFoldedIntoTheDeviceAddress", "SIMPART=24C16", 11, 7, 1},
    {"NoSizeGiven", "SIMPART=24C02", 0, 0, 0},
};

class Geometry : public MemoryJobTest, public testing::WithParamInterface<GeometryCase> {};

TEST_P(Geometry, IsWhatTheOpenGave) {
    const GeometryCase &c = GetParam();
    ASSERT_TRUE(Attach(c.config, c.sizeBits, c.blockBits));
    int sizeBits = -1, blockBits = -1, addressBytes = -1;
    EXPECT_EQ(zelGetGeometry(&sizeBits, &blockBits, &addressBytes), 1);
    EXPECT_EQ(sizeBits, c.sizeBits);
    EXPECT_EQ(blockBits, c.blockBits);
    EXPECT_EQ(addressBytes, c.addressBytes);
}

INSTANTIATE_TEST_SUITE_P(Open, Geometry, testing::ValuesIn(kGeometries),
                         [](const testing::TestParamInfo<GeometryCase> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(MemoryJobTest, GeometryBeforeAnyAttachIsZeroAndNullPointersAreSkipped) {
    int sizeBits = -1;
    EXPECT_EQ(zelGetGeometry(&sizeBits, nullptr, nullptr), 0);
    EXPECT_EQ(sizeBits, 0);
    ASSERT_TRUE(Attach("SIMPART=24C256", 15, 0));
    EXPECT_EQ(zelGetGeometry(nullptr, nullptr, nullptr), 1);
}

TEST_F(MemoryJobTest, GeometryFollowsTheHeaderRead) {
    ASSERT_TRUE(Attach("SIMPART=24C256 SIMTWR=0", 0, 0));
    SetMemory({0x78, 0x87, 0x78, 0x87}); // size bits 15, block bits 0, twice
    int sizeBits = -1, blockBits = -1, addressBytes = -1;
    ASSERT_EQ(zelGetGeometry(&sizeBits, &blockBits, &addressBytes), 1);
    EXPECT_EQ(sizeBits, 0);

    ASSERT_EQ(zelReadHeader(), 1);
    ASSERT_EQ(zelGetGeometry(&sizeBits, &blockBits, &addressBytes), 1);
    EXPECT_EQ(sizeBits, 15);
    EXPECT_EQ(blockBits, 0);
    EXPECT_EQ(addressBytes, 2);
}

// ---------------------------------------------------------------------------

struct RangeCase {
    const char *name;
    uint32_t address, length;
};

void PrintTo(const RangeCase &c, std::ostream *os) { PrintCase(c, os); }

const RangeCase kRanges[] = {
    {"OneByteAtTheStart", 0, 1},         {"OddRangeAcrossChunks", 61, 71}, {"LastByte", kBytes - 1, 1},
    {"EndOfTheDevice", kBytes - 70, 70}, {"WholeDevice", 0, kBytes},
};

class MemoryRange : public MemoryJobTest, public testing::WithParamInterface<RangeCase> {};

TEST_P(MemoryRange, ReadGivesTheCells) {
    const RangeCase &c = GetParam();
    AttachSmall();
    const std::vector<uint8_t> cells = Pattern(kBytes);
    SetMemory(cells);
    std::vector<uint8_t> buffer(c.length + 1, 0xEE);

    EXPECT_EQ(zelReadMemory(c.address, buffer.data(), c.length, 1), 1);

    std::vector<uint8_t> expected(cells.begin() + c.address, cells.begin() + c.address + c.length);
    expected.push_back(0xEE); // nothing written beyond the range
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(Summarize(handler_.Events()), "state:Reading... progress result:1");
    EXPECT_TRUE(ProgressRunsComplete(handler_.Events()));
}

TEST_P(MemoryRange, WriteChangesOnlyTheRangeAndOnlyDifferingBytes) {
    const RangeCase &c = GetParam();
    AttachSmall();
    Target().Fill(0xFF);
    std::vector<uint8_t> data = Pattern(c.length);
    data[0] = 0xFF; // already there: no write cycle for it
    const uint64_t cyclesBefore = Counters().writeCycles;

    EXPECT_EQ(zelWriteMemory(c.address, data.data(), c.length, 1, 1), 1);

    std::vector<uint8_t> expected(kBytes, 0xFF);
    std::copy(data.begin(), data.end(), expected.begin() + c.address);
    EXPECT_EQ(Memory(), expected);
    EXPECT_EQ(Counters().writeCycles - cyclesBefore, c.length - 1);
    EXPECT_EQ(Summarize(handler_.Events()), "state:Writing... progress state:Verifying... progress result:1");
    EXPECT_TRUE(ProgressRunsComplete(handler_.Events()));
}

INSTANTIATE_TEST_SUITE_P(Ranges, MemoryRange, testing::ValuesIn(kRanges),
                         [](const testing::TestParamInfo<RangeCase> &info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------

struct RefusedCase {
    const char *name;
    uint32_t address, length;
    bool nullBuffer;
};

void PrintTo(const RefusedCase &c, std::ostream *os) { PrintCase(c, os); }

const RefusedCase kRefused[] = {
    {"Empty", 0, 0, false},
    {"OneBytePastTheEnd", kBytes - 1, 2, false},
    {"StartsAtTheEnd", kBytes, 1, false},
    {"AddressAndLengthWrapAround", 0xFFFFFFFF, 2, false},
    {"LongerThanTheDevice", 0, kBytes + 1, false},
    {"NullBuffer", 0, 4, true},
};

class RefusedRange : public MemoryJobTest, public testing::WithParamInterface<std::tuple<RefusedCase, bool>> {};

TEST_P(RefusedRange, StoresNothingAndTouchesNothing) {
    const auto &[c, blocking] = GetParam();
    AttachSmall();
    transport().ClearLog();
    std::vector<uint8_t> buffer(8, 0xEE);
    uint8_t *bytes = c.nullBuffer ? nullptr : buffer.data();

    EXPECT_EQ(zelReadMemory(c.address, bytes, c.length, blocking), 0);
    EXPECT_EQ(zelWriteMemory(c.address, bytes, c.length, blocking, 1), 0);

    EXPECT_EQ(zelIsBusy(), 0);
    EXPECT_TRUE(handler_.Events().empty());
    EXPECT_EQ(transport().WriteCount() + transport().ReadCount(), 0u);
    EXPECT_EQ(buffer, std::vector<uint8_t>(8, 0xEE));
}

INSTANTIATE_TEST_SUITE_P(Ranges, RefusedRange, testing::Combine(testing::ValuesIn(kRefused), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<RefusedCase, bool>> &info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "Blocking" : "Background");
                         });

TEST_F(MemoryJobTest, RefusedBeforeAttachAndWithoutAKnownSize) {
    uint8_t buffer[4] = {};
    EXPECT_EQ(zelReadMemory(0, buffer, 4, 1), 0);
    EXPECT_EQ(zelWriteMemory(0, buffer, 4, 1, 0), 0);
    ASSERT_TRUE(Attach(k24C02, 0, 0));
    EXPECT_EQ(zelReadMemory(0, buffer, 4, 1), 0);
    EXPECT_EQ(zelWriteMemory(0, buffer, 4, 1, 0), 0);
    EXPECT_TRUE(handler_.Events().empty());
}

// ---------------------------------------------------------------------------

enum class MemoryJob { Read, Write, WriteVerify, WriteVerifyInPages };

struct SequenceCase {
    const char *name;
    MemoryJob job;
    bool blocking;
    const char *sequence; // the body's callbacks, without the OnResult(0) of a background start
};

void PrintTo(const SequenceCase &c, std::ostream *os) { PrintCase(c, os); }

const SequenceCase kSequences[] = {
    {"ReadBlocking", MemoryJob::Read, true, "state:Reading... progress result:1"},
    {"ReadBackground", MemoryJob::Read, false, "state:Reading... progress result:1"},
    {"WriteBlocking", MemoryJob::Write, true, "state:Writing... progress result:1"},
    {"WriteBackground", MemoryJob::Write, false, "state:Writing... progress result:1"},
    {"WriteVerifyBlocking", MemoryJob::WriteVerify, true,
     "state:Writing... progress state:Verifying... progress result:1"},
    {"WriteVerifyBackground", MemoryJob::WriteVerify, false,
     "state:Writing... progress state:Verifying... progress result:1"},
    {"WriteVerifyInPagesBlocking", MemoryJob::WriteVerifyInPages, true,
     "state:Writing... progress state:Verifying... progress result:1"},
    {"WriteVerifyInPagesBackground", MemoryJob::WriteVerifyInPages, false,
     "state:Writing... progress state:Verifying... progress result:1"},
};

class MemorySequence : public MemoryJobTest, public testing::WithParamInterface<SequenceCase> {};

TEST_P(MemorySequence, CallbacksComeInOrderOnTheJobsThread) {
    const SequenceCase &c = GetParam();
    AttachSmall();
    std::vector<uint8_t> bytes = Pattern(200);
    if (c.job == MemoryJob::WriteVerifyInPages) {
        ASSERT_EQ(zelSetPageWrite(8), 1);
    }
    const std::thread::id caller = std::this_thread::get_id();
    const auto blocking = static_cast<uint8_t>(c.blocking);

    const int returned = c.job == MemoryJob::Read
                             ? zelReadMemory(30, bytes.data(), 200, blocking)
                             : zelWriteMemory(30, bytes.data(), 200, blocking, c.job != MemoryJob::Write);

    EXPECT_EQ(returned, 1);
    std::vector<HandlerEvent> events;
    if (!c.blocking) {
        EXPECT_EQ(handler_.WaitForWorkerResult(caller), 1);
        WaitUntilIdle();
        events = handler_.Events();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(Summarize({events.front()}), "result:0");
        EXPECT_EQ(events.front().thread, caller);
        events.erase(events.begin());
    } else {
        events = handler_.Events();
    }
    EXPECT_EQ(Summarize(events), c.sequence);
    EXPECT_TRUE(ProgressRunsComplete(events));
    for (const HandlerEvent &event : events) {
        EXPECT_EQ(event.thread == caller, c.blocking) << Summarize({event});
        EXPECT_EQ(event.busy, c.blocking ? 0 : 1) << Summarize({event});
    }
    EXPECT_EQ(zelGetResult(), 1);
    EXPECT_EQ(zelGetProgress(), 100);
}

INSTANTIATE_TEST_SUITE_P(EveryJob, MemorySequence, testing::ValuesIn(kSequences),
                         [](const testing::TestParamInfo<SequenceCase> &info) {
                             return std::string(info.param.name);
                         });

// zelStop from the worker's own handler: the job ends at its next step with
// result 0; a read leaves the buffer as it was, a write in pages leaves no
// page written in part.
class StopMemoryJob : public MemoryJobTest, public testing::WithParamInterface<MemoryJob> {};

TEST_P(StopMemoryJob, FromTheHandlerEndsItWithResultZero) {
    const bool read = GetParam() == MemoryJob::Read;
    AttachSmall();
    Target().Fill(0xFF);
    ASSERT_EQ(zelSetPageWrite(read ? 0 : 8), 1);
    std::vector<uint8_t> bytes(kBytes, 0x00);
    handler_.hook = [](const HandlerEvent &event) {
        if (event.kind == HandlerEvent::Kind::Progress && event.value >= 50) {
            zelStop();
        }
    };
    const std::thread::id caller = std::this_thread::get_id();
    ASSERT_EQ(read ? zelReadMemory(0, bytes.data(), kBytes, 0) : zelWriteMemory(0, bytes.data(), kBytes, 0, 1), 1);
    EXPECT_EQ(handler_.WaitForWorkerResult(caller), 0);
    WaitUntilIdle();
    handler_.hook = nullptr;

    EXPECT_EQ(zelGetResult(), 0);
    const std::vector<uint8_t> memory = Memory();
    if (read) {
        EXPECT_EQ(bytes, std::vector<uint8_t>(kBytes, 0x00));
    } else {
        EXPECT_EQ(memory.front(), 0x00);
        EXPECT_EQ(memory.back(), 0xFF);
        const auto written = static_cast<size_t>(std::count(memory.begin(), memory.end(), 0x00));
        EXPECT_EQ(written % 8, 0u) << "a page written in part";
    }
}

INSTANTIATE_TEST_SUITE_P(Jobs, StopMemoryJob, testing::Values(MemoryJob::Read, MemoryJob::WriteVerifyInPages),
                         [](const testing::TestParamInfo<MemoryJob> &info) {
                             return std::string(info.param == MemoryJob::Read ? "Read" : "WriteInPages");
                         });

TEST_F(MemoryJobTest, BackgroundReadFillsTheBufferOnlyJustBeforeTheResult) {
    AttachSmall();
    SetMemory(Pattern(kBytes));
    std::vector<uint8_t> buffer(100, 0xEE);
    std::vector<bool> untouchedAt; // per callback on the worker: buffer still as given
    const std::thread::id caller = std::this_thread::get_id();
    handler_.hook = [&](const HandlerEvent &event) {
        if (event.thread != caller) {
            untouchedAt.push_back(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xEE; }));
        }
    };

    ASSERT_EQ(zelReadMemory(100, buffer.data(), 100, 0), 1);
    EXPECT_EQ(handler_.WaitForWorkerResult(caller), 1);
    WaitUntilIdle();

    const std::vector<HandlerEvent> events = handler_.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().kind, HandlerEvent::Kind::Result);
    EXPECT_EQ(events.front().thread, caller);
    EXPECT_EQ(Summarize({events.begin() + 1, events.end()}), "state:Reading... progress result:1");
    ASSERT_GE(untouchedAt.size(), 3u);
    EXPECT_THAT(std::vector<bool>(untouchedAt.begin(), untouchedAt.end() - 1), testing::Each(true));
    EXPECT_FALSE(untouchedAt.back()); // at the OnResult the bytes are there
    const std::vector<uint8_t> cells = Pattern(kBytes);
    EXPECT_EQ(buffer, std::vector<uint8_t>(cells.begin() + 100, cells.begin() + 200));
}

TEST_F(MemoryJobTest, BackgroundWriteUsesTheBytesAsTheyWereWhenAccepted) {
    AttachSmall();
    Target().Fill(0xFF);
    std::vector<uint8_t> data = Pattern(16);
    const std::vector<uint8_t> given = data;
    const std::thread::id caller = std::this_thread::get_id();

    ASSERT_EQ(zelWriteMemory(0x20, data.data(), 16, 0, 1), 1);
    std::fill(data.begin(), data.end(), 0x00); // the host reuses its array at once
    EXPECT_EQ(handler_.WaitForWorkerResult(caller), 1);
    WaitUntilIdle();

    const std::vector<uint8_t> memory = Memory();
    EXPECT_EQ(std::vector<uint8_t>(memory.begin() + 0x20, memory.begin() + 0x30), given);
    EXPECT_EQ(Summarize(handler_.Events()),
              "result:0 state:Writing... progress state:Verifying... progress result:1");
}

// A 24C1025's sequential read stays inside its 64 KiB block: ranges across
// the boundary read, write and verify what the cells hold, in byte and in
// page writes, and the whole-image jobs, which read aligned chunks, are right.
TEST_F(MemoryJobTest, RangesAcrossTheBlockBoundaryOfA24C1025) {
    constexpr uint32_t kAt = 0xFFF0, kLength = 32;
    ASSERT_TRUE(Attach("SIMPART=24C1025 SIMTWR=0", 17, 4));
    std::vector<uint8_t> cells(0x20000); // the two blocks differ everywhere
    for (uint32_t k = 0; k < cells.size(); ++k) {
        cells[k] = static_cast<uint8_t>((k >> 16) * 0x80 + (k & 0x7F));
    }
    for (const int pageBytes : {0, 128}) {
        SCOPED_TRACE(pageBytes);
        ASSERT_EQ(zelSetPageWrite(pageBytes), 1);
        SetMemory(cells);
        std::vector<uint8_t> buffer(kLength, 0xEE);
        EXPECT_EQ(zelReadMemory(kAt, buffer.data(), kLength, 1), 1);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), cells.begin() + kAt));

        const std::vector<uint8_t> erased(kLength, 0xFF);
        EXPECT_EQ(zelWriteMemory(kAt, erased.data(), kLength, 1, 1), 1);
        std::vector<uint8_t> expected = cells;
        std::fill_n(expected.begin() + kAt, kLength, 0xFF);
        EXPECT_EQ(Memory(), expected);
    }
    const std::string image = TempPath("image.txt");
    WriteImageFile(image, WordsOf(Memory()));
    EXPECT_EQ(zelVerify(image.c_str(), 1), 1);
}

TEST_F(MemoryJobTest, WriteWithoutVerifyReadsNothingBack) {
    AttachSmall();
    const std::vector<uint8_t> data = {1, 2, 3};
    EXPECT_EQ(zelWriteMemory(7, data.data(), 3, 1, 0), 1);
    EXPECT_EQ(Summarize(handler_.Events()), "state:Writing... progress result:1");
}

TEST_F(MemoryJobTest, VerifyTellsEachDifferingByteWithItsAddress) {
    AttachSmall();
    Target().Fill(0xFF);
    Target().GetFaults().wornBytes = {0x25, 0x2A}; // acknowledge the write, keep 0xff
    const std::vector<uint8_t> data(16, 0x3C);

    EXPECT_EQ(zelWriteMemory(0x20, data.data(), 16, 1, 1), 0);

    EXPECT_THAT(Messages(handler_.Events()), ElementsAre("\n", "ERROR: byte 0x25 read as 0xff instead of 0x3c\n",
                                                         "\n", "ERROR: byte 0x2a read as 0xff instead of 0x3c\n"));
    EXPECT_EQ(zelGetResult(), 0);
}

TEST_F(MemoryJobTest, FailedReadLeavesTheBufferAsItWas) {
    AttachSmall();
    Target().GetFaults().nakByte = 1; // nothing answers from now on
    std::vector<uint8_t> buffer(130, 0xEE);

    EXPECT_EQ(zelReadMemory(0, buffer.data(), 130, 1), 0);

    EXPECT_EQ(buffer, std::vector<uint8_t>(130, 0xEE));
    EXPECT_EQ(zelGetResult(), 0);
}

TEST_F(MemoryJobTest, RefusedWhileABackgroundJobRuns) {
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=1", 8, 0));
    Target().Fill(0xFF);
    Signal started, release;
    const std::thread::id caller = std::this_thread::get_id();
    handler_.hook = [&](const HandlerEvent &event) {
        if (event.thread != caller && event.kind == HandlerEvent::Kind::State) {
            started.Set();
            release.Wait();
        }
    };
    ASSERT_EQ(zelClear(0x00, 0, 0), 1);
    started.Wait();
    uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    const int read = zelReadMemory(0, buffer, 4, 1);
    const int write = zelWriteMemory(0, buffer, 4, 0, 0);
    const int page = zelSetPageWrite(8);
    release.Set();
    EXPECT_EQ(handler_.WaitForWorkerResult(caller), 1);
    WaitUntilIdle();

    EXPECT_EQ(read, 0);
    EXPECT_EQ(write, 0);
    EXPECT_EQ(page, 0);
    EXPECT_EQ(Memory(), std::vector<uint8_t>(kBytes, 0x00)); // the clear ran in byte mode to its end
}

TEST_F(MemoryJobTest, RefusedFromInsideABlockingJobsCallback) {
    AttachSmall();
    uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    std::vector<int> returned;
    handler_.hook = [&](const HandlerEvent &event) {
        if (event.kind == HandlerEvent::Kind::State) {
            returned.push_back(zelReadMemory(0, buffer, 4, 1));
            returned.push_back(zelWriteMemory(0, buffer, 4, 1, 0));
            returned.push_back(zelSetPageWrite(8));
        }
    };
    ASSERT_EQ(zelClear(0x00, 1, 0), 1);
    handler_.hook = nullptr;

    EXPECT_THAT(returned, ElementsAre(0, 0, 0));
    EXPECT_EQ(Counters().writeCycles, kBytes); // the clear went on in byte mode
    EXPECT_EQ(Memory(), std::vector<uint8_t>(kBytes, 0x00));
}

} // namespace
} // namespace zeltest
