#include "ShellOpen.h"

#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace platform {
namespace {

std::mutex g_lock;
ShellOpenFunction g_open;

bool SpawnOpener(const std::string& target)
{
    std::string program = "xdg-open";
    std::string argument = target;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0)
        return false;
    // The opener may outlive the call (a browser it starts stays); reap it
    // whenever it ends.
    std::thread([pid] {
        int status = 0;
        waitpid(pid, &status, 0);
    }).detach();
    return true;
}

} // namespace

bool ShellOpen(const std::string& target)
{
    ShellOpenFunction open;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        open = g_open;
    }
    return open ? open(target) : SpawnOpener(target);
}

ShellOpenFunction SetShellOpenFunction(ShellOpenFunction open)
{
    std::lock_guard<std::mutex> guard(g_lock);
    ShellOpenFunction old = std::move(g_open);
    g_open = std::move(open);
    return old;
}

} // namespace platform
