#include "Process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {
int PidFdOpen(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}
} // namespace

Process::~Process()
{
    if (m_pid > 0 && !m_ended)
        Stop(200);
    if (m_pidFd >= 0)
        close(m_pidFd);
}

bool Process::Start(const std::vector<std::string>& argv, std::string* error, const std::string& output)
{
    if (m_pid > 0 || argv.empty() || argv[0].empty()) {
        if (error)
            *error = argv.empty() || argv[0].empty() ? "no program" : "already started";
        return false;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const char* out = output.empty() ? "/dev/null" : output.c_str();
    posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    // Its own process group, default signal handling and no blocked signals,
    // whatever this process's threads had.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    // A new session also makes a new process group of the same number.
    int flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (m_ownSession) {
        flags |= POSIX_SPAWN_SETSID;
    } else {
        posix_spawnattr_setpgroup(&attr, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attr, static_cast<short>(flags));

    pid_t pid = -1;
    const bool lookUp = argv[0].find('/') == std::string::npos;
    int rc = lookUp ? posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ)
                    : posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        if (error)
            *error = std::strerror(rc);
        return false;
    }
    m_pid = pid;
    m_ended = false;
    m_exited = false;
    m_exitCode = -1;
    m_signal = 0;
    m_pidFd = PidFdOpen(pid);
    if (m_pidFd >= 0)
        fcntl(m_pidFd, F_SETFD, FD_CLOEXEC);
    return true;
}

void Process::Reaped(int status)
{
    m_ended = true;
    if (WIFEXITED(status)) {
        m_exited = true;
        m_exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        m_signal = WTERMSIG(status);
    }
}

bool Process::Running()
{
    if (m_pid <= 0 || m_ended)
        return false;
    int status = 0;
    pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) {
        Reaped(status);
        return false;
    }
    if (r < 0 && errno == ECHILD) {
        m_ended = true; // reaped elsewhere; its status is lost
        return false;
    }
    return true;
}

bool Process::Wait(int64_t realMs)
{
    if (!Running())
        return m_pid > 0;
    if (realMs < 0) {
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0) {
            if (errno != EINTR) {
                m_ended = true;
                return true;
            }
        }
        Reaped(status);
        return true;
    }
    if (m_pidFd >= 0) {
        struct pollfd p {
            m_pidFd, POLLIN, 0
        };
        int timeout = realMs > 0x7fffffff ? 0x7fffffff : static_cast<int>(realMs);
        while (poll(&p, 1, timeout) < 0 && errno == EINTR) {
        }
        return !Running();
    }
    // Without pidfds: short naps until it ends or the time is up.
    for (int64_t waited = 0; waited < realMs; waited += 10) {
        if (!Running())
            return true;
        usleep(10000);
    }
    return !Running();
}

void Process::Stop(int64_t graceMs)
{
    if (m_pid <= 0 || !Running())
        return;
    kill(-m_pid, SIGTERM);
    if (!Wait(graceMs)) {
        kill(-m_pid, SIGKILL);
        Wait(-1);
    } else {
        // The leader is gone; anything left in its group goes too.
        kill(-m_pid, SIGKILL);
    }
}

} // namespace platform
