// RunFromPrivateProgramFolder (TestSupport.h): one folder per run of a test
// program, holding a link of the program and what it loads from its folder.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

constexpr char kMark[] = "TOLVANE_PRIVATE_PROGRAM_FOLDER";
constexpr char kInfix[] = ".private-";
constexpr int kForwarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile sig_atomic_t g_child = 0;

void Forward(int signal)
{
    if (g_child > 0)
        ::kill(static_cast<pid_t>(g_child), signal);
}

[[noreturn]] void Die(const std::string& why)
{
    std::fprintf(stderr, "private program folder: %s\n", why.c_str());
    std::fflush(stderr);
    std::_Exit(125);
}

bool IsSharedLibrary(const fs::path& file)
{
    const std::string name = file.filename().string();
    return name.size() > 3 && (name.ends_with(".so") || name.find(".so.") != std::string::npos);
}

// Folders "<program>.private-<pid>-XXXXXX" whose process is gone.
void RemoveStaleFolders(const fs::path& programFolder, const std::string& program)
{
    const std::string prefix = program + kInfix;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(programFolder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0 || !entry.is_directory(ec))
            continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
            fs::remove_all(entry.path(), ec);
    }
}

// A hard link of from at to, or a copy (keeping its permissions) where
// links cannot be made.
void LinkOrCopy(const fs::path& from, const fs::path& to)
{
    std::error_code ec;
    fs::create_hard_link(from, to, ec);
    if (ec) {
        ec.clear();
        fs::copy_file(from, to, ec);
    }
    if (ec)
        Die("cannot place " + from.string() + ": " + ec.message());
}

} // namespace

void PlaceProgram(const fs::path& program, const fs::path& folder)
{
    std::error_code ec;
    LinkOrCopy(program, folder / program.filename());
    for (const fs::directory_entry& entry : fs::directory_iterator(program.parent_path(), ec)) {
        if (IsSharedLibrary(entry.path()) && entry.is_regular_file(ec))
            LinkOrCopy(entry.path(), folder / entry.path().filename());
        else if (entry.path().filename() == "Styles" && entry.is_directory(ec))
            fs::create_directory_symlink(entry.path(), folder / "Styles", ec);
    }
}

fs::path PrivateProgramFolder()
{
    const char* mark = std::getenv(kMark);
    return mark ? fs::path(mark) : fs::path();
}

void RunFromPrivateProgramFolder(int argc, char** argv)
{
    (void)argc;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        Die("cannot find the test program: " + ec.message());
    const char* mark = std::getenv(kMark);
    if (mark != nullptr && fs::equivalent(exe.parent_path(), mark, ec))
        return; // the copy

    const fs::path home = exe.parent_path();
    const std::string program = exe.filename().string();
    RemoveStaleFolders(home, program);
    std::string pattern = (home / (program + kInfix + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        Die("cannot make a folder beside " + exe.string() + ": " + std::strerror(errno));
    const fs::path folder = pattern;
    const fs::path copy = folder / program;
    PlaceProgram(exe, folder);

    // Signals that end a run reach the copy too; the folder goes either way.
    sigset_t forwarded, old;
    sigemptyset(&forwarded);
    for (int s : kForwarded)
        sigaddset(&forwarded, s);
    sigprocmask(SIG_BLOCK, &forwarded, &old);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        Die(std::string("fork: ") + std::strerror(errno));
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigprocmask(SIG_SETMASK, &old, nullptr);
        ::setenv(kMark, folder.c_str(), 1);
        ::execv(copy.c_str(), argv);
        Die("cannot run " + copy.string() + ": " + std::strerror(errno));
    }
    g_child = child;
    struct sigaction action {};
    action.sa_handler = Forward;
    sigemptyset(&action.sa_mask);
    for (int s : kForwarded)
        sigaction(s, &action, nullptr);
    sigprocmask(SIG_SETMASK, &old, nullptr);

    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    fs::remove_all(folder, ec);
    std::fflush(nullptr);
    if (WIFSIGNALED(status)) {
        std::signal(WTERMSIG(status), SIG_DFL);
        ::raise(WTERMSIG(status));
    }
    std::_Exit(WIFEXITED(status) ? WEXITSTATUS(status) : 125);
}

} // namespace testsupport
