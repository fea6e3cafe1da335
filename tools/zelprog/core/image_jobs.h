// Whole-EEPROM jobs on an open session, with the image as bytes (one per
// EEPROM cell, sized to the device). Each runs one library job through the
// job runner; the failure's Status names what went wrong.
#pragma once

#include "core/job.h"
#include "core/session.h"
#include "core/status.h"
#include "formats/image.h"

#include <cstdint>

namespace zelprog {

Status ProgramImage(const Session &session, const Bytes &image, bool verify, const JobControl &control);
Status VerifyImage(const Session &session, const Bytes &image, const JobControl &control);
// `readTwice`: read the EEPROM a second time and compare. On failure
// `image` is left as it was.
Status DumpImage(const Session &session, bool readTwice, Bytes &image, const JobControl &control);
Status ClearImage(const Session &session, uint8_t fill, bool verify, const JobControl &control);

} // namespace zelprog
