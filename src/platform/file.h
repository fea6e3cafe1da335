// Replacing a file whole: a new file is written next to the target and then
// moved over it, so that readers see either the old or the new contents.
#pragma once

#include <cstdio>
#include <string>

namespace zel::platform {

// The file that a move replaces when `path` is written: `path` itself (also
// when nothing has that name yet), or the file that a symbolic link at
// `path` leads to. False when the contents are to be written in place
// instead: a device, a folder, a file with several names, a file we may not
// write, a link that leads nowhere. May throw std::bad_alloc.
bool ReplacementTarget(const char *path, std::string *file);

enum class Created {
    kMade,      // *stream is open for writing
    kNameTaken, // an entry of that name exists; try another
    kFailed,    // no file can be made there
};

// Makes the file `name`, which must not exist yet (an existing entry, a
// link among them, is never opened or followed), and opens it for writing as
// fopen "w" does. The file takes the access mode and, where permitted, the
// owner of the existing file `model`; without one it gets the mode of any
// new file.
Created CreateNewFile(const char *name, const char *model, FILE **stream);

// Flushes `stream` through to the disk and closes it; true when every step
// succeeded.
bool CloseToDisk(FILE *stream);

enum class Moved {
    kDone,
    kTargetBusy, // another process holds `to` so that it cannot be replaced;
                 // writing it in place may still work
    kFailed,
};

// Moves the file `from` over `to`, replacing `to` in one step. Unless done,
// `from` still exists and `to` is as it was.
Moved MoveFileOver(const char *from, const char *to);

} // namespace zel::platform
