// Share folders against the emulated device: the folder form as the device
// reads it, the list as users see it, delete, USB eject, and the connection
// checks through the connection layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <utility>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Clock.h"
#include "EmulatedNas.h"
#include "FolderSave.h"
#include "FolderTable.h"
#include "MessageBox.h"
#include "MemoryMounts.h"
#include "NasMib.h"
#include "NetConnection.h"
#include "ShellOpen.h"
#include "SnmpHelpers.h"
#include "stdafx.h"
#include <memory>
#include "TestClock.h"

// SNMP helpers' pauses between tries pass at once.
static std::unique_ptr<testsupport::InstantPauses> g_instantPauses;

TOLVANE_PRIVATE_NETWORK();

using testsupport::EmulatedNas;

namespace {

const char kConfig[] = "community = c0mm\n"
                       "user = admin:secret:15\n"
                       "user = alice:wonder:1:staff,\n"
                       "user = bob:builder:1:\n"
                       "group = 1:staff:alice,\n"
                       "folder = 1:share:Disk1:1\n"
                       "folder = 2:media:Disk1:2:alice,:\n"
                       "folder = 3:music:Disk1:1\n"
                       "folder = 5:music:Disk2:2::@staff,\n"
                       "folder = 12:secret:Disk2:2:bob,:bob,\n"
                       "folder = 7:nfsonly:Disk1:1\n"
                       "mib = 1.3.6.1.2.1.21.5.1.12.7 i 0\n"
                       "mib = 1.3.6.1.2.1.21.5.1.14.7 i 1\n"
                       "usb = 1:7634:120\n"
                       "usb = 2:900:100\n";

std::vector<std::string> Texts(const FolderListing& l)
{
    std::vector<std::string> t;
    for (const FolderRow& r : l.rows)
        t.push_back(r.text);
    return t;
}

const FolderRow* Find(const FolderListing& l, const std::string& text)
{
    for (const FolderRow& r : l.rows)
        if (r.text == text)
            return &r;
    return nullptr;
}

class ShareFolders : public ::testing::Test {
protected:
    static inline EmulatedNas* nas = nullptr;
    static void SetUpTestSuite() { nas = new EmulatedNas(kConfig); }
    static void TearDownTestSuite()
    {
        delete nas;
        nas = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(nas && nas->Started());
        g_instantPauses = std::make_unique<testsupport::InstantPauses>();
        nas->LogInContext("admin", "secret");
        GetNasContext()->m_userLevel = "15";
        platform::SetDriveTablePath((dir / "drives.ini").string());
        std::filesystem::create_directories(dir);
        std::filesystem::remove(dir / "drives.ini");
        oldBackend = platform::SetMountBackend(mounts);
    }
    void TearDown() override
    {
        nas->dev->Command("snmp clear");
        nas->dev->Command("web fault none");
        platform::SetMountBackend(oldBackend);
        platform::SetDriveTablePath("");
        g_instantPauses.reset();
    }

    std::string Cell(const char* column, const std::string& row)
    {
        std::string reply = nas->dev->Command("mib get " + NasCell(column, row));
        // "OK s TEXT" / "OK i N"
        return reply.size() > 5 ? reply.substr(5) : std::string();
    }
    std::string Rows(const char* column) { return nas->dev->Command(std::string("mib rows ") + column); }
    void DeleteRow(const std::string& row)
    {
        for (int c = 1; c <= 17; ++c)
            nas->dev->Command("mib del " + NasCell(nasmib::kFolderEntry, std::to_string(c) + "." + row));
    }

    platform::JobControl job;
    testsupport::Boxes boxes;
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tolvane-folders-" + std::to_string(getpid()));
    std::shared_ptr<testsupport::MemoryMounts> mounts = std::make_shared<testsupport::MemoryMounts>();
    std::shared_ptr<platform::MountBackend> oldBackend;
};

// ---------------------------------------------------------------------------
// Saving

TEST_F(ShareFolders, PrivateAddPostsTheFormAndTheDeviceHoldsTheRow)
{
    platform::FastClock fast(10);
    platform::ScopedClock clock(fast);
    FolderSettings s;
    s.name = "a&b+c%d";
    s.disk = "Disk2";
    s.ftp = true;
    s.privateFolder = true;
    s.allowed = {{"alice", false}, {"@staff", false}, {"bob", true}};
    size_t before = nas->dev->WebRequests().size();
    FolderSaveResult r = AddOrEditFolder(job, CopyLogin(), s, kFolderActionAdd, "");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.result, kFolderSaved);
    EXPECT_TRUE(boxes.Take().empty());

    // The last row is 12 (rows 4, 6, 8-11 are free): the new one is 13.
    std::vector<std::string> requests = nas->dev->WebRequests();
    ASSERT_EQ(requests.size(), before + 1);
    const std::string& request = requests.back();
    const std::string body = request.substr(request.find("\r\n\r\n") + 4);
    EXPECT_EQ(body, "setobject_rowstart=bi1.3.6.1.2.1.21.5.1.17.13=5"
                    "&setobject_MountIndex=ci1.3.6.1.2.1.21.5.1.1.13=13"
                    "&setobject_MountName=cs1.3.6.1.2.1.21.5.1.2.13=Disk2"
                    "&setobject_MountPartition=cs1.3.6.1.2.1.21.5.1.3.13="
                    "&setobject_MountFileSystem=ci1.3.6.1.2.1.21.5.1.4.13=1"
                    "&setobject_MountShareName=cs1.3.6.1.2.1.21.5.1.5.13=a%26b%2Bc%25d"
                    "&setobject_MountOldShareName=cs1.3.6.1.2.1.21.5.1.6.13=a%26b%2Bc%25d"
                    "&setobject_MountDescription=cs1.3.6.1.2.1.21.5.1.7.13="
                    "&setobject_MountStatus=ci1.3.6.1.2.1.21.5.1.8.13=1"
                    "&setobject_MountEnableList=cs1.3.6.1.2.1.21.5.1.9.13="
                    "&setobject_MonuntReadList=cs1.3.6.1.2.1.21.5.1.10.13=alice,@staff,"
                    "&setobject_MountWriteList=cs1.3.6.1.2.1.21.5.1.11.13=bob,"
                    "&setobject_MountCIFS=ci1.3.6.1.2.1.21.5.1.12.13=1"
                    "&setobject_MountFTP=ci1.3.6.1.2.1.21.5.1.13.13=1"
                    "&setobject_MountNFS=ci1.3.6.1.2.1.21.5.1.14.13=0"
                    "&setobject_MountFolderType=ci1.3.6.1.2.1.21.5.1.15.13=2"
                    "&setobject_rowflag=ci1.3.6.1.2.1.21.5.1.16.13=1"
                    "&setobject_rowend=ei1.3.6.1.2.1.21.5.1.17.13=1");
    EXPECT_EQ(request.rfind("POST /cgi-bin/setobject?/configuration/ShareManagement/PrivateFolder.shtml HTTP/1.1", 0),
              0u);
    EXPECT_NE(request.find("Referer: http://198.18.1.10/configuration/ShareManagement/AddPrivateFolder.shtml?-1\r\n"),
              std::string::npos);

    EXPECT_EQ(Cell(nasmib::kFolderShareName, "13"), "a&b+c%d");
    EXPECT_EQ(Cell(nasmib::kFolderReadList, "13"), "alice,@staff,");
    EXPECT_EQ(Cell(nasmib::kFolderWriteList, "13"), "bob,");
    EXPECT_EQ(Cell(nasmib::kFolderLocation, "13"), "Disk2");
    EXPECT_EQ(Cell(nasmib::kFolderType, "13"), "2");

    // Edit: the name becomes non-ASCII, the folder Anonymous, its lists go.
    s.name = "Müsik été";
    s.privateFolder = false;
    r = AddOrEditFolder(job, CopyLogin(), s, kFolderActionEdit, "a&b+c%d");
    EXPECT_EQ(r.result, kFolderSaved);
    EXPECT_EQ(Cell(nasmib::kFolderShareName, "13"), "Müsik été");
    EXPECT_EQ(Cell(nasmib::kFolderReadList, "13"), "");
    EXPECT_EQ(Cell(nasmib::kFolderWriteList, "13"), "");
    EXPECT_EQ(Cell(nasmib::kFolderType, "13"), "1");
    FolderSettings loaded;
    ASSERT_TRUE(LoadFolder(CopyLogin(), "Müsik été", "", loaded));
    EXPECT_EQ(loaded.disk, "Disk2");
    EXPECT_FALSE(loaded.privateFolder);
    EXPECT_TRUE(loaded.ftp);

    // A case-only rename of the folder itself is no clash; another's name is.
    s.name = "MÜSIK été";
    s.name = "müsik été";
    EXPECT_EQ(AddOrEditFolder(job, CopyLogin(), s, kFolderActionEdit, "Müsik été").result, kFolderSaved);
    s.name = "Media";
    EXPECT_EQ(AddOrEditFolder(job, CopyLogin(), s, kFolderActionEdit, "müsik été").code, -1);
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"The folder name had existed, please enter the other name."});

    // The folder vanished meanwhile.
    DeleteRow("13");
    s.name = "whatever";
    EXPECT_EQ(AddOrEditFolder(job, CopyLogin(), s, kFolderActionEdit, "müsik été").code, -1);
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"Can't find the folder."});
}

TEST_F(ShareFolders, LongAllowListsAreReadAndKeptWhole)
{
    platform::FastClock fast(10);
    platform::ScopedClock clock(fast);
    // About 2,000 bytes of users (the device checks none of them).
    std::string list;
    for (int i = 0; list.size() < 2000; ++i)
        list += "user" + std::to_string(i) + ",";
    for (size_t p = 0; p < list.size();) {
        size_t comma = list.find(',', p);
        std::string name = list.substr(p, comma - p);
        p = comma + 1;
        nas->dev->Command("set user " + name + ":pw:1");
    }
    ASSERT_TRUE(nas->dev->Ok("mib set " + NasCell(nasmib::kFolderReadList, "2") + " s " + list));
    FolderSettings s;
    ASSERT_TRUE(LoadFolder(CopyLogin(), "media", "Disk1", s));
    ASSERT_GT(s.allowed.size(), 200u);
    // Saved back unchanged, the device still holds every entry.
    FolderSaveResult r = AddOrEditFolder(job, CopyLogin(), s, kFolderActionEdit, "media", "Disk1");
    EXPECT_EQ(r.result, kFolderSaved) << ::testing::PrintToString(boxes.Take());
    EXPECT_EQ(Cell(nasmib::kFolderReadList, "2").size(), list.size());
    std::string write, read;
    BuildAllowLists(s, read, write);
    EXPECT_EQ(read, list);
    ASSERT_TRUE(nas->dev->Ok("mib set " + NasCell(nasmib::kFolderReadList, "2") + " s alice,"));
    for (const AllowedEntry& e : s.allowed)
        nas->dev->Command("set remove_user " + e.name);
}

TEST_F(ShareFolders, APostTheDeviceNeverAppliesEndsWithTimeout)
{
    platform::FastClock fast(20);
    platform::ScopedClock clock(fast);
    ASSERT_TRUE(nas->dev->Ok("web fault noapply"));
    FolderSettings s;
    s.name = "ghost";
    s.disk = "Disk1";
    FolderSaveResult r = AddOrEditFolder(job, CopyLogin(), s, kFolderActionAdd, "");
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.result, kFolderNotSaved);
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"NAS timeout!"});

    // An edit keeping the name: the name reads back, the changed cell does not.
    ASSERT_TRUE(LoadFolder(CopyLogin(), "media", "Disk1", s));
    s.ftp = !s.ftp;
    r = AddOrEditFolder(job, CopyLogin(), s, kFolderActionEdit, "media", "Disk1");
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.result, kFolderNotSaved);
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"Failed."});
    EXPECT_EQ(Cell(nasmib::kFolderFtp, "2"), s.ftp ? "0" : "1");
}

TEST_F(ShareFolders, InputIsCheckedBeforeAnythingIsPosted)
{
    const std::string dots = "Folder name can not be \".\" or \"..\".";
    const std::pair<std::string, std::string> names[] = {
        {std::string(30, 'a'), ""},
        {std::string(31, 'a'), "Folder name's length must less than 30."},
        {"USB3", "Folder name can not be usb#."},
        {"usb11", ""},
        {"Share", "Folder name can not be \"share\" ."},
        {"a(Disk1)", "Folder name can not include (disk1) or (disk2)."},
        {" a", "First or last charater can not be space."},
        {".", dots},
        {"..", dots},
        {"...", ""},
        {"a;b", "Folder name can not include any following charater: \n \\ / ? \" < > : | * ` , $ ] ;"},
    };
    for (const auto& [name, refusal] : names)
        EXPECT_EQ(FolderNameRefusal(name), refusal) << name;

    size_t before = nas->dev->WebRequests().size();
    FolderSettings s;
    s.name = "..";
    s.disk = "Disk1";
    EXPECT_EQ(AddOrEditFolder(job, CopyLogin(), s, kFolderActionAdd, "").code, -1);
    s.name = "x";
    s.privateFolder = true;
    EXPECT_EQ(AddOrEditFolder(job, CopyLogin(), s, kFolderActionAdd, "").code, -1);
    s.allowed = {{"nobody", true}};
    EXPECT_EQ(AddOrEditFolder(job, CopyLogin(), s, kFolderActionAdd, "").code, -1);
    s.samba = false;
    s.allowed = {{"alice", true}};
    EXPECT_EQ(AddOrEditFolder(job, CopyLogin(), s, kFolderActionAdd, "").code, -1);
    s.samba = true;
    s.name = "MEDIA";
    EXPECT_EQ(AddOrEditFolder(job, CopyLogin(), s, kFolderActionAdd, "").focus, FolderFocus::Name);
    EXPECT_EQ(boxes.Take(),
              (std::vector<std::string>{dots, "Must allow one user to access at least!", "Not valid user:nobody",
                                        "SAMBA FTP NFS must be choose at least one!",
                                        "The folder name had existed, please enter the other name."}));
    EXPECT_EQ(nas->dev->WebRequests().size(), before);

    // A walk that fails is no licence to go on.
    platform::FastClock fast(20);
    platform::ScopedClock clock(fast);
    ASSERT_TRUE(nas->dev->Ok("snmp silent on"));
    EXPECT_EQ(CheckFolderExists(CopyLogin(), "media"), kFolderWalkFailed);
    ASSERT_TRUE(nas->dev->Ok("snmp silent off"));
    EXPECT_EQ(CheckFolderExists(CopyLogin(), "new"), kFolderNameFree);

    // At 1024 folders an add is refused, a rename is not.
    std::string rows = Rows(nasmib::kFolderShareName);
    int have = static_cast<int>(std::count(rows.begin(), rows.end(), ',')) + 1;
    for (int i = 0; i < kMaxFolders - have; ++i)
        ASSERT_TRUE(nas->dev->Ok("set folder " + std::to_string(2000 + i) + ":many" + std::to_string(i) + ":Disk1:1"));
    EXPECT_EQ(CheckFolderExists(CopyLogin(), "new"), kFolderTableFull);
    EXPECT_EQ(CheckFolderExists(CopyLogin(), "new", "2"), kFolderNameFree);
    EXPECT_EQ(CheckFolderExists(CopyLogin(), "MANY7", "2"), kFolderNameTaken);
    s.name = "new";
    s.privateFolder = false;
    EXPECT_EQ(AddOrEditFolder(job, CopyLogin(), s, kFolderActionAdd, "").code, -1);
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"Total folders number must not more than 1024."});
    for (int i = 0; i < kMaxFolders - have; ++i)
        DeleteRow(std::to_string(2000 + i));
}

// ---------------------------------------------------------------------------
// The list

TEST_F(ShareFolders, TheListAsAdministratorAndAsUser)
{
    FolderListing l = RefreshFolderList(job, CopyLogin());
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(Texts(l), (std::vector<std::string>{"USB1", "USB2", "share", "media", "music(Disk1)", "music(Disk2)",
                                                  "nfsonly", "secret"}));
    EXPECT_EQ(Find(l, "media")->allow, "alice");
    EXPECT_EQ(Find(l, "media")->image, kFolderImagePrivate);
    EXPECT_EQ(Find(l, "music(Disk2)")->allow, "@staff");
    EXPECT_EQ(Find(l, "nfsonly")->type, "NFS ");
    EXPECT_EQ(Find(l, "nfsonly")->image, kFolderImageNfsOpen);
    EXPECT_EQ(Find(l, "USB1")->type, "Samba");
    EXPECT_EQ(Find(l, "share")->type, "Samba ");

    // alice (group staff): her folder, her group's, and the open ones.
    nas->LogInContext("alice", "wonder");
    GetNasContext()->m_userLevel = "1";
    l = RefreshFolderList(job, CopyLogin());
    EXPECT_EQ(Texts(l),
              (std::vector<std::string>{"USB1", "USB2", "share", "media", "music(Disk1)", "music(Disk2)", "nfsonly"}));
    EXPECT_EQ(GetNasContext()->m_userAccess, "staff,");
    nas->LogInContext("bob", "builder");
    l = RefreshFolderList(job, CopyLogin());
    EXPECT_EQ(Texts(l), (std::vector<std::string>{"USB1", "USB2", "share", "music", "nfsonly", "secret"}));
    EXPECT_TRUE(boxes.Take().empty());

    // A user the device does not know.
    GetNasContext()->m_user = "mallory";
    l = RefreshFolderList(job, CopyLogin());
    EXPECT_FALSE(l.ok);
    EXPECT_TRUE(l.rows.empty());
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"Timeout"});
}

TEST_F(ShareFolders, BusyAndSilentDevicesMidWalk)
{
    platform::FastClock fast(20);
    platform::ScopedClock clock(fast);
    // Busy from the folder walk on (the disks, the user and the USB disks
    // were read).
    ASSERT_TRUE(nas->dev->Ok(std::string("snmp nosuchname ") + nasmib::kFolderEntry));
    FolderListing l = RefreshFolderList(job, CopyLogin());
    EXPECT_FALSE(l.ok);
    EXPECT_TRUE(l.rows.empty());
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"NAS busy."});
    ASSERT_TRUE(nas->dev->Ok("snmp clear"));

    ASSERT_TRUE(nas->dev->Ok("snmp silent on"));
    l = RefreshFolderList(job, CopyLogin());
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"NAS timeout."});
    ASSERT_TRUE(nas->dev->Ok("snmp silent off"));
}

TEST_F(ShareFolders, ManyRowsWithGapsComeWhole)
{
    // Rows 100-139 with every third missing: the rows carried ahead fall
    // back to one at a time where a row is missing.
    std::vector<std::string> want;
    for (int i = 100; i < 140; ++i) {
        if (i % 3 == 0)
            continue;
        std::string name = "f" + std::to_string(i);
        ASSERT_TRUE(nas->dev->Ok("set folder " + std::to_string(i) + ":" + name + ":Disk1:1"));
        want.push_back(name);
    }
    FolderListing l = RefreshFolderList(job, CopyLogin());
    ASSERT_TRUE(l.ok);
    std::vector<std::string> got;
    for (const FolderRow& r : l.rows)
        if (r.text[0] == 'f')
            got.push_back(r.text + "@" + r.row);
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(got[i], want[i] + "@" + want[i].substr(1));
    for (int i = 100; i < 140; ++i)
        DeleteRow(std::to_string(i));
}

TEST_F(ShareFolders, CellsThatNeverAnswerEndInBoundedTime)
{
    // The folder type of every row fails: the folder is taken as gone
    // instead of being asked for without end.
    platform::FastClock fast(40);
    platform::ScopedClock clock(fast);
    ASSERT_TRUE(nas->dev->Ok(std::string("snmp nosuchname ") + nasmib::kFolderType));
    FolderInfo info;
    const int64_t start = platform::TickMs();
    EXPECT_FALSE(GetFolderInfo(CopyLogin(), "media", "Disk1", info));
    FolderSettings s;
    EXPECT_FALSE(LoadFolder(CopyLogin(), "media", "Disk1", s));
    EXPECT_LT(platform::TickMs() - start, 60000);
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"This folder is not exist."});
    ASSERT_TRUE(nas->dev->Ok("snmp clear"));
    EXPECT_TRUE(GetFolderInfo(CopyLogin(), "media", "Disk1", info));
    EXPECT_EQ(info.allowList, "alice,");
    EXPECT_EQ(info.status, "Private");
}

TEST_F(ShareFolders, DeleteFindsTheRowOfItsDisk)
{
    std::vector<std::string> said;
    platform::JobControl sayJob;
    sayJob.progress = [&](int, const std::string& text) { said.push_back(text); };
    FolderRow row;
    row.text = "share(Disk1)";
    EXPECT_FALSE(DeleteFolder(sayJob, CopyLogin(), row).refreshed);
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{" \"share\" is system folder , can not be deleted."});

    ASSERT_TRUE(nas->dev->Ok("set folder 20:twin:Disk1:1"));
    ASSERT_TRUE(nas->dev->Ok("set folder 21:twin:Disk2:1"));
    row.text = "twin(Disk2)";
    row.location = "Disk2";
    FolderListing l = DeleteFolder(sayJob, CopyLogin(), row);
    EXPECT_TRUE(l.ok);
    EXPECT_EQ(Cell(nasmib::kFolderShareName, "20"), "twin");
    EXPECT_EQ(nas->dev->Command("mib get " + NasCell(nasmib::kFolderShareName, "21")).rfind("ERR", 0), 0u);
    EXPECT_NE(Find(l, "twin"), nullptr);
    EXPECT_EQ(said, std::vector<std::string>{"Delete success.Refreshing..."});
    EXPECT_TRUE(boxes.Take().empty());

    // A SET the device refuses is no success.
    said.clear();
    row.text = "twin";
    row.location = "Disk1";
    ASSERT_TRUE(nas->dev->Ok(std::string("snmp nosuchname ") + nasmib::kFolderRowStatus));
    DeleteFolder(sayJob, CopyLogin(), row);
    EXPECT_EQ(said, std::vector<std::string>{"Refreshing..."});
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"Delete timeout."});
    EXPECT_EQ(Cell(nasmib::kFolderShareName, "20"), "twin");
    DeleteRow("20");
}

TEST_F(ShareFolders, AJobKeepsTheLoginItStartedWith)
{
    // alice's delete, and another user logs in while it runs: the delete's
    // refresh still lists alice's folders and keeps her groups to itself.
    ASSERT_TRUE(nas->dev->Ok("set folder 20:gone:Disk1:1"));
    nas->LogInContext("alice", "wonder");
    GetNasContext()->m_userLevel = "1";
    platform::JobControl changing;
    changing.progress = [](int, const std::string&) {
        nas->LogInContext("admin", "secret");
        CNasContext* ctx = GetNasContext();
        ctx->Lock();
        ctx->m_userLevel = "15";
        ctx->m_userAccess = "admin's";
        ctx->Unlock();
    };
    FolderRow row;
    row.text = "gone";
    row.location = "Disk1";
    FolderListing l = DeleteFolder(changing, CopyLogin(), row);
    EXPECT_EQ(Texts(l),
              (std::vector<std::string>{"USB1", "USB2", "share", "media", "music(Disk1)", "music(Disk2)", "nfsonly"}));
    EXPECT_EQ(GetNasContext()->m_userAccess, "admin's");
    EXPECT_TRUE(boxes.Take().empty());
}

TEST_F(ShareFolders, UsbEject)
{
    ASSERT_TRUE(nas->dev->Ok("set usb 3:100:10"));
    EXPECT_EQ(EjectUsbDisk(CopyLogin(), "USB3"), UsbEject::Removed);
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"Remove success. you can unplug the USB."});
    FolderListing l = RefreshFolderList(job, CopyLogin());
    EXPECT_EQ(Find(l, "USB3"), nullptr);
    EXPECT_NE(Find(l, "USB1"), nullptr);
    EXPECT_EQ(EjectUsbDisk(CopyLogin(), "USB3 <U:>"), UsbEject::NotFound);
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"USB no found."});
}

// ---------------------------------------------------------------------------
// Connections (the connection layer with mounts kept in memory)

TEST_F(ShareFolders, ConnectionsMappingAndTheirChecks)
{
    const std::string dev = "\\\\198.18.1.10\\";
    // Not connected, then connected as bob.
    EXPECT_EQ(CheckConnection(CopyLogin(), "alice,bob"), kNotConnected);
    ASSERT_EQ(platform::WNetUseConnection(dev + "secret", "bob", "builder", "Z:"), 0);
    EXPECT_EQ(platform::WNetUseConnection(dev + "media", "bob", "builder", "Z:"), platform::ERROR_ALREADY_ASSIGNED);
    EXPECT_EQ(platform::WNetUseConnection(dev + "secret", "alice", "wonder", "Y:"),
              platform::ERROR_SESSION_CREDENTIAL_CONFLICT);
    EXPECT_EQ(CheckConnection(CopyLogin(), "alice,bob"), kConnectedSameUser);
    EXPECT_EQ(CheckConnection(CopyLogin(), "alice"), kConnectedOtherUser);

    // The mapped row shows its letter.
    FolderListing l = RefreshFolderList(job, CopyLogin());
    ASSERT_NE(Find(l, "secret <Z:>"), nullptr);
    EXPECT_EQ(Find(l, "secret <Z:>")->image, kFolderImageMapped);
    std::vector<std::string> free = platform::FreeDriveLetters();
    EXPECT_EQ(std::count(free.begin(), free.end(), "Z:"), 0);
    EXPECT_EQ(free.size(), 22u);

    // Dropping the device's connections: IPC$ first, then each share.
    ASSERT_EQ(platform::WNetUseConnection(dev + "media", "", ""), 0);
    std::vector<std::string> letters;
    EXPECT_EQ(DisconnectDevice(CopyLogin(), &letters), 1);
    EXPECT_EQ(letters, std::vector<std::string>{"Z:"});
    EXPECT_EQ(mounts->log,
              (std::vector<std::string>{"mount smb://198.18.1.10/secret bob", "mount smb://198.18.1.10/media ",
                                        "unmount smb://198.18.1.10/secret", "unmount smb://198.18.1.10/media"}));
    EXPECT_EQ(CheckConnection(CopyLogin(), "bob"), kNotConnected);
    EXPECT_NE(Find(RefreshFolderList(job, CopyLogin()), "secret"), nullptr);

    // At most 30 letter pairs mark rows: the 31st is left unmarked.
    for (int i = 0; i < 31; ++i) {
        std::string name = "m" + std::to_string(i);
        ASSERT_TRUE(nas->dev->Ok("set folder " + std::to_string(200 + i) + ":" + name + ":Disk1:1"));
        std::string letter = i < 23 ? std::string(1, static_cast<char>('D' + i)) + ":" : "X" + std::to_string(i) + ":";
        ASSERT_EQ(platform::WNetUseConnection(dev + name, "", "", letter), 0) << letter;
    }
    l = RefreshFolderList(job, CopyLogin());
    int marked = 0;
    for (const FolderRow& r : l.rows)
        marked += r.image == kFolderImageMapped;
    EXPECT_EQ(marked, 30);
    EXPECT_NE(Find(l, "m30"), nullptr);
    for (int i = 0; i < 31; ++i)
        DeleteRow(std::to_string(200 + i));
}

// Opening a private folder while this PC holds another user's mapping
// drops it and says which letter went; an FTP folder's address goes to the
// opener without the password.
TEST_F(ShareFolders, OpeningDropsOtherLettersAndKeepsThePasswordOffTheOpener)
{
    std::vector<std::string> opened;
    platform::SetShellOpenFunction([&](const std::string& target) {
        opened.push_back(target);
        return true;
    });
    ASSERT_TRUE(nas->dev->Ok("set folder 20:ftponly:Disk1:2:alice,:"));
    ASSERT_EQ(nas->dev->Command("mib set " + NasCell(nasmib::kFolderCifs, "20") + " i 0"), "OK");
    ASSERT_EQ(nas->dev->Command("mib set " + NasCell(nasmib::kFolderFtp, "20") + " i 1"), "OK");
    ASSERT_EQ(platform::WNetUseConnection("\\\\198.18.1.10\\secret", "bob", "builder", "Z:"), 0);
    nas->LogInContext("alice", "wonder");
    GetNasContext()->m_userLevel = "1";
    FolderListing l = RefreshFolderList(job, CopyLogin());
    ASSERT_NE(Find(l, "media"), nullptr);
    ASSERT_NE(Find(l, "ftponly"), nullptr);

    OpenOutcome media = OpenFolder(CopyLogin(), *Find(l, "media"));
    EXPECT_EQ(media.droppedLetters, std::vector<std::string>{"Z:"});
    EXPECT_EQ(CheckConnection(CopyLogin(), "alice"), kConnectedSameUser);
    OpenOutcome ftp = OpenFolder(CopyLogin(), *Find(l, "ftponly"));
    EXPECT_TRUE(ftp.droppedLetters.empty());
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], "ftp://alice@198.18.1.10/ftponly");
    EXPECT_EQ(opened[0].find("wonder"), std::string::npos);
    platform::SetShellOpenFunction({});
    DeleteRow("20");
    DisconnectDevice(CopyLogin());
}

TEST(FolderAddresses, FtpAndSmbAddressesAreEncoded)
{
    EXPECT_EQ(platform::MakeFtpUrl("198.18.1.10", "music"), "ftp://198.18.1.10/music");
    EXPECT_EQ(platform::MakeFtpUrl("198.18.1.10", "a b#%", "al@ice", "p:w/d"),
              "ftp://al%40ice:p:w%2Fd@198.18.1.10/a%20b%23%25");
    EXPECT_EQ(platform::UncToSmbUrl("\\\\198.18.1.10\\My Music"), "smb://198.18.1.10/My%20Music");
    EXPECT_EQ(platform::MakeFtpUrl("198.18.1.10", "music", "al@ice"), "ftp://al%40ice@198.18.1.10/music");
    EXPECT_EQ(platform::UncToSmbUrl("no unc"), "");
}

// The drive-letter table: any share name holds, a write that fails keeps
// the old table, and two mappings to one letter at once give it to one.
TEST(DriveTable, NamesFullDiskAndOneLetterAtATime)
{
    // A mount that waits, for the uri it is told, until the test lets it go.
    struct GatedMounts : testsupport::MemoryMounts {
        std::string gatedUri;
        std::mutex gate;
        std::condition_variable changed;
        bool entered = false, open = false;
        int Mount(const std::string& uri, const std::string& user, const std::string& password) override
        {
            if (uri == gatedUri) {
                std::unique_lock<std::mutex> g(gate);
                entered = true;
                changed.notify_all();
                changed.wait(g, [&] { return open; });
            }
            return MemoryMounts::Mount(uri, user, password);
        }
    };
    testsupport::TempDir dir;
    const std::string table = (dir / "drives.ini").string();
    platform::SetDriveTablePath(table);
    auto mounts = std::make_shared<GatedMounts>();
    auto old = platform::SetMountBackend(mounts);
    const std::string dev = "\\\\198.18.1.10\\";
    auto connections = [] {
        std::vector<platform::NetResource> all;
        EXPECT_EQ(platform::NetConnections(all), 0);
        std::vector<std::string> texts;
        for (const auto& c : all)
            texts.push_back(c.localName + " " + c.remoteName);
        return texts;
    };
    auto fileText = [&] {
        std::ifstream in(table);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    // A table of an older program, fields as they stand, reads the same.
    {
        std::ofstream(table) << "X:|" << dev << "p%41|carl\n";
    }
    mounts->mounted.emplace_back(platform::UncToSmbUrl(dev + "p%41"), "carl");
    EXPECT_EQ(connections(), std::vector<std::string>{"X: " + dev + "p%41"});
    // It names shares and users: made private to the user.
    const auto privateMode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    EXPECT_EQ(std::filesystem::status(table).permissions(), privateMode);
    std::string user;
    EXPECT_EQ(platform::WNetGetUser("X:", user), 0);
    EXPECT_EQ(user, "carl");

    ASSERT_EQ(platform::WNetUseConnection(dev + "a|b", "", "", "Y:"), 0);
    EXPECT_EQ(connections(), (std::vector<std::string>{"X: " + dev + "p%41", "Y: " + dev + "a|b"}));

    // The disk takes no more (a file size limit in a child process): the
    // mapping fails and the table stays as it was.
    const std::string before = fileText();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(platform::WNetUseConnection(dev + "c", "", "", "W:") & 0xff);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), platform::ERROR_DISK_FULL);
    EXPECT_EQ(fileText(), before);
    EXPECT_FALSE(std::filesystem::exists(table + ".new"));
    EXPECT_EQ(std::filesystem::status(table).permissions(), privateMode);

    // Unmapping when the table cannot be written: Y: stays mounted and
    // listed, and the failure is told.
    std::filesystem::create_symlink("/dev/full", table + ".new");
    GetNasContext()->m_deviceAddress = "198.18.1.10";
    testsupport::Boxes boxes;
    FolderRow mapped;
    mapped.text = "a|b <Y:>";
    EXPECT_FALSE(UnmapFolder(CopyLogin(), mapped));
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{"Error = 112.\nCould not unmap Y: (the drive table " + table +
                                                     " could not be written: the disk is full)."});
    EXPECT_TRUE(mounts->IsMounted(platform::UncToSmbUrl(dev + "a|b")));
    EXPECT_EQ(fileText(), before);
    EXPECT_FALSE(std::filesystem::is_symlink(table + ".new"));

    // Two shares to Z: at once: the one still mounting holds the letter.
    mounts->gatedUri = platform::UncToSmbUrl(dev + "first");
    int first = -1;
    std::thread mapping([&] { first = platform::WNetUseConnection(dev + "first", "", "", "Z:"); });
    {
        std::unique_lock<std::mutex> g(mounts->gate);
        mounts->changed.wait(g, [&] { return mounts->entered; });
    }
    EXPECT_EQ(platform::WNetUseConnection(dev + "second", "", "", "Z:"), platform::ERROR_ALREADY_ASSIGNED);
    {
        std::lock_guard<std::mutex> g(mounts->gate);
        mounts->open = true;
    }
    mounts->changed.notify_all();
    mapping.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(connections(),
              (std::vector<std::string>{"X: " + dev + "p%41", "Y: " + dev + "a|b", "Z: " + dev + "first"}));
    EXPECT_FALSE(mounts->IsMounted(platform::UncToSmbUrl(dev + "second")));

    platform::SetMountBackend(old);
    platform::SetDriveTablePath("");
}

} // namespace
