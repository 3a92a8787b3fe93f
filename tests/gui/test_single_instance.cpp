// The single-instance rule of the real program: a second start is refused
// with a box, "-r" answers in ./running.ini whether a copy runs, and the lock
// goes away with the process that held it.
#include <QtTest>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "InstanceMutex.h"
#include "Profile.h"
#include "TestSupport.h"

using testsupport::BinDir;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

std::string Quote(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
    std::unique_ptr<TempDir> m_runtime; // the user's runtime folder for this test
    std::unique_ptr<TempDir> m_cwd;     // the current folder of the program

    // Runs tolvane with arguments in m_cwd; its output (both streams).
    std::string RunProgram(const std::string& args, int* status, bool debug = false)
    {
        std::string command = "cd " + Quote(m_cwd->path().string()) +
                              " && XDG_RUNTIME_DIR=" + Quote(m_runtime->path().string()) +
                              " QT_QPA_PLATFORM=offscreen " + (debug ? "TOLVANE_DEBUG=1 " : "") + "timeout 60 " +
                              Quote((BinDir() / "tolvane").string()) + " " + args + " 2>&1";
        return RunCommand(command, status);
    }

    std::filesystem::path RunningIni() const { return m_cwd->path() / "running.ini"; }

private slots:
    void init()
    {
        m_runtime = std::make_unique<TempDir>();
        m_cwd = std::make_unique<TempDir>();
        std::filesystem::permissions(m_runtime->path(), std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", m_runtime->path().c_str(), 1);
    }
    void cleanup()
    {
        m_cwd.reset();
        m_runtime.reset();
    }

    void secondStartIsRefusedAndLeavesTheFirstAlone()
    {
        bool exists = true;
        platform::NamedMutex* first = platform::CreateMutex("QUOM instance", &exists);
        QVERIFY(first != nullptr);
        QVERIFY(!exists);

        int status = -1;
        std::string out = RunProgram("", &status);
        QCOMPARE(status, 0);
        QVERIFY2(out.find("Tolvane is running now") != std::string::npos, out.c_str());
        // No window, no login road, nothing written.
        QVERIFY2(out.find("dialog") == std::string::npos, out.c_str());
        QVERIFY(!std::filesystem::exists(RunningIni()));

        // The first copy still holds the lock.
        platform::NamedMutex* again = platform::CreateMutex("QUOM instance", &exists);
        QVERIFY(exists);
        platform::CloseHandle(again);
        platform::CloseHandle(first);
    }

    void probeWhileACopyRunsWritesTheKey()
    {
        platform::NamedMutex* first = platform::CreateMutex("QUOM instance", nullptr);
        QVERIFY(first != nullptr);
        testsupport::WriteFile(RunningIni(), "[other]\nkey=1\n");

        int status = -1;
        std::string out = RunProgram("-r", &status);
        QCOMPARE(status, 0);
        QVERIFY2(out.find("Tolvane is running now") == std::string::npos, out.c_str());
        QCOMPARE(platform::GetPrivateProfileString("nas", "running", "", RunningIni().string()), std::string("yes"));
        QCOMPARE(platform::GetPrivateProfileString("other", "key", "", RunningIni().string()), std::string("1"));

        // Any word that holds the two characters counts as the switch.
        std::filesystem::remove(RunningIni());
        out = RunProgram("x -run", &status);
        QCOMPARE(status, 0);
        QCOMPARE(platform::GetPrivateProfileString("nas", "running", "", RunningIni().string()), std::string("yes"));
        platform::CloseHandle(first);
    }

    void probeWithNoCopyWritesNothingAndStartsNothing()
    {
        int status = -1;
        std::string out = RunProgram("-r", &status);
        QCOMPARE(status, 0);
        QVERIFY(!std::filesystem::exists(RunningIni()));
        QVERIFY2(out.find("dialog") == std::string::npos, out.c_str());
        // The probe's lock went with it.
        bool exists = true;
        platform::NamedMutex* mutex = platform::CreateMutex("QUOM instance", &exists);
        QVERIFY(mutex != nullptr);
        QVERIFY(!exists);
        platform::CloseHandle(mutex);
    }

    void aProbeThatCannotWriteOnlyTracesTheError()
    {
        platform::NamedMutex* first = platform::CreateMutex("QUOM instance", nullptr);
        std::filesystem::create_directory(RunningIni()); // cannot be written as a file
        int status = -1;
        std::string out = RunProgram("-r", &status, true);
        QCOMPARE(status, 0);
        QVERIFY(std::filesystem::is_directory(RunningIni()));
        QVERIFY2(out.find("The Para is :-r") != std::string::npos, out.c_str());
        // The last trace line is the decimal error code.
        std::string last = out.substr(0, out.find_last_not_of('\n') + 1);
        last = last.substr(last.rfind('\n') + 1);
        QVERIFY2(!last.empty() && last.find_first_not_of("0123456789") == std::string::npos, out.c_str());
        platform::CloseHandle(first);
    }

    void theLockDiesWithItsHolder()
    {
        int ready[2];
        QVERIFY(pipe(ready) == 0);
        pid_t holder = fork();
        if (holder == 0) {
            bool exists = false;
            platform::NamedMutex* m = platform::CreateMutex("QUOM instance", &exists);
            char c = (m != nullptr && !exists) ? '1' : '0';
            (void)!write(ready[1], &c, 1);
            for (;;)
                pause();
        }
        close(ready[1]);
        char c = 0;
        QCOMPARE(read(ready[0], &c, 1), ssize_t(1));
        close(ready[0]);
        QCOMPARE(c, '1');

        int status = -1;
        RunProgram("-r", &status);
        QCOMPARE(platform::GetPrivateProfileString("nas", "running", "", RunningIni().string()), std::string("yes"));

        // Killed outright: no clean-up runs, the lock goes all the same.
        kill(holder, SIGKILL);
        waitpid(holder, nullptr, 0);
        std::filesystem::remove(RunningIni());
        RunProgram("-r", &status);
        QCOMPARE(status, 0);
        QVERIFY(!std::filesystem::exists(RunningIni()));
    }

    void lockFilesLiveInAPrivateFolder()
    {
        const std::string path = platform::MutexPath("QUOM instance");
        QCOMPARE(path, (m_runtime->path() / "QUOM instance.lock").string());
        // A runtime folder others may write to is not used.
        std::filesystem::permissions(m_runtime->path(), std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::add);
        const std::string fallback = platform::MutexPath("QUOM instance");
        QVERIFY(fallback.rfind("/tmp/tolvane-", 0) == 0);
        struct stat st {};
        QVERIFY(stat(std::filesystem::path(fallback).parent_path().c_str(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
    }
};

QTEST_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
