// A host as MSVC builds it (clang in MSVC mode, no C runtime): it binds to
// zelapi.dll through zelapi.lib under MSVC's names, the decorated C++ names
// of SetZelHandler and zelReadHeader among them.
#include "zelapi.h"

extern "C" int mainCRTStartup() {
    char version[16] = {};
    SetZelHandler(nullptr);
    const long header = zelReadHeader(); // no EEPROM attached: 0
    const bool versionRead = zelGetVersion(version) == 1 && version[0] == '2' && version[1] == '.';
    return versionRead && header == 0 ? 0 : 1;
}
