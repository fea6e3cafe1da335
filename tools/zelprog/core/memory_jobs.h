// Jobs on a range of EEPROM cells through the library's memory jobs: the
// rest of the EEPROM is neither read nor written.
#pragma once

#include "core/job.h"
#include "core/session.h"
#include "core/status.h"
#include "formats/image.h"

#include <cstdint>

namespace zelprog {

// A usage error naming the EEPROM's size unless [address, address + length)
// is a non-empty range inside it.
Status CheckRange(const Session &session, uint64_t address, uint64_t length);

// On failure `bytes` is left as it was.
Status ReadRange(uint32_t address, uint32_t length, Bytes &bytes, const JobControl &control);
// Writes the bytes that differ; `verify`: reads the range back and tells each
// byte that differs.
Status WriteRange(uint32_t address, const Bytes &bytes, bool verify, const JobControl &control);
// Reads the range and tells each byte that differs from `expected` as the
// library's verify does (MismatchEvent).
Status VerifyRange(uint32_t address, const Bytes &expected, const JobControl &control);

} // namespace zelprog
