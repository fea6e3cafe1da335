// Functions found at run time in a library that is already loaded.
#pragma once

namespace zel::platform {

// The function `name` exported by the module (shared library, DLL or the
// program itself) that holds the code at `anchor`; null when that module
// exports no such function. Loads nothing.
void *FindSiblingFunction(const void *anchor, const char *name);

} // namespace zel::platform
