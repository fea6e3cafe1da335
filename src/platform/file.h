// Replacing a file whole: a new file is written next to the target and then
// moved over it, so that readers see either the old or the new contents.
#pragma once

namespace zel::platform {

// True when `path` names no file, or a regular file that a move can replace
// without changing anything but its contents: not a link, not a device,
// not a directory, not one of several hard links.
bool ReplaceableByMove(const char *path);

// Moves the file `from` over `to`, replacing `to` in one step and keeping
// the access mode of a `to` that exists. False when the move failed; `from`
// then still exists.
bool MoveFileOver(const char *from, const char *to);

} // namespace zel::platform
