// Where the modules of a process meet on POSIX: a shared memory object named after
// the user and the process, which holds the address of the process's table of named
// objects. Only named_posix.cpp and its tests use this.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace zel::platform {

inline constexpr char kMeetingMagic[8] = {'Z', 'E', 'L', 'N', 'A', 'M', 'E', 'D'};

// The content of the meeting point.
struct MeetingPoint {
    char magic[8];   // kMeetingMagic
    uint64_t table;  // the table's address in the process (and program image) that wrote it
    uint64_t cookie; // random, never 0; the table at that address holds the same value
};

inline constexpr size_t kMeetingNameSize = 96;

// "/zelapi-named1-<effective user>-<pid namespace>-<pid>". The 1 is the version of
// the layouts, so that builds with other layouts meet elsewhere; the namespace tells
// apart two processes of the same id that see the same shared memory.
inline void MeetingName(pid_t processId, char (&name)[kMeetingNameSize]) {
    struct stat space;
    const unsigned long long spaceId = stat("/proc/self/ns/pid", &space) == 0 ? space.st_ino : 0;
    snprintf(name, sizeof name, "/zelapi-named1-%u-%llu-%u", static_cast<unsigned>(geteuid()), spaceId,
             static_cast<unsigned>(processId));
}

} // namespace zel::platform
