#pragma once
// Named mutexes that live as long as a process holds them: the single-instance
// rule of the program. A name is a lock file in the program folder, beside
// the settings and the task store the rule keeps to one writer, held with
// flock; the kernel drops the lock when the holder ends, however it ends.
#include <string>

namespace platform {

struct NamedMutex;

// Opens or creates the mutex called name in folder (the program folder when
// empty) and takes it. *alreadyExists is true when another holder (another
// process, or another handle of this one) has it; the handle is returned all
// the same, as the system call does. nullptr when the lock file cannot be
// made or locked for another reason: *alreadyExists is false then and
// *failure says why, naming the file.
NamedMutex* CreateMutex(const std::string& name, bool* alreadyExists, std::string* failure = nullptr,
                        const std::string& folder = {});

// Releases the handle (and the lock, when it held it).
void CloseHandle(NamedMutex* mutex);

// The lock file that stands for name in folder (the program folder when empty).
std::string MutexPath(const std::string& name, const std::string& folder = {});

} // namespace platform
