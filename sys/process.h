// Process-wide services: scheduling priority and the single-instance guard.
#pragma once

#include <string>

namespace sys {

// Opens the null device on each of the standard descriptors 0, 1 and 2 that is closed, so
// that no file the tool opens later takes the place of a standard stream. Call first.
void EnsureStandardDescriptors();

// 1 idle, 3 high, anything else normal. Failure (no right to raise the priority) is
// ignored, as the run goes on at the priority it has.
void SetProcessPriority(int level);

enum class InstanceLock { kAcquired, kAlreadyRunning, kUnavailable };

// Takes the named single-instance lock for the rest of the process's life. kAlreadyRunning
// when it is held already (by another process, or by an earlier call); kUnavailable when
// the lock cannot be taken at all, which lets the run go on. The lock is the user's own: on
// POSIX a file in $XDG_RUNTIME_DIR, or else in $TMPDIR/trevalo-<uid> (default /tmp), used only
// while nobody else can write in the directory, and never opened through a link.
InstanceLock AcquireSingleInstanceLock(const std::string& name);

}  // namespace sys
