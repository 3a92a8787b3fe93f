#include "Process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

namespace {

// The program's path: argv0 itself when it names a folder, else the first
// executable of that name in PATH; "" when there is none.
std::string FindProgram(const std::string& argv0)
{
    if (argv0.find('/') != std::string::npos)
        return argv0;
    const char* env = std::getenv("PATH");
    const std::string path = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
    for (size_t start = 0; start <= path.size();) {
        size_t colon = path.find(':', start);
        if (colon == std::string::npos)
            colon = path.size();
        const std::string folder = colon > start ? path.substr(start, colon - start) : ".";
        std::string candidate = folder + "/" + argv0;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = colon + 1;
    }
    return "";
}

// In the child between fork and exec: only async-signal-safe calls. Tells
// the parent why it failed through the pipe and ends.
[[noreturn]] void ChildFailed(int pipeFd)
{
    const int error = errno;
    ssize_t ignored = ::write(pipeFd, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

// In the child: every descriptor above 2 closes at the exec, whoever opened
// it and however (libraries such as net-snmp open theirs without
// close-on-exec). Marked rather than closed, so that the pipe that reports a
// failed exec stays open until the exec. A kernel that refuses the flag of
// close_range (before 5.11) gets each open descriptor marked, as
// /proc/self/fd lists them, read with system calls only; without /proc,
// every number up to the limit of open files.
void CloseOnExecAbove2()
{
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    const int list = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list >= 0) {
        alignas(dirent64) char buf[4096];
        long n;
        while ((n = ::syscall(SYS_getdents64, list, buf, sizeof buf)) > 0) {
            for (long at = 0; at < n;) {
                const auto* e = reinterpret_cast<const dirent64*>(buf + at);
                at += e->d_reclen;
                int fd = 0;
                const char* c = e->d_name;
                for (; *c >= '0' && *c <= '9'; ++c)
                    fd = fd * 10 + (*c - '0');
                if (*c == '\0' && c != e->d_name && fd > 2)
                    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
        }
        ::close(list);
        if (n == 0)
            return;
    }
    struct rlimit limit {};
    const rlim_t last =
        ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY ? limit.rlim_cur : rlim_t{1} << 20;
    for (rlim_t fd = 3; fd < last; ++fd)
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
}

} // namespace

bool Process::Start(const std::vector<std::string>& argv, std::string* error, const std::string& output)
{
    if (m_pid > 0 || argv.empty() || argv[0].empty()) {
        if (error)
            *error = argv.empty() || argv[0].empty() ? "no program" : "already started";
        return false;
    }
    // Everything the child needs is made here: between fork and exec a
    // threaded program may only make async-signal-safe calls.
    const std::string program = FindProgram(argv[0]);
    if (program.empty()) {
        if (error)
            *error = std::strerror(ENOENT);
        return false;
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const char* out = output.empty() ? "/dev/null" : output.c_str();
    const bool ownSession = m_ownSession;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        if (error)
            *error = std::strerror(errno);
        return false;
    }
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid == 0) {
        // The child ends with the thread that started it (the one that waits
        // for it), and so with the program however that ends; a parent gone
        // before this line is seen at once.
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0)
            ChildFailed(report[1]);
        if (::getppid() != parent)
            _exit(127);
        // Its own process group (a new session makes one of the same
        // number), default signal handling and no blocked signals, whatever
        // this process's threads had.
        if ((ownSession ? ::setsid() : ::setpgid(0, 0)) < 0)
            ChildFailed(report[1]);
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD})
            ::sigaction(sig, &defaults, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const int in = ::open("/dev/null", O_RDONLY);
        if (in < 0 || (in != 0 && ::dup2(in, 0) < 0))
            ChildFailed(report[1]);
        const int sink = ::open(out, O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (sink < 0 || (sink != 1 && ::dup2(sink, 1) < 0) || ::dup2(1, 2) < 0)
            ChildFailed(report[1]);
        if (in > 2)
            ::close(in);
        if (sink > 2)
            ::close(sink);
        CloseOnExecAbove2();
        ::execve(program.c_str(), args.data(), environ);
        ChildFailed(report[1]);
    }
    ::close(report[1]);
    if (pid < 0) {
        const int forkError = errno;
        ::close(report[0]);
        if (error)
            *error = std::strerror(forkError);
        return false;
    }
    // The pipe closes at the exec; an errno on it is the child's failure.
    int childError = 0;
    ssize_t n;
    while ((n = ::read(report[0], &childError, sizeof childError)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof childError)) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (error)
            *error = std::strerror(childError);
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
