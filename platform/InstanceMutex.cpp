#include "InstanceMutex.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

struct NamedMutex {
    int fd = -1;
    bool owner = false;
};

namespace {

bool IsUsableFolder(const std::string& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string RuntimeFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && IsUsableFolder(runtime))
        return runtime;
    // A folder of our own under /tmp: nobody else can plant the lock file.
    std::string folder = "/tmp/tolvane-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    return IsUsableFolder(folder) ? folder : std::string();
}

std::string FileNameOf(const std::string& name)
{
    std::string file;
    for (char c : name)
        file += (c == '/' || c == '\0') ? '_' : c;
    return file + ".lock";
}

} // namespace

std::string MutexPath(const std::string& name)
{
    std::string folder = RuntimeFolder();
    if (folder.empty())
        return {};
    return folder + "/" + FileNameOf(name);
}

NamedMutex* CreateMutex(const std::string& name, bool* alreadyExists)
{
    if (alreadyExists != nullptr)
        *alreadyExists = false;
    std::string path = MutexPath(name);
    if (path.empty())
        return nullptr;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return nullptr;
    auto* mutex = new NamedMutex;
    mutex->fd = fd;
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        mutex->owner = true;
    } else if (errno == EWOULDBLOCK) {
        if (alreadyExists != nullptr)
            *alreadyExists = true;
    } else {
        close(fd);
        delete mutex;
        return nullptr;
    }
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
