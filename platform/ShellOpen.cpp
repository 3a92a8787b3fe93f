#include "ShellOpen.h"

#include <utility>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace platform {
namespace {

std::mutex g_lock;
ShellOpenFunction g_open;

bool SpawnOpener(const std::string& target, std::function<void(int status)> failed = {})
{
    std::string program = "xdg-open";
    std::string argument = target;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0)
        return false;
    // The opener may outlive the call (a browser it starts stays); reap it
    // whenever it ends.
    std::thread([pid, failed = std::move(failed)] {
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) != 0 && failed)
            failed(WEXITSTATUS(status));
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

void ShellOpen(const std::string& target, const std::function<void(int status)>& failed)
{
    ShellOpenFunction open;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        open = g_open;
    }
    const bool started = open ? open(target) : SpawnOpener(target, failed);
    if (!started && failed)
        failed(-1);
}

std::string ShellOpenFailure(int status)
{
    // xdg-open's exit statuses.
    switch (status) {
    case -1: return "the opener (xdg-open) could not be started";
    case 1: return "the opener (xdg-open) did not accept it";
    case 2: return "it does not exist";
    case 3: return "no program to open it was found";
    case 4: return "the program that opens it failed";
    default: return "the opener (xdg-open) ended with status " + std::to_string(status);
    }
}

ShellOpenFunction SetShellOpenFunction(ShellOpenFunction open)
{
    std::lock_guard<std::mutex> guard(g_lock);
    return std::exchange(g_open, std::move(open));
}

} // namespace platform
