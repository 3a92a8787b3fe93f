// Connections to the emulated device's shares for real: smbd in the device's
// namespace serves its folder rows, the PC mounts them through GIO with the
// desktop's mount daemon on a session bus of the test's own.
#include <gtest/gtest.h>

#include <gio/gio.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "EmulatedNas.h"
#include "EmulatedSamba.h"
#include "FolderTable.h"
#include "MessageBox.h"
#include "NetConnection.h"
#include "ShellOpen.h"
#include "SnmpHelpers.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using testsupport::EmulatedNas;

namespace {

const char kConfig[] = "community = c0mm\n"
                       "user = admin:secret:15\n"
                       "user = alice:wonder:1:staff,\n"
                       "user = bob:builder:1:\n"
                       "group = 1:staff:alice,\n"
                       "folder = 1:share:Disk1:1\n"
                       "folder = 2:media:Disk1:2::alice,\n"
                       "folder = 3:crew:Disk1:2:@staff,:bob,\n"
                       "usb = none\n";

// Writes a file into a share through GIO (the mount's own credentials).
bool WriteThrough(const std::string& uri, const std::string& text)
{
    GFile* file = g_file_new_for_uri(uri.c_str());
    GError* error = nullptr;
    gboolean ok = g_file_replace_contents(file, text.data(), text.size(), nullptr, FALSE, G_FILE_CREATE_NONE, nullptr,
                                          nullptr, &error);
    if (error) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
    }
    g_object_unref(file);
    return ok;
}

TEST(ShareConnections, MountOpenCheckAndDropAgainstTheDevicesSamba)
{
    testsupport::SessionBus bus;
    ASSERT_TRUE(bus.Started());
    EmulatedNas nas(kConfig);
    ASSERT_TRUE(nas.Started());
    testsupport::EmulatedSamba samba(nas);
    ASSERT_TRUE(samba.Started());
    nas.LogInContext("alice", "wonder");
    GetNasContext()->m_userLevel = "1";
    testsupport::TempDir dir;
    platform::SetDriveTablePath((dir / "drives.ini").string());
    testsupport::Boxes boxes;
    std::vector<std::string> opened;
    platform::SetShellOpenFunction([&](const std::string& target) {
        opened.push_back(target);
        return true;
    });

    const std::string media = "\\\\198.18.1.10\\media";
    EXPECT_EQ(CheckConnection(CopyLogin(), "alice"), kNotConnected);
    // An administrator connects with the default credentials, which a
    // private folder does not take: the desktop is handed the folder to ask
    // for others, as an explorer does.
    GetNasContext()->m_userLevel = "15";
    FolderRow mediaRow;
    mediaRow.text = "media";
    mediaRow.location = "Disk1";
    mediaRow.type = "Samba ";
    mediaRow.allow = "alice";
    OpenFolder(CopyLogin(), mediaRow);
    EXPECT_EQ(opened, std::vector<std::string>{"smb://198.18.1.10/media"});
    EXPECT_EQ(boxes.Count(), 1u); // the one-user question only
    EXPECT_FALSE(platform::GetMountBackend()->IsMounted("smb://198.18.1.10/media"));
    GetNasContext()->m_userLevel = "1";
    opened.clear();
    boxes.Clear();
    // bob is not on media's list; a wrong password is no login.
    EXPECT_NE(platform::WNetUseConnection(media, "bob", "builder", "Y:"), 0);
    EXPECT_NE(platform::WNetUseConnection(media, "alice", "wrong", "Y:"), 0);
    EXPECT_FALSE(platform::GetMountBackend()->IsMounted("smb://198.18.1.10/media"));

    // Mapped as alice on Z:, the list shows it, and what is written lands in
    // the device's folder.
    ASSERT_EQ(platform::WNetUseConnection(media, "alice", "wonder", "Z:"), 0);
    EXPECT_TRUE(platform::GetMountBackend()->IsMounted("smb://198.18.1.10/media"));
    FolderListing l = RefreshFolderList(platform::JobControl{}, CopyLogin());
    std::vector<std::string> texts;
    for (const FolderRow& r : l.rows)
        texts.push_back(r.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"share", "media <Z:>", "crew"}));
    EXPECT_TRUE(WriteThrough("smb://198.18.1.10/media/note.txt", "from alice"));
    EXPECT_EQ(testsupport::ReadFile(samba.SharePath("media") / "note.txt"), "from alice");
    std::string user;
    EXPECT_EQ(platform::WNetGetUser("Z:", user), 0);
    EXPECT_EQ(user, "alice");

    // Who this PC is connected as.
    EXPECT_EQ(CheckConnection(CopyLogin(), "alice"), kConnectedSameUser);
    EXPECT_EQ(CheckConnection(CopyLogin(), "bob"), kConnectedOtherUser);

    // Opening media (alice is on its list, connected as herself) opens it at once.
    FolderRow row = l.rows[1];
    OpenOutcome outcome = OpenFolder(CopyLogin(), row);
    EXPECT_FALSE(outcome.refresh);
    EXPECT_EQ(opened, std::vector<std::string>{"smb://198.18.1.10/media"});
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{});

    // A further share of the device opens with the same credentials.
    opened.clear();
    outcome = OpenFolder(
        CopyLogin(), *std::find_if(l.rows.begin(), l.rows.end(), [](const FolderRow& r) { return r.text == "crew"; }));
    EXPECT_EQ(opened, std::vector<std::string>{"smb://198.18.1.10/crew"});
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{});
    EXPECT_TRUE(platform::GetMountBackend()->IsMounted("smb://198.18.1.10/crew"));
    EXPECT_EQ(platform::WNetGetUser("\\\\198.18.1.10\\crew", user), 0);
    EXPECT_EQ(user, "alice");

    // Connected as bob only: the one-user question, every device connection
    // dropped (IPC$ first), then connected again as alice.
    ASSERT_EQ(DisconnectDevice(CopyLogin()), 1);
    ASSERT_EQ(platform::WNetUseConnection("\\\\198.18.1.10\\share", "bob", "builder"), 0);
    EXPECT_EQ(CheckConnection(CopyLogin(), "alice"), kConnectedOtherUser);
    opened.clear();
    outcome = OpenFolder(
        CopyLogin(), *std::find_if(l.rows.begin(), l.rows.end(), [](const FolderRow& r) { return r.text == "crew"; }));
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.LastText().rfind("The samba shared folder can only be accessed by one user", 0), 0u);
    EXPECT_EQ(opened, std::vector<std::string>{"smb://198.18.1.10/crew"});
    EXPECT_FALSE(platform::GetMountBackend()->IsMounted("smb://198.18.1.10/share"));
    EXPECT_EQ(platform::WNetGetUser("\\\\198.18.1.10\\crew", user), 0);
    EXPECT_EQ(user, "alice");

    // Everything of the device dropped.
    EXPECT_EQ(DisconnectDevice(CopyLogin()), 1);
    EXPECT_FALSE(platform::GetMountBackend()->IsMounted("smb://198.18.1.10/crew"));
    EXPECT_FALSE(platform::GetMountBackend()->IsMounted("smb://198.18.1.10/media"));
    EXPECT_EQ(CheckConnection(CopyLogin(), "alice"), kNotConnected);

    // A share the device does not have: the box names the path and why.
    const std::string missing = "\\\\198.18.1.10\\nosuch";
    const int rc = platform::ShellExecute("open", missing);
    EXPECT_EQ(rc, platform::SE_ERR_PNF);
    ShellExecuteErrorText(rc, missing);
    EXPECT_EQ(boxes.LastText().rfind(
                  "The specified path was not found.   \n" + missing + ": the share could not be mounted: ", 0),
              0u)
        << boxes.LastText();

    platform::SetShellOpenFunction({});
    platform::SetDriveTablePath("");
}

} // namespace
