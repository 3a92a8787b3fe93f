// The single-instance rule of the real program: a second start is refused
// with a box, "-r" answers in ./running.ini whether a copy runs, the lock
// goes away with the process that held it, and a lock that cannot be taken
// for another reason stops the start.
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

const char kName[] = "QUOM instance";

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
    std::unique_ptr<TempDir> m_program; // the program's folder, its lock beside its settings
    std::unique_ptr<TempDir> m_cwd;     // the current folder of the program

    // Runs tolvane from m_program with arguments in m_cwd, with no runtime
    // folder of the user's; its output (both streams).
    std::string RunProgram(const std::string& args, int* status, bool debug = false)
    {
        std::string command = "cd " + Quote(m_cwd->path().string()) +
                              " && env -u XDG_RUNTIME_DIR QT_QPA_PLATFORM=offscreen " +
                              (debug ? "TOLVANE_DEBUG=1 " : "") + "timeout 60 " +
                              Quote((m_program->path() / "tolvane").string()) + " " + args + " 2>&1";
        return RunCommand(command, status);
    }

    platform::NamedMutex* Take(bool* exists = nullptr)
    {
        return platform::CreateMutex(kName, exists, nullptr, m_program->path().string());
    }

    std::filesystem::path RunningIni() const { return m_cwd->path() / "running.ini"; }

private slots:
    void init()
    {
        m_program = std::make_unique<TempDir>();
        testsupport::PlaceProgram(BinDir() / "tolvane", m_program->path());
        m_cwd = std::make_unique<TempDir>();
    }
    void cleanup()
    {
        m_cwd.reset();
        m_program.reset();
    }

    void secondStartIsRefusedAndLeavesTheFirstAlone()
    {
        bool exists = true;
        platform::NamedMutex* first = Take(&exists);
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
        platform::NamedMutex* again = Take(&exists);
        QVERIFY(exists);
        platform::CloseHandle(again);
        platform::CloseHandle(first);
    }

    void probeWhileACopyRunsWritesTheKey()
    {
        platform::NamedMutex* first = Take();
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
        platform::NamedMutex* mutex = Take(&exists);
        QVERIFY(mutex != nullptr);
        QVERIFY(!exists);
        platform::CloseHandle(mutex);
    }

    void aProbeThatCannotWriteOnlyTracesTheError()
    {
        platform::NamedMutex* first = Take();
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
            platform::NamedMutex* m = Take(&exists);
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

    void aLockThatCannotBeTakenStopsTheStart()
    {
        const std::filesystem::path lock = m_program->path() / "QUOM instance.lock";
        QCOMPARE(platform::MutexPath(kName, m_program->path().string()), lock.string());
        const std::filesystem::path elsewhere = m_cwd->path() / "elsewhere";
        const struct {
            const char* what;
            std::function<void()> make;
            const char* reason;
        } cases[] = {
            {"a folder in its place", [&] { std::filesystem::create_directory(lock); }, "Is a directory"},
            {"a link to another file", [&] { std::filesystem::create_symlink(elsewhere, lock); },
             "Too many levels of symbolic links"},
        };
        for (const auto& c : cases) {
            std::filesystem::remove_all(lock);
            testsupport::WriteFile(elsewhere, "theirs");
            c.make();
            std::string failure = "-";
            QVERIFY2(platform::CreateMutex(kName, nullptr, &failure, m_program->path().string()) == nullptr, c.what);
            QCOMPARE(failure, lock.string() + ": cannot open: " + c.reason);

            int status = -1;
            std::string out = RunProgram("", &status);
            QCOMPARE(status, 0);
            QVERIFY2(out.find("Tolvane cannot start: it cannot make sure that only one copy runs.\n" + failure) !=
                         std::string::npos,
                     out.c_str());
            // Nothing started: the login memory beside the program was not made.
            QVERIFY2(!std::filesystem::exists(m_program->path() / "quom.ini"), c.what);
            QCOMPARE(ReadFile(elsewhere), std::string("theirs"));

            // The probe cannot tell either, and says so instead of answering.
            out = RunProgram("-r", &status);
            QVERIFY2(out.find(failure) != std::string::npos, out.c_str());
            QVERIFY(!std::filesystem::exists(RunningIni()));
        }
    }
};

QTEST_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
