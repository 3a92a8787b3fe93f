// The emulated device's long jobs as the setup wizard drives them: the disk
// set-up form starts a format whose progress comes over UDP op 6 while the
// disks read "formatting" in discovery and over SNMP; the package upload is
// checked byte for byte, its result comes over op 8, and a good package is
// followed by a reboot during which the device answers nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EmulatedNas.h"
#include "TestClock.h"
#include "HttpRequest.h"
#include "MessageBox.h"
#include "NasFinder.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "TcpSocket.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using testsupport::EmulatedNas;

namespace {

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

using Silence = platform::MessageBoxRecorder;

class Jobs : public ::testing::Test {
protected:
    testsupport::InstantPauses pauses;

    // Starts the device, logs in as admin and learns its web port.
    bool Start(const std::string& config)
    {
        nas = std::make_unique<EmulatedNas>("user = admin:pw:15\ncommunity = c0mm\n" + config);
        if (!nas->Started())
            return false;
        nas->LogInContext("admin", "pw");
        port = GetNasWebPort(CopyLogin(), nullptr);
        return port > 0;
    }

    int PostInitDisk(int formatType, int diskMode)
    {
        return SendHttpRequest(
            EmulatedNas::kAddress, static_cast<unsigned>(port),
            BuildInitDiskRequest(EmulatedNas::kAddress, MakeDeviceAuthorization(CopyLogin()), formatType, diskMode));
    }

    // The upload as the wizard sends it: the head, then the body in 1460-byte
    // packets. The verdict on the device's answer.
    CHttpStatusReader::Verdict Upload(const std::string& package)
    {
        std::string body = RemoteInstallPartHeader() + package + RemoteInstallClosingPart();
        std::string head =
            BuildRemoteInstallHead(EmulatedNas::kAddress, MakeDeviceAuthorization(CopyLogin()), body.size());
        CTcpSocket socket;
        if (!socket.Create() || !socket.Connect(EmulatedNas::kAddress, static_cast<unsigned>(port), 3000) ||
            !socket.SendAll(head.data(), head.size(), 3000))
            return CHttpStatusReader::kMalformed;
        for (size_t at = 0; at < body.size(); at += 1460)
            if (!socket.SendAll(body.data() + at, std::min<size_t>(1460, body.size() - at), 3000))
                return CHttpStatusReader::kMalformed;
        CHttpStatusReader reader;
        char buf[1024];
        long n;
        while (reader.Result() == CHttpStatusReader::kPending && (n = socket.Receive(buf, sizeof buf, 5000)) > 0)
            reader.Feed(buf, static_cast<size_t>(n));
        return reader.Result();
    }

    // Polls op 8 until the answer is no longer 1 (checking).
    int InstallResult()
    {
        int status = 1;
        for (int i = 0; i < 200 && status == 1; ++i) {
            status = nas->Status();
            if (status == 1)
                Pause(50);
        }
        return status;
    }

    std::string Job() { return nas->dev->Command("job"); }

    std::string Mib(const std::string& oid) { return nas->dev->Command("mib get " + oid); }

    // Both disk states over SNMP ("d1/d2"), or the engine's code.
    std::string SnmpDisks()
    {
        int d1 = 99, d2 = 99;
        int rc = GetDiskStatus(EmulatedNas::kAddress, "c0mm", &d1, &d2);
        return rc == 0 ? std::to_string(d1) + "/" + std::to_string(d2) : "rc " + std::to_string(rc);
    }

    std::string Package() const
    {
        std::string p = "TOLVANE PACKAGE\r\n--";
        p += kRemoteInstallBoundary;
        p += "x\r\n";
        for (int i = 0; i < 4000; ++i)
            p += static_cast<char>((i * 131) & 0xFF);
        return p;
    }

    Silence silence;
    std::unique_ptr<EmulatedNas> nas;
    int port = -1;
};

} // namespace

TEST_F(Jobs, FormatOfIndividualDisksReportsEachDiskThenReady)
{
    ASSERT_TRUE(Start("disk1 = -2\ndisk2 = -2\ndisk1_size = 1000:10\ndisk2_size = 3000:20\nformat_ms = 4000\n"));
    NasInfo before = nas->Find();
    EXPECT_EQ(before.disk1State, -2);
    EXPECT_EQ(before.disk2State, -2);
    EXPECT_EQ(Job(), "OK format=idle progress=0:0:0 install=none");

    ASSERT_EQ(PostInitDisk(3, 0), kHttpOk);
    // Follow op 6 as the wizard does. The disks are read just before each
    // request: a disk ends its part before the status moves on, so what op 6
    // says bounds what the disks showed.
    std::vector<int> statuses;
    unsigned lastDone = 0;
    int status = -1;
    int checked = 0;
    for (int round = 0; round < 400 && status != 0; ++round) {
        unsigned done = 0, total = 0;
        const int previous = status;
        const std::string disks = SnmpDisks();
        status = nas->Progress(&done, &total);
        ASSERT_GE(status, 0);
        if (statuses.empty() || statuses.back() != status) {
            statuses.push_back(status);
            lastDone = 0;
        }
        if (status == 1 || status == 3) {
            EXPECT_EQ(total, status == 1 ? 1000u : 3000u);
            EXPECT_LE(done, total);
            EXPECT_GE(done, lastDone);
            lastDone = done;
        }
        if (status == 1) {
            EXPECT_EQ(disks, "-1/-1"); // both formatting while disk 1 is done
            ++checked;
        } else if (status == 3 && previous == 3) {
            EXPECT_EQ(disks, "2/-1"); // disk 1 ready, disk 2 still formatting
            ++checked;
        }
        if (status != 0)
            Pause(50);
    }
    EXPECT_EQ(statuses, (std::vector<int>{1, 3, 0}));
    EXPECT_GT(checked, 0);

    // Ready, as the wizard's last check reads it, and in discovery.
    EXPECT_EQ(SnmpDisks(), "2/2");
    NasInfo after = nas->Find();
    EXPECT_EQ(after.disk1State, 2);
    EXPECT_EQ(after.disk2State, 2);
    EXPECT_EQ(Mib(NasCell(nasmib::kDiskFsType, "2")), "OK s 3");
    EXPECT_EQ(Mib(NasCell(nasmib::kDiskUsedSize, "1")), "OK i 0");
    EXPECT_EQ(Mib(nasmib::kFormatFs), "OK i 3");
    EXPECT_EQ(Mib(nasmib::kDiskMode), "OK i 0");
    EXPECT_EQ(Mib(nasmib::kInitDisk), "OK i 0");
    EXPECT_EQ(Job(), "OK format=done progress=0:0:0 install=none");
}

TEST_F(Jobs, RaidFormatThenInstallThenRebootSilence)
{
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "package.bin", Package());
    ASSERT_TRUE(Start("disk1 = -2\ndisk2 = -2\ndisk1_size = 1000\ndisk2_size = 1000\nformat_ms = 3000\n"
                      "after_format = 1\ninstall_check_ms = 300\nreboot_ms = 6000\npackage_file = " +
                      (dir / "package.bin").string() + "\n"));
    const std::string bootTime = Mib(nasmib::kBootTime);

    // RAID 1 with EXT2: one part for the pair.
    ASSERT_EQ(PostInitDisk(2, 1), kHttpOk);
    // A second set-up request and an upload while it runs: the device is busy.
    EXPECT_EQ(PostInitDisk(2, 1), kHttpRejected);
    EXPECT_EQ(Upload("too early"), CHttpStatusReader::kOk);
    EXPECT_EQ(nas->Status(), 3);
    std::vector<int> statuses;
    int status = -1;
    for (int round = 0; round < 400 && status != 0; ++round) {
        unsigned done = 0, total = 0;
        status = nas->Progress(&done, &total);
        ASSERT_GE(status, 0);
        if (status == 5) {
            EXPECT_EQ(total, 2000u);
        }
        if (statuses.empty() || statuses.back() != status)
            statuses.push_back(status);
        if (status != 0)
            Pause(50);
    }
    EXPECT_EQ(statuses, (std::vector<int>{5, 0}));
    // Formatted, the package not installed yet.
    EXPECT_EQ(SnmpDisks(), "1/1");
    EXPECT_EQ(Mib(nasmib::kDiskMode), "OK i 1");
    EXPECT_EQ(Mib(NasCell(nasmib::kDiskFsType, "1")), "OK s 2");

    // The wizard's probe, then the upload and the status polls.
    EXPECT_EQ(SendHttpRequest(EmulatedNas::kAddress, static_cast<unsigned>(port),
                              BuildProbeRequest(EmulatedNas::kAddress, MakeDeviceAuthorization(CopyLogin()))),
              kHttpOk);
    ASSERT_EQ(Upload(Package()), CHttpStatusReader::kOk);
    EXPECT_EQ(InstallResult(), 0);

    // The reboot: nothing answers while the device says it reboots.
    std::string job;
    for (int i = 0; i < 200 && job.find("install=rebooting") == std::string::npos; ++i) {
        job = Job();
        Pause(20);
    }
    ASSERT_NE(job.find("install=rebooting"), std::string::npos) << job;
    NasInfo info{};
    EXPECT_FALSE(nas->Discover(info, 300));
    EXPECT_EQ(nas->Status(300), FINDER_ERR_TIMEOUT);
    std::string name;
    EXPECT_EQ(nas->Engine("c0mm").SimpleGet(nasmib::kDeviceName, name), SNMP_ENGINE_TIMEOUT);
    HttpSendOptions quick;
    quick.limits = {300, 600};
    EXPECT_EQ(SendHttpRequestWithOptions(EmulatedNas::kAddress, static_cast<unsigned>(port),
                                         BuildProbeRequest(EmulatedNas::kAddress, "x"), quick),
              kHttpNoAnswer);
    EXPECT_NE(Job().find("install=rebooting"), std::string::npos) << "the reboot ended during the checks";

    // Back: ready disks, a new boot time, and the name the wizard writes back.
    bool back = false;
    for (int i = 0; i < 60 && !back; ++i)
        back = nas->Discover(info, 300);
    ASSERT_TRUE(back);
    EXPECT_EQ(info.disk1State, 2);
    EXPECT_EQ(info.disk2State, 2);
    EXPECT_EQ(SnmpDisks(), "2/2");
    EXPECT_NE(Mib(nasmib::kBootTime), bootTime);
    EXPECT_EQ(nas->Status(), 0);
    ASSERT_EQ(SnmpGetWithRetry(CopyLogin(), nasmib::kDeviceName, name), 0);
    EXPECT_EQ(SnmpSetWithRetry(CopyLogin(), nasmib::kDeviceName, name), 0);
    EXPECT_EQ(Job(), "OK format=done progress=0:0:0 install=done");
}

TEST_F(Jobs, WrongPackageBytesGiveTheFailureStatusAndNoReboot)
{
    testsupport::TempDir dir;
    const std::string package = Package();
    testsupport::WriteFile(dir / "package.bin", package);
    ASSERT_TRUE(
        Start("install_check_ms = 200\nreboot_ms = 60000\npackage_file = " + (dir / "package.bin").string() + "\n"));
    // Scripted answers until a package arrives.
    EXPECT_EQ(nas->Status(), 0);

    std::string wrong = package;
    wrong[wrong.size() / 2] ^= 0x20;
    ASSERT_EQ(Upload(wrong), CHttpStatusReader::kOk);
    EXPECT_EQ(InstallResult(), 2);
    EXPECT_EQ(Job(), "OK format=idle progress=0:0:0 install=bad");
    ASSERT_EQ(Upload(package.substr(0, package.size() - 1)), CHttpStatusReader::kOk);
    EXPECT_EQ(InstallResult(), 2);
    // Still answering: no reboot after a refused package.
    EXPECT_EQ(nas->Status(), 2);
    EXPECT_EQ(SnmpDisks(), "2/2");
    EXPECT_NE(nas->dev->Command("web stats").find(" packages=2"), std::string::npos);

    // Without a package file, the configured size decides.
    ASSERT_TRUE(nas->dev->Ok("set package_file"));
    ASSERT_TRUE(nas->dev->Ok("set package_size 5"));
    ASSERT_EQ(Upload("123456"), CHttpStatusReader::kOk);
    EXPECT_EQ(InstallResult(), 2);
    ASSERT_EQ(Upload("12345"), CHttpStatusReader::kOk);
    EXPECT_EQ(InstallResult(), 0);
}
