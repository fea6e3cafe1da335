#include "core/memory_jobs.h"

#include "formats/line_reader.h"

#include <zelapi.h>

namespace zelprog {
namespace {

std::string RangeText(uint64_t address, uint64_t length) {
    return "0x" + ToHex(address) + "..0x" + ToHex(address + length - 1);
}

// Tells each byte of `read` that differs from `expected`; the count.
int Compare(uint32_t address, const Bytes &expected, const Bytes &read, const JobControl &control) {
    int differ = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (read[i] == expected[i])
            continue;
        ++differ;
        if (control.sink)
            control.sink(MismatchEvent(address + i, read[i], expected[i]));
    }
    return differ;
}

} // namespace

Status CheckRange(const Session &session, uint64_t address, uint64_t length) {
    const uint64_t size = session.GetGeometry()->Bytes();
    if (length == 0)
        return Status::Fail(kExitUsage, "the range is empty: give a --length of at least 1");
    if (address >= size || length > size - address)
        return Status::Fail(kExitUsage, "the range " + RangeText(address, length) + " does not fit the " +
                                            std::to_string(size) + "-byte EEPROM (0x0..0x" + ToHex(size - 1) +
                                            ")");
    return {};
}

Status ReadRange(uint32_t address, uint32_t length, Bytes &bytes, const JobControl &control) {
    Bytes buffer(length);
    const JobReport report =
        RunJob([&] { return zelReadMemory(address, buffer.data(), length, 0); }, length, control);
    Status status = JobStatus(report, "reading " + RangeText(address, length));
    if (status.Ok())
        bytes = std::move(buffer);
    return status;
}

Status WriteRange(uint32_t address, const Bytes &bytes, bool verify, const JobControl &control) {
    const auto length = static_cast<uint32_t>(bytes.size());
    const JobReport report =
        RunJob([&] { return zelWriteMemory(address, bytes.data(), length, 0, verify ? 1 : 0); }, length, control);
    return JobStatus(report, "writing " + RangeText(address, length));
}

Status VerifyRange(uint32_t address, const Bytes &expected, const JobControl &control) {
    Bytes read;
    Status status = ReadRange(address, static_cast<uint32_t>(expected.size()), read, control);
    if (!status.Ok())
        return status;
    const int differ = Compare(address, expected, read, control);
    if (differ == 0)
        return {};
    return Status::Fail(kExitJobFailed,
                        "verifying " + RangeText(address, expected.size()) + " failed: " + DifferingBytes(differ));
}

} // namespace zelprog
