#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <thread>

#include "MessageBox.h"
#include "Profile.h"
#include "TestSupport.h"
#include "stdafx.h"

using testsupport::TempDir;

namespace {
const unsigned char kMac[6] = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC};

void LogIn(CNasContext& ctx, const std::string& user, const std::string& password, bool remember)
{
    ctx.m_deviceAddress = "198.18.0.2";
    ctx.m_macText = MacToString(kMac);
    ctx.m_user = user;
    ctx.m_password = password;
    ctx.m_rememberPassword = remember;
    ctx.m_community = "c0mm";
}

// A login memory of its own in a fresh folder.
class Context : public ::testing::Test {
protected:
    TempDir dir;
    std::string ini = (dir / "quom.ini").string();
};
} // namespace

TEST_F(Context, IniLivesBesideTheProgram)
{
    CNasContext* ctx = GetNasContext();
    std::string exeDir = testsupport::BinDir().string();
    // Tests run from the build's bin folder, so the program folder is there.
    EXPECT_EQ(ctx->IniPath(), exeDir + "/quom.ini");
}

TEST_F(Context, FirstStartCreatesAnEmptyPrivateIni)
{
    CNasContext ctx(ini);
    ctx.LoadLogin(nullptr);
    struct stat st {};
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_TRUE(ctx.m_macText.empty());
    EXPECT_TRUE(ctx.m_user.empty());
    std::string user = "x", password = "y";
    EXPECT_FALSE(ctx.GetSavedLogin(kMac, user, password));
    EXPECT_EQ(user, "");
    EXPECT_EQ(password, "");
}

TEST_F(Context, AnIniThatCannotBeCreatedShowsTheSystemError)
{
    platform::MessageBoxRecorder boxes;
    CNasContext ctx("/nonexistent-folder/quom.ini");
    ctx.m_user = "someone";
    ctx.LoadLogin(nullptr);
    const std::vector<std::string> shown = boxes.Texts();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "No such file or directory");
    EXPECT_EQ(ctx.m_user, "");
}

TEST_F(Context, SaveAndLoadRememberedLogin)
{
    {
        CNasContext ctx(ini);
        LogIn(ctx, "alice", "pässwörd", true);
        ctx.SaveLogin(true);
    }
    EXPECT_EQ(platform::GetPrivateProfileString("last_login", "mac", "", ini), "00:11:22:AA:BB:CC");
    EXPECT_EQ(platform::GetPrivateProfileString("00:11:22:AA:BB:CC", "password", "", ini),
              Base64Encode(std::string("pässwörd")));

    CNasContext ctx(ini);
    ctx.LoadLogin(nullptr);
    EXPECT_EQ(ctx.m_macText, "00:11:22:AA:BB:CC");
    EXPECT_EQ(ctx.m_user, "alice");
    EXPECT_EQ(ctx.m_password, "pässwörd");
    std::string user, password;
    EXPECT_TRUE(ctx.GetSavedLogin(kMac, user, password));
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "pässwörd");
}

TEST_F(Context, SaveWithoutRememberingStoresAnEmptyPassword)
{
    CNasContext ctx(ini);
    LogIn(ctx, "bob", "secret", false);
    ctx.SaveLogin(false);
    EXPECT_NE(testsupport::ReadFile(ini).find("password=\n"), std::string::npos);
    EXPECT_EQ(platform::GetPrivateProfileString("last_login", "mac", "none", ini), "none");
    std::string user, password = "x";
    EXPECT_TRUE(ctx.GetSavedLogin(kMac, user, password));
    EXPECT_EQ(user, "bob");
    EXPECT_EQ(password, "");
}

TEST_F(Context, SavingMakesAnExistingLoginMemoryPrivate)
{
    testsupport::WriteFile(ini, "[last_login]\n");
    ASSERT_EQ(chmod(ini.c_str(), 0644), 0);
    CNasContext ctx(ini);
    LogIn(ctx, "alice", "secret", true);
    EXPECT_TRUE(ctx.SaveLogin(true));
    struct stat st {};
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Context, ALoginMemoryThatCannotBeWrittenIsReported)
{
    std::filesystem::create_directory(ini); // there, but no file to write
    testsupport::Boxes boxes;
    CNasContext ctx(ini);
    LogIn(ctx, "alice", "secret", true);
    bool saved = ctx.SaveLogin(true);
    EXPECT_FALSE(saved);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Is a directory"});
}

TEST_F(Context, LongPasswordIsRememberedWhole)
{
    CNasContext ctx(ini);
    std::string longPassword(400, 'p');
    LogIn(ctx, "carol", longPassword, true);
    ctx.SaveLogin(true);
    CNasContext again(ini);
    again.LoadLogin(kMac);
    EXPECT_EQ(again.m_password, longPassword);
}

TEST_F(Context, LastLoginWithoutDeviceSectionGivesEmptyUser)
{
    testsupport::WriteFile(ini, "[last_login]\nmac=00:11:22:AA:BB:CC\n");
    CNasContext ctx(ini);
    ctx.m_user = "stale";
    ctx.m_password = "stale";
    ctx.LoadLogin(nullptr);
    EXPECT_EQ(ctx.m_macText, "00:11:22:AA:BB:CC");
    EXPECT_EQ(ctx.m_user, "");
    EXPECT_EQ(ctx.m_password, "");
}

TEST_F(Context, NoLastLoginEmptiesTheLogin)
{
    testsupport::WriteFile(ini, "[00:11:22:AA:BB:CC]\nuser=alice\n");
    CNasContext ctx(ini);
    LogIn(ctx, "x", "y", true);
    ctx.LoadLogin(nullptr);
    EXPECT_EQ(ctx.m_macText, "");
    EXPECT_EQ(ctx.m_user, "");
    EXPECT_FALSE(ctx.m_rememberPassword);
}

TEST_F(Context, StoredPasswordThatDoesNotDecodeIsEmpty)
{
    testsupport::WriteFile(ini, "[last_login]\nmac=00:11:22:AA:BB:CC\n[00:11:22:AA:BB:CC]\nuser=a\npassword=@@@\n");
    CNasContext ctx(ini);
    ctx.LoadLogin(nullptr);
    EXPECT_EQ(ctx.m_user, "a");
    EXPECT_EQ(ctx.m_password, "");
}

TEST_F(Context, ResetKeepsAccessTextAndRunningTask)
{
    CNasContext ctx(ini);
    LogIn(ctx, "alice", "pw", true);
    ctx.m_userLevel = "15";
    ctx.m_userAccess = "@staff,";
    ctx.m_udpTimeout = 9000;
    ctx.m_nasInfo.disk1State = 3;
    ctx.SetTaskRunning(1);
    ctx.SetRunningTaskName("nightly");
    ctx.Reset();
    EXPECT_EQ(ctx.m_deviceAddress, "");
    EXPECT_EQ(ctx.m_macText, "");
    EXPECT_EQ(ctx.m_user, "");
    EXPECT_EQ(ctx.m_userLevel, "");
    EXPECT_EQ(ctx.m_password, "");
    EXPECT_EQ(ctx.m_community, "");
    EXPECT_FALSE(ctx.m_rememberPassword);
    EXPECT_EQ(ctx.m_udpTimeout, 2000u);
    EXPECT_EQ(ctx.m_nasInfo.disk1State, 0);
    EXPECT_EQ(ctx.m_userAccess, "@staff,");
    EXPECT_TRUE(ctx.IsTaskRunning());
    EXPECT_EQ(ctx.GetRunningTaskName(), "nightly");
}

TEST_F(Context, RunningTaskNameIsReadWholeWhileAnotherThreadWritesIt)
{
    CNasContext ctx(ini);
    ctx.SetTaskRunning(1);
    const std::string a(300, 'a'), b(500, 'b');
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    // The writer goes on until the reader has read many times meanwhile,
    // however the two threads are scheduled.
    std::thread writer([&] {
        for (int i = 0; i < 20000 || reads < 2000; ++i)
            ctx.SetRunningTaskName(i % 2 ? a : b);
        stop = true;
    });
    int torn = 0;
    while (!stop) {
        const std::string name = ctx.GetRunningTaskName();
        torn += !(name.empty() || name == a || name == b);
        ++reads;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    ctx.SetTaskRunning(0);
    EXPECT_EQ(ctx.GetRunningTaskName(), "") << "no name while no task runs";
    ctx.ClearRunningTaskName();
    ctx.SetTaskRunning(1);
    EXPECT_EQ(ctx.GetRunningTaskName(), "");
}
