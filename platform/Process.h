#pragma once
// Starts a program as a child process: an argument vector (never a shell),
// standard input from /dev/null, standard output and error to /dev/null or to
// a file and no other descriptor of this program (whoever opened it, with or
// without close-on-exec), in a process group of its own so that stopping it
// ends everything it started. The child gets SIGTERM when the thread that
// started it ends, and so when the program ends however it ends (a kill
// included): start it from the thread that waits for it. The exit status is
// kept once it has ended.
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

class Process {
public:
    Process() = default;
    // Ends a child that still runs (its whole group) and reaps it.
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // argv[0] is a path, or a name looked up in PATH. output: a file that
    // receives standard output and error ("" for /dev/null). False with the
    // system's reason when the program cannot be started.
    bool Start(const std::vector<std::string>& argv, std::string* error = nullptr, const std::string& output = "");
    // Before Start: the child gets a session of its own (setsid) instead of
    // only a process group, so it has no controlling terminal and a program
    // that would ask for a password there fails at once.
    void SetOwnSession(bool own) { m_ownSession = own; }

    // Whether the child still runs (reaps it when it has ended).
    bool Running();
    // Waits up to realMs real milliseconds for the child to end (-1: for
    // ever); true when it has ended.
    bool Wait(int64_t realMs);

    // Once ended: whether it exited (rather than died of a signal), its exit
    // code, its signal.
    bool Exited() const { return m_ended && m_exited; }
    int ExitCode() const { return m_exitCode; }
    int TermSignal() const { return m_signal; }

    // Stops the child and everything in its group: SIGTERM, then SIGKILL
    // after graceMs real milliseconds; waits for it.
    void Stop(int64_t graceMs = 1000);

    pid_t Pid() const { return m_pid; }

private:
    void Reaped(int status);

    pid_t m_pid = -1;
    int m_pidFd = -1;
    bool m_ended = false;
    bool m_exited = false;
    int m_exitCode = -1;
    int m_signal = 0;
    bool m_ownSession = false;
};

} // namespace platform
