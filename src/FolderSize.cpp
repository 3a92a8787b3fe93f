#include "FolderSize.h"

#include "BlockingCalls.h"

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Walks an open directory; the descriptor is consumed.
uint64_t SizeOfDirectory(int dirFd, int depth)
{
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        close(dirFd);
        return 0;
    }
    uint64_t total = 0;
    while (struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        struct stat st {};
        if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            // Deep trees end somewhere; a bound keeps a hostile one from
            // exhausting the stack or the descriptors.
            if (depth >= 512)
                continue;
            int child = openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                total += SizeOfDirectory(child, depth + 1);
        } else if (S_ISREG(st.st_mode)) {
            total += static_cast<uint64_t>(st.st_size);
        }
    }
    closedir(dir);
    return total;
}

} // namespace

uint64_t GetFolderSize(const std::string& path)
{
    NoteBlockingCall(BlockingCall::FolderWalk);
    if (path.empty())
        return 0;
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    return SizeOfDirectory(fd, 0);
}

std::string FormatFileSize(int64_t n)
{
    char buf[64];
    if (n < 1024)
        std::snprintf(buf, sizeof buf, "%d Bytes", static_cast<int>(n));
    else if (n < 1048576)
        std::snprintf(buf, sizeof buf, "%d KB", static_cast<int>(n / 1024));
    else if (n < 1073741824)
        std::snprintf(buf, sizeof buf, "%.2f MB", static_cast<double>(n) / 1048576.0);
    else
        std::snprintf(buf, sizeof buf, "%.2f GB", static_cast<double>(n) / 1073741824.0);
    return buf;
}
