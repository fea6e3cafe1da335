#include "core/image_jobs.h"

#include "core/file_io.h"
#include "core/temp_file.h"

#include <zelapi.h>

#include <functional>
#include <string>

namespace zelprog {
namespace {

Status PathTooLong() {
    return Status::Fail(kExitFile, "the temporary directory's path is too long: set TMPDIR to a shorter one");
}

// Runs a job whose start export was given the temporary image path.
Status RunImageJob(uint64_t bytes, const std::function<int()> &start, const std::string &what,
                   const JobControl &control) {
    return JobStatus(RunJob(start, bytes, control), what);
}

// The library reads and writes images as text files by path.
Status WriteForLibrary(const TempFile &temp, const Bytes &image) {
    if (temp.Path().size() > kMaxLibraryPath)
        return PathTooLong();
    std::string error;
    if (!WriteWholeFile(temp.Path(), EmitTextImage(image), error))
        return Status::Fail(kExitFile, error);
    return {};
}

} // namespace

Status ProgramImage(const Session &session, const Bytes &image, bool verify, const JobControl &control) {
    TempFile temp("program");
    Status status = WriteForLibrary(temp, image);
    if (!status.Ok())
        return status;
    const std::string path = temp.Path();
    return RunImageJob(
        session.GetGeometry()->Bytes(), [&] { return zelProgram(path.c_str(), 0, verify ? 1 : 0); }, "programming",
        control);
}

Status VerifyImage(const Session &session, const Bytes &image, const JobControl &control) {
    TempFile temp("verify");
    Status status = WriteForLibrary(temp, image);
    if (!status.Ok())
        return status;
    const std::string path = temp.Path();
    return RunImageJob(
        session.GetGeometry()->Bytes(), [&] { return zelVerify(path.c_str(), 0); }, "verifying", control);
}

Status DumpImage(const Session &session, bool readTwice, Bytes &image, const JobControl &control) {
    const std::size_t size = session.GetGeometry()->Bytes();
    TempFile temp("dump");
    const std::string path = temp.Path();
    if (path.size() > kMaxLibraryPath)
        return PathTooLong();
    const Status status = RunImageJob(
        size, [&] { return zelDump(path.c_str(), 0, readTwice ? 1 : 0); }, readTwice ? "reading twice" : "reading",
        control);
    if (!status.Ok())
        return status.code == kExitJobFailed ? Status::Fail(kExitJobFailed, status.message + "; nothing written")
                                             : status;
    std::string text, error;
    Bytes read;
    if (!ReadWholeFile(path, text, error) || !ParseTextImage(text, size, read, error))
        return Status::Fail(kExitFile, "the library's dump could not be read back: " + error);
    image = std::move(read);
    return {};
}

Status ClearImage(const Session &session, uint8_t fill, bool verify, const JobControl &control) {
    return RunImageJob(
        session.GetGeometry()->Bytes(), [&] { return zelClear(fill, 0, verify ? 1 : 0); }, "clearing", control);
}

} // namespace zelprog
