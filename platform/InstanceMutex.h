#pragma once
// Named mutexes that live as long as a process holds them: the single-instance
// rule of the program. A name is a lock file in the user's runtime folder
// ($XDG_RUNTIME_DIR, else a private folder /tmp/tolvane-<uid>) held with
// flock; the kernel drops the lock when the holder ends, however it ends.
#include <string>

namespace platform {

struct NamedMutex;

// Opens or creates the mutex called name and takes it. *alreadyExists is
// true when another holder (another process, or another handle of this one)
// has it; the handle is returned all the same, as the system call does.
// nullptr when the lock file cannot be made or locked for another reason
// (*alreadyExists false then).
NamedMutex* CreateMutex(const std::string& name, bool* alreadyExists);

// Releases the handle (and the lock, when it held it).
void CloseHandle(NamedMutex* mutex);

// The lock file that stands for name.
std::string MutexPath(const std::string& name);

} // namespace platform
