// The platform's version-information service, shaped like the Windows
// version API: a size query, a read of the whole block, and a value query
// that walks the block read.
#pragma once

#include <cstdint>

namespace zel::platform {

// Size in bytes of the version information of the file `fileName`, 0 when
// the file has none or cannot be found. *handle, if given, is set to 0.
uint32_t VersionInfoSize(const char *fileName, uint32_t *handle);

// Reads the version information of `fileName` into `data`, which holds
// `length` bytes (at least the size reported). Nonzero on success.
int ReadVersionInfo(const char *fileName, uint32_t handle, uint32_t length, void *data);

// Finds the value named by `subBlock` ("\\", "\\VarFileInfo\\Translation",
// "\\StringFileInfo\\080904B0\\FileVersion") in a block that ReadVersionInfo
// filled. *value points into the block; *length counts bytes for a binary
// value and narrow characters, terminating zero included, for a text value.
// Nonzero when the value was found.
int QueryVersionValue(void *block, const char *subBlock, void **value, unsigned *length);

} // namespace zel::platform
