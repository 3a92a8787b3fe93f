#include "InstanceMutex.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "Paths.h"

namespace platform {

struct NamedMutex {
    int fd = -1;
    bool owner = false;
};

namespace {

std::string FileNameOf(const std::string& name)
{
    std::string file;
    for (char c : name)
        file += (c == '/' || c == '\0') ? '_' : c;
    return file + ".lock";
}

} // namespace

std::string MutexPath(const std::string& name, const std::string& folder)
{
    std::string where = folder.empty() ? ProgramFolder() : folder;
    if (!where.empty() && where.back() != '/')
        where += '/';
    return where + FileNameOf(name);
}

NamedMutex* CreateMutex(const std::string& name, bool* alreadyExists, std::string* failure, const std::string& folder)
{
    if (alreadyExists != nullptr)
        *alreadyExists = false;
    const std::string path = MutexPath(name, folder);
    auto fail = [&](const char* step) -> NamedMutex* {
        if (failure != nullptr)
            *failure = path + ": " + step + ": " + std::strerror(errno);
        return nullptr;
    };
    // A link is not followed: nobody can point the lock at a file of theirs.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // A lock file that is there already locks as well through a read-only
    // handle (a folder the user may not write to).
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        const int first = errno;
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        // No lock file to fall back on: the folder's refusal is the reason.
        if (fd < 0 && errno == ENOENT)
            errno = first;
    }
    if (fd < 0)
        return fail("cannot open");
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno != EWOULDBLOCK) {
        const int err = errno;
        close(fd);
        errno = err;
        return fail("cannot lock");
    }
    auto* mutex = new NamedMutex;
    mutex->fd = fd;
    mutex->owner = rc == 0;
    if (rc != 0 && alreadyExists != nullptr)
        *alreadyExists = true;
    return mutex;
}

void CloseHandle(NamedMutex* mutex)
{
    if (mutex == nullptr)
        return;
    if (mutex->fd >= 0)
        close(mutex->fd);
    delete mutex;
}

} // namespace platform
