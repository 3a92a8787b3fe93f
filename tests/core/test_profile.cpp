#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Profile.h"
#include "TestSupport.h"

using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(Profile, MissingFileSectionOrKeyGivesDefault)
{
    TempDir dir;
    std::string file = (dir / "none.ini").string();
    EXPECT_EQ(GetPrivateProfileString("s", "k", "dflt", file), "dflt");
    EXPECT_EQ(GetPrivateProfileString("s", "k", nullptr, file), "");
    WriteFile(file, "[s]\nk=v\n");
    EXPECT_EQ(GetPrivateProfileString("t", "k", "dflt", file), "dflt");
    EXPECT_EQ(GetPrivateProfileString("s", "x", "dflt", file), "dflt");
}

TEST(Profile, NamesMatchWithoutCaseAndValuesAreTrimmedAndUnquoted)
{
    TempDir dir;
    std::string file = (dir / "a.ini").string();
    WriteFile(file, "; comment\r\n[Last_Login]\r\n  MAC =  00:11:22:AA:BB:CC  \r\n"
                    "q=\"  quoted  \"\r\nsingle='x'\r\nodd=\"half\r\ninner=a\"b\"c\r\n");
    EXPECT_EQ(GetPrivateProfileString("last_login", "mac", "", file), "00:11:22:AA:BB:CC");
    EXPECT_EQ(GetPrivateProfileString("LAST_LOGIN", "Mac", "", file), "00:11:22:AA:BB:CC");
    EXPECT_EQ(GetPrivateProfileString("last_login", "q", "", file), "  quoted  ");
    EXPECT_EQ(GetPrivateProfileString("last_login", "single", "", file), "x");
    EXPECT_EQ(GetPrivateProfileString("last_login", "odd", "", file), "\"half");
    EXPECT_EQ(GetPrivateProfileString("last_login", "inner", "", file), "a\"b\"c");
}

TEST(Profile, WriteCreatesFileAndSectionAndKeepsOrder)
{
    TempDir dir;
    std::string file = (dir / "new.ini").string();
    ASSERT_TRUE(WritePrivateProfileString("one", "a", "1", file));
    ASSERT_TRUE(WritePrivateProfileString("two", "b", "2", file));
    ASSERT_TRUE(WritePrivateProfileString("one", "c", "3", file));
    ASSERT_TRUE(WritePrivateProfileString("ONE", "A", "changed", file));
    EXPECT_EQ(ReadFile(file), "[one]\na=changed\nc=3\n[two]\nb=2\n");

    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "a new profile file is private to the user";
}

TEST(Profile, WriteKeepsCommentsBlankLinesAndLineEnds)
{
    TempDir dir;
    std::string file = (dir / "w.ini").string();
    WriteFile(file, "[a]\r\n; keep me\r\nx=1\r\n\r\n[b]\r\ny=2\r\n");
    ASSERT_TRUE(WritePrivateProfileString("a", "z", "3", file));
    EXPECT_EQ(ReadFile(file), "[a]\r\n; keep me\r\nx=1\r\nz=3\r\n\r\n[b]\r\ny=2\r\n");
}

TEST(Profile, NullValueDeletesKeyNullKeyDeletesSection)
{
    TempDir dir;
    std::string file = (dir / "d.ini").string();
    WriteFile(file, "[a]\nx=1\ny=2\n[b]\nz=3\n[c]\nw=4\n");
    ASSERT_TRUE(WritePrivateProfileString("A", "X", nullptr, file));
    EXPECT_EQ(ReadFile(file), "[a]\ny=2\n[b]\nz=3\n[c]\nw=4\n");
    ASSERT_TRUE(WritePrivateProfileString("b", nullptr, nullptr, file));
    EXPECT_EQ(ReadFile(file), "[a]\ny=2\n[c]\nw=4\n");
    // Deleting what is not there changes nothing.
    ASSERT_TRUE(WritePrivateProfileString("b", nullptr, nullptr, file));
    ASSERT_TRUE(WritePrivateProfileString("a", "nope", nullptr, file));
    EXPECT_EQ(ReadFile(file), "[a]\ny=2\n[c]\nw=4\n");
}

TEST(Profile, LongValuesComeBackWholeAndTheBufferFormCutsThem)
{
    TempDir dir;
    std::string file = (dir / "l.ini").string();
    std::string big(5000, 'x');
    ASSERT_TRUE(WritePrivateProfileString("s", "k", big.c_str(), file));
    EXPECT_EQ(GetPrivateProfileString("s", "k", "", file), big);
    char buf[8];
    EXPECT_EQ(GetPrivateProfileString("s", "k", "", buf, sizeof buf, file), 7u);
    EXPECT_STREQ(buf, "xxxxxxx");
}

TEST(Profile, ALineBreakInAValueIsRefused)
{
    TempDir dir;
    std::string file = (dir / "n.ini").string();
    EXPECT_FALSE(WritePrivateProfileString("s", "k", "a\n[evil]\nx=1", file));
    EXPECT_EQ(GetPrivateProfileString("evil", "x", "none", file), "none");
}

TEST(Profile, ExistingModeIsKept)
{
    TempDir dir;
    std::string file = (dir / "m.ini").string();
    WriteFile(file, "[s]\n");
    chmod(file.c_str(), 0640);
    ASSERT_TRUE(WritePrivateProfileString("s", "k", "v", file));
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(Profile, ConcurrentWritersLoseNothing)
{
    TempDir dir;
    std::string file = (dir / "c.ini").string();
    const int kWrites = 1000;
    auto writer = [&](const char* key) {
        for (int i = 0; i < kWrites; ++i)
            WritePrivateProfileString("s", key, std::to_string(i).c_str(), file);
    };
    std::thread a(writer, "alpha"), b(writer, "beta");
    a.join();
    b.join();
    EXPECT_EQ(GetPrivateProfileString("s", "alpha", "", file), std::to_string(kWrites - 1));
    EXPECT_EQ(GetPrivateProfileString("s", "beta", "", file), std::to_string(kWrites - 1));
    // No temporary file is left behind.
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

namespace {

// Starts body in a child process that exits 0 when it returns true.
template <typename Body> pid_t Start(Body body)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(body() ? 0 : 1);
    return pid;
}

bool Succeeded(pid_t pid)
{
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> Entries(const std::filesystem::path& dir)
{
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    return names;
}

} // namespace

TEST(Profile, TwoProcessesWritingOneFileLoseNoKey)
{
    TempDir dir;
    std::string file = (dir / "p.ini").string();
    const int kKeys = 200;
    auto writer = [&](const std::string& name) {
        return Start([&] {
            bool ok = true;
            for (int i = 0; i < kKeys; ++i)
                ok = WritePrivateProfileString("s", (name + std::to_string(i)).c_str(), "v", file) && ok;
            return ok;
        });
    };
    pid_t a = writer("a"), b = writer("b");
    EXPECT_TRUE(Succeeded(a));
    EXPECT_TRUE(Succeeded(b));
    int found = 0;
    for (int i = 0; i < kKeys; ++i)
        for (const char* name : {"a", "b"})
            found += GetPrivateProfileString("s", (name + std::to_string(i)).c_str(), "", file) == "v";
    EXPECT_EQ(found, 2 * kKeys);
}

TEST(Profile, AKilledWriterLeavesNoTemporaryFile)
{
    TempDir dir;
    std::string file = (dir / "k.ini").string();
    const std::string big(200000, 'x'); // long writes: kills land inside them
    ASSERT_TRUE(WritePrivateProfileString("s", "big", big.c_str(), file));
    for (int round = 0; round < 20; ++round) {
        pid_t pid = fork();
        if (pid == 0) {
            for (int i = 0;; ++i)
                WritePrivateProfileString("s", "n", std::to_string(i).c_str(), file);
        }
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + round % 7));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    ASSERT_TRUE(WritePrivateProfileString("s", "after", "1", file));
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"k.ini"});
    EXPECT_EQ(GetPrivateProfileString("s", "big", "", file), big);
}

TEST(Profile, AFileInAFolderThatTakesNoNewFileIsRewrittenInPlace)
{
    TempDir dir;
    std::filesystem::path folder = dir / "locked";
    std::filesystem::create_directory(folder);
    std::string file = (folder / "f.ini").string();
    WriteFile(file, "[s]\nk=1\n");
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    // Root writes into any folder: the writer then runs as nobody, owning
    // the file but not the folder.
    bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    }
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    bool ok = Succeeded(Start([&] {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0))
            return false;
        return WritePrivateProfileString("s", "k", "2", file) && WritePrivateProfileString("t", "x", "3", file);
    }));
    chmod(folder.c_str(), 0755);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ReadFile(file), "[s]\nk=2\n[t]\nx=3\n");
    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"f.ini"});
}

TEST(Profile, AByteOrderMarkIsSkippedAndKept)
{
    TempDir dir;
    std::string file = (dir / "b.ini").string();
    WriteFile(file, "\xEF\xBB\xBF[last_login]\nmac=00:11:22:AA:BB:CC\n");
    EXPECT_EQ(GetPrivateProfileString("last_login", "mac", "", file), "00:11:22:AA:BB:CC");
    ASSERT_TRUE(WritePrivateProfileString("last_login", "user", "a", file));
    EXPECT_EQ(ReadFile(file), "\xEF\xBB\xBF[last_login]\nmac=00:11:22:AA:BB:CC\nuser=a\n");
}

TEST(Profile, NamesThatCouldNotBeReadBackAreRefused)
{
    TempDir dir;
    std::string file = (dir / "r.ini").string();
    WriteFile(file, "[s]\nk=1\n");
    for (const char* key : {"a=b", "[x", " ;x", "="})
        EXPECT_FALSE(WritePrivateProfileString("s", key, "v", file)) << key;
    EXPECT_FALSE(WritePrivateProfileString("a]b", "k", "v", file));
    EXPECT_EQ(ReadFile(file), "[s]\nk=1\n");
    // Inside a key, "[" and ";" are plain characters.
    ASSERT_TRUE(WritePrivateProfileString("s", "a[;]", "v", file));
    EXPECT_EQ(GetPrivateProfileString("s", "a[;]", "", file), "v");
}

TEST(Profile, PythonConfigparserReadsWhatWeWrite)
{
    TempDir dir;
    std::string file = (dir / "py.ini").string();
    WritePrivateProfileString("last_login", "mac", "00:11:22:AA:BB:CC", file);
    WritePrivateProfileString("00:11:22:AA:BB:CC", "user", "admin", file);
    WritePrivateProfileString("00:11:22:AA:BB:CC", "password", "c2VjcmV0", file);
    WritePrivateProfileString("other", "total", "a:b:c", file);
    std::string script = "import configparser,sys\n"
                         "c=configparser.RawConfigParser()\n"
                         "c.read(sys.argv[1])\n"
                         "for s in c.sections():\n"
                         "  for k,v in c.items(s): print(s+'|'+k+'|'+v)\n";
    WriteFile(dir / "read.py", script);
    int status = -1;
    std::string out = testsupport::RunCommand("python3 " + (dir / "read.py").string() + " " + file, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(out, "last_login|mac|00:11:22:AA:BB:CC\n"
                   "00:11:22:AA:BB:CC|user|admin\n"
                   "00:11:22:AA:BB:CC|password|c2VjcmV0\n"
                   "other|total|a:b:c\n");
}
