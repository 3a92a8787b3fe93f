// The disk set-up wizard end to end: the program logs in to the device
// emulator in a private network through the discovery dialog (remembered
// login in "quom.ini"), then the wizard formats the disks through the web
// CGI, follows the format job over UDP, uploads the package the emulator
// checks byte for byte, waits out the reboot and writes the device name back.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <dlfcn.h>
#include <filesystem>
#include <random>
#include <unistd.h>

#include "GuiTestSupport.h"
#include "Clock.h"
#include "DiscoverNasDlg.h"
#include "EmulatedNas.h"
#include "HttpRequest.h"
#include "MessageBoxes.h"
#include "NasMib.h"
#include "Paths.h"
#include "Profile.h"
#include "SetupWizardDlg.h"
#include "WizardControls.h"
#include "SnmpHelpers.h"
#include "TestNetwork.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
using testsupport::EmulatedNas;
namespace fs = std::filesystem;

namespace {

constexpr char kMacText[] = "02:00:00:00:0E:01";
constexpr char kName[] = "E2E-NAS";

// A package spanning several upload packets whose closing part is cut by a
// packet boundary.
std::string Package()
{
    const size_t header = RemoteInstallPartHeader().size();
    return testsupport::RandomBytes(3 * CDiskSetup::kPacketSize - header - 20, 7);
}

// The number in "OK N" or in "OK ... key=N ...".
long Number(const std::string& reply, const std::string& key = "")
{
    size_t at = key.empty() ? 3 : reply.find(key + "=");
    if (reply.rfind("OK", 0) != 0 || at == std::string::npos)
        return -1;
    return std::strtol(reply.c_str() + at + (key.empty() ? 0 : key.size() + 1), nullptr, 10);
}

// The UDP requests of that opcode the device received.
int UdpRequests(testsupport::Emulator& dev, int op)
{
    int n = 0;
    const long count = Number(dev.Command("requests"));
    for (long i = 0; i < count; ++i)
        if (dev.RequestField(static_cast<int>(i), "op") == std::to_string(op))
            ++n;
    return n;
}

} // namespace

class TestSetupWizardE2e : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::TempDir> m_dir;
    fs::path m_oldCwd;
    // The wizard's waits run 50 times faster (a 1.4 s reboot countdown); the
    // login's scans 8 times faster.
    platform::FastClock m_clock{50};
    std::unique_ptr<platform::ScopedClock> m_scopedClock;
    std::unique_ptr<EmulatedNas> m_nas;

    // Starts the device with these disk states (and more settings), its
    // package being expected, and logs in as the program does at start-up
    // with a remembered administrator login.
    bool StartAndLogIn(int disk1, int disk2, const std::string& expected, const std::string& more = "")
    {
        testsupport::WriteFile(m_dir->path() / "expected.bin", expected);
        m_nas = std::make_unique<EmulatedNas>(
            std::string("name = ") + kName + "\nmac = " + kMacText +
            "\nuser = admin:secret:15\ncommunity = c0mm\ndisk1 = " + std::to_string(disk1) +
            "\ndisk2 = " + std::to_string(disk2) +
            "\ndisk1_size = 476940:100:3\ndisk2_size = 476940:200:3\nformat_ms = 1000\nafter_format = 1\n"
            "install_check_ms = 200\nreboot_ms = 500\npackage_file = " +
            (m_dir->path() / "expected.bin").string() + "\n" + more);
        if (!m_nas->Started())
            return false;

        RememberLogin(kMacText, "admin", "secret");
        GetNasContext()->Reset();
        GetNasContext()->LoadLogin(nullptr);

        MessageBoxRecorder boxes;
        platform::FastClock loginClock(8);
        platform::ScopedClock scopedLogin(loginClock);
        CDiscoverNasDlg login(1);
        bool shown = true;
        const int code = RunScripted(
            login, [] {}, -1, {}, &shown);
        if (code != platform::IDOK || shown || boxes.Count() != 0) {
            qWarning("login: code %d, shown %d, %zu boxes", code, int(shown), boxes.Count());
            return false;
        }
        GetNasContext()->m_udpTimeout = 25000; // 500 real ms
        return GetNasContext()->m_nasInfo.disk1State == disk1 && GetNasContext()->m_nasInfo.disk2State == disk2;
    }

    testsupport::Emulator& Dev() { return *m_nas->dev; }

private slots:
    void initTestCase()
    {
        InstallMessageBoxHandler();
        m_scopedClock = std::make_unique<platform::ScopedClock>(m_clock);
        m_dir = std::make_unique<testsupport::TempDir>();
        m_oldCwd = fs::current_path();
        fs::current_path(m_dir->path()); // the package is read from the current folder
    }
    void cleanupTestCase()
    {
        fs::current_path(m_oldCwd);
        m_scopedClock.reset();
    }
    void cleanup()
    {
        Dialog::SetModalHook({});
        m_nas.reset();
        std::error_code ec;
        fs::remove(m_dir->path() / "default_remote_package.bin", ec);
    }

    void theProgramRunsFromItsOwnFolder()
    {
        // The login memory and the libraries are those of a folder of this run.
        const fs::path folder = testsupport::PrivateProgramFolder();
        QVERIFY(!folder.empty());
        QVERIFY(fs::equivalent(platform::ProgramFolder(), folder));
        QVERIFY(fs::equivalent(fs::path(GetNasContext()->IniPath()).parent_path(), folder));
        QVERIFY(folder.parent_path() == testsupport::BinDir() ||
                fs::equivalent(folder.parent_path(), testsupport::BinDir()));
        void* pendrix = dlopen((folder / "libpendrix.so").c_str(), RTLD_NOW | RTLD_LOCAL);
        QVERIFY(pendrix != nullptr);
        QVERIFY(dlsym(pendrix, "MD5Generate") != nullptr);
        dlclose(pendrix);
    }

    void raid1Ext3FormatInstallRebootAndName()
    {
        const std::string package = Package();
        QVERIFY(StartAndLogIn(-2, -2, package));
        testsupport::WriteFile("default_remote_package.bin", package);
        const std::string bootTime = Dev().Command(std::string("mib get ") + nasmib::kBootTime);
        const long snmpWritesBefore = Number(Dev().Command("snmp writes"));

        MessageBoxRecorder boxes; // the data-loss question: OK
        std::vector<int> bar;
        std::vector<std::string> prompts, disk1Texts;
        bool sawSilence = false, cancelOff = false, modeLocked = false;
        std::string prompt, disk1, disk2;
        CSetupWizardDlg dlg;
        const int code = RunScripted(dlg, [&] {
            auto* mode = qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_SETUP_MODE));
            QVERIFY(mode->isEnabled()); // the device leaves the choice to us
            mode->setCurrentIndex(2);
            emit mode->activated(2);
            qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_SETUP_TYPE))->setCurrentIndex(1);
            auto* progress = qobject_cast<QProgressBar*>(dlg.GetDlgItem(IDC_SETUP_PROGRESS));
            QObject::connect(progress, &QProgressBar::valueChanged, [&](int v) { bar.push_back(v); });
            Button(dlg, IDC_SETUP_NEXT)->click();
            cancelOff = !Button(dlg, IDC_SETUP_CANCEL)->isEnabled();
            modeLocked = mode->isHidden();
            // Follow what the wizard shows while the device works.
            QVERIFY(WaitFor([&] {
                const std::string p = LabelText(dlg, IDC_SETUP_PROMPT);
                if (prompts.empty() || prompts.back() != p)
                    prompts.push_back(p);
                const std::string d1 = LabelText(dlg, IDC_SETUP_DISK1_STATUS);
                if (disk1Texts.empty() || disk1Texts.back() != d1)
                    disk1Texts.push_back(d1);
                if (p.rfind("Waiting ", 0) == 0 && p.find("seconds for NAS rebooting.") != std::string::npos &&
                    Dev().Command("job").find("install=rebooting") != std::string::npos)
                    sawSilence = true;
                return !dlg.IsWorkerRunning() && Button(dlg, IDC_SETUP_NEXT)->isEnabled() &&
                       LabelText(dlg, IDC_SETUP_NEXT) != "Next";
            }));
            prompt = LabelText(dlg, IDC_SETUP_PROMPT);
            disk1 = LabelText(dlg, IDC_SETUP_DISK1_STATUS);
            disk2 = LabelText(dlg, IDC_SETUP_DISK2_STATUS);
            QCOMPARE(LabelText(dlg, IDC_SETUP_NEXT), std::string("Finish"));
            Button(dlg, IDC_SETUP_NEXT)->click();
        });
        QCOMPARE(code, int(platform::IDOK));
        QCOMPARE(boxes.Count(), size_t(1)); // the question only, no error
        QVERIFY(cancelOff);
        QVERIFY(modeLocked);
        QCOMPARE(prompt, std::string("Install successfully."));
        QCOMPARE(disk1, std::string("Finish"));
        QCOMPARE(disk2, std::string("Finish"));

        // The step2 form as the device received it (its 98 bytes of body):
        // EXT3 and RAID 1.
        std::vector<std::string> forms;
        std::vector<std::string> uploads;
        for (const std::string& r : Dev().WebRequests()) {
            if (r.rfind("POST /cgi-bin/setobject", 0) == 0)
                forms.push_back(r);
            if (r.rfind("POST /cgi-bin/remoteinstall ", 0) == 0)
                uploads.push_back(r);
        }
        QCOMPARE(forms.size(), size_t(1));
        QCOMPARE(forms[0],
                 "POST /cgi-bin/setobject?/configuration/SystemStatus/step2.shtml HTTP/1.1\r\n"
                 "Accept: image/gif, image/x-xbitmap,  image/jpeg,  image/pjpeg, application/x-shockwave-flash, "
                 "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n"
                 "Referer: http://198.18.1.10/configuration/SystemStatus/step1.shtml\r\n"
                 "Accept-Language: zh-tw\r\n"
                 "Content-Type: application/x-www-form-urlencoded\r\n"
                 "Accept-Encoding: gzip, deflate\r\n"
                 "User-Agent: Mozilla/4.0 (compatible; MSIE 6.1; Windows NT 5.1; SV1; .NET CLR 2.0.20727; .NET CLR "
                 "1.14322)\r\n"
                 "Host: 198.18.1.10\r\n"
                 "Content-Length: 98\r\n"
                 "Connection: Keep-Alive\r\n"
                 "Cache-Control: no-cache\r\n"
                 "Authorization: Basic " +
                     Base64Encode(std::string("admin:secret")) +
                     "\r\n\r\n"
                     "FormatFS=i1.3.6.1.2.1.21.6.0%3D3&DiskMode=i1.3.6.1.2.1.21.9.0%3D1&InitDisk=i1.3.6.1.2.1.21.8.0%"
                     "3D1");
        // ... and applied: a mirror of EXT3 disks.
        QCOMPARE(Dev().Command(std::string("mib get ") + nasmib::kFormatFs), std::string("OK i 3"));
        QCOMPARE(Dev().Command(std::string("mib get ") + nasmib::kDiskMode), std::string("OK i 1"));
        QCOMPARE(Dev().Command("mib get " + NasCell(nasmib::kDiskFsType, "2")), std::string("OK s 3"));

        // The format job was followed to its end over UDP.
        QVERIFY(UdpRequests(Dev(), 6) >= 2);
        std::vector<int> percents;
        for (const std::string& p : prompts)
            if (p.rfind("Formatting Disk...", 0) == 0)
                percents.push_back(std::atoi(p.c_str() + 18));
        QVERIFY2(std::any_of(percents.begin(), percents.end(), [](int v) { return v > 0 && v < 100; }),
                 "no format progress between 0 and 100 was shown");
        QVERIFY(std::is_sorted(percents.begin(), percents.end()));
        QVERIFY(std::find(disk1Texts.begin(), disk1Texts.end(), "Formatting") != disk1Texts.end());
        for (int v : bar)
            QVERIFY(v >= 0 && v <= 100);

        // The upload: one, whole, accepted by the device's own check.
        QCOMPARE(uploads.size(), size_t(1));
        const size_t headEnd = uploads[0].find("\r\n\r\n") + 4;
        QVERIFY(uploads[0].substr(headEnd) == RemoteInstallPartHeader() + package + RemoteInstallClosingPart());
        QCOMPARE(Number(Dev().Command("web stats"), "packages"), 1L);

        // The reboot happened while the wizard counted down, and is over.
        QVERIFY(sawSilence);
        std::vector<int> seconds;
        for (const std::string& p : prompts)
            if (p.rfind("Waiting ", 0) == 0 && p.find(" seconds for NAS rebooting.") != std::string::npos)
                seconds.push_back(std::atoi(p.c_str() + 8));
        QVERIFY(!seconds.empty());
        QVERIFY(seconds.front() <= 70 && seconds.back() >= 1);
        QVERIFY(std::is_sorted(seconds.rbegin(), seconds.rend()));
        QCOMPARE(Dev().Command("job"), std::string("OK format=done progress=0:0:0 install=done"));
        QVERIFY(Dev().Command(std::string("mib get ") + nasmib::kBootTime) != bootTime);

        // The name went back once the device answered again; nothing else was written.
        const std::vector<std::string> writes = Dev().SnmpWrites();
        QCOMPARE(long(writes.size()) - snmpWritesBefore, 1L);
        QCOMPARE(writes.back(), std::string(nasmib::kDeviceName) + " s " + kName);

        // The device now reports ready disks.
        NasInfo after = m_nas->Find();
        QCOMPARE(after.disk1State, 2);
        QCOMPARE(after.disk2State, 2);
    }

    void wrongPackageFailsThenRetrySucceeds()
    {
        const std::string package = Package();
        QVERIFY(StartAndLogIn(1, 1, package));
        std::string wrong = package;
        wrong[wrong.size() / 2] ^= 0x01; // one bit off, same size
        testsupport::WriteFile("default_remote_package.bin", wrong);

        MessageBoxRecorder boxes;
        std::string firstPrompt, failedPrompt, failedJob, finalPrompt;
        bool cancelOn = false, typeHidden = false;
        size_t boxesAfterFailure = 0;
        CSetupWizardDlg dlg;
        const int code = RunScripted(dlg, [&] {
            firstPrompt = LabelText(dlg, IDC_SETUP_PROMPT);
            typeHidden = dlg.GetDlgItem(IDC_SETUP_TYPE)->isHidden();
            Button(dlg, IDC_SETUP_NEXT)->click();
            QVERIFY2(WaitFor([&] {
                         return !dlg.IsWorkerRunning() && Button(dlg, IDC_SETUP_NEXT)->isEnabled() &&
                                LabelText(dlg, IDC_SETUP_NEXT) == "Retry";
                     }),
                     (LabelText(dlg, IDC_SETUP_PROMPT) + " / " + Dev().Command("job")).c_str());
            failedPrompt = LabelText(dlg, IDC_SETUP_PROMPT);
            cancelOn = Button(dlg, IDC_SETUP_CANCEL)->isEnabled();
            failedJob = Dev().Command("job");
            boxesAfterFailure = boxes.Count();
            // The right file now: Retry installs again, nothing is formatted.
            testsupport::WriteFile("default_remote_package.bin", package);
            Button(dlg, IDC_SETUP_NEXT)->click();
            QVERIFY(WaitFor([&] {
                return !dlg.IsWorkerRunning() && Button(dlg, IDC_SETUP_NEXT)->isEnabled() &&
                       LabelText(dlg, IDC_SETUP_NEXT) == "Finish";
            }));
            finalPrompt = LabelText(dlg, IDC_SETUP_PROMPT);
            Button(dlg, IDC_SETUP_NEXT)->click();
        });
        QCOMPARE(code, int(platform::IDOK));
        QCOMPARE(firstPrompt, std::string("System detect uninititalzed hard-disk.\nPlease press next when ready to "
                                          "initialize the hard-disk"));
        QVERIFY(typeHidden);
        QCOMPARE(failedPrompt, std::string("Click \"Retry\" button to install again."));
        QVERIFY(cancelOn);
        QCOMPARE(failedJob, std::string("OK format=idle progress=0:0:0 install=bad"));
        QCOMPARE(boxesAfterFailure, size_t(1));
        QCOMPARE(boxes.Boxes()[0].text,
                 std::string("The file is fragmented or incorrect, please select the correct file"));
        QCOMPARE(boxes.Boxes()[0].style & platform::MB_ICONMASK, unsigned(platform::MB_ICONERROR));
        QCOMPARE(boxes.Count(), size_t(1));
        QCOMPARE(finalPrompt, std::string("Install successfully."));
        QCOMPARE(Dev().Command("job"), std::string("OK format=idle progress=0:0:0 install=done"));
        QCOMPARE(Number(Dev().Command("web stats"), "packages"), 2L);
        QCOMPARE(Number(Dev().Command("web stats"), "forms"), 0L);
        // The name was written back after each round, as it was read.
        const std::vector<std::string> writes = Dev().SnmpWrites();
        QCOMPARE(writes, std::vector<std::string>(2, std::string(nasmib::kDeviceName) + " s " + kName));
    }

    void refusedUploadIsAFailure()
    {
        // The web server refuses the upload (a login it does not take): no
        // package arrived, whatever the status requests answer afterwards.
        const std::string package = Package();
        QVERIFY(StartAndLogIn(1, 0, package, "install_status = 0\n"));
        testsupport::WriteFile("default_remote_package.bin", package);
        QVERIFY(Dev().Ok("web fault unauthorized"));
        MessageBoxRecorder boxes;
        std::string prompt;
        CSetupWizardDlg dlg;
        const int code = RunScripted(dlg, [&] {
            Button(dlg, IDC_SETUP_NEXT)->click();
            QVERIFY(WaitFor([&] {
                return !dlg.IsWorkerRunning() && Button(dlg, IDC_SETUP_NEXT)->isEnabled() &&
                       LabelText(dlg, IDC_SETUP_NEXT) != "Next";
            }));
            prompt = LabelText(dlg, IDC_SETUP_PROMPT);
            Button(dlg, IDC_SETUP_CANCEL)->click();
        });
        QCOMPARE(code, int(platform::IDCANCEL));
        QCOMPARE(prompt, std::string("Click \"Retry\" button to install again."));
        QCOMPARE(boxes.Count(), size_t(1));
        QCOMPARE(boxes.LastText(), std::string("File transmission failed!!\nError code: 401"));
        QCOMPARE(boxes.Boxes()[0].style & platform::MB_ICONMASK, unsigned(platform::MB_ICONERROR));
        QCOMPARE(Number(Dev().Command("web stats"), "packages"), 0L);
        QCOMPARE(UdpRequests(Dev(), 8), 0); // nothing to ask about
        QCOMPARE(Dev().Command("job"), std::string("OK format=idle progress=0:0:0 install=none"));
    }

    void decliningTheDataLossQuestionSendsNothing()
    {
        QVERIFY(StartAndLogIn(-2, -2, Package()));
        testsupport::WriteFile("default_remote_package.bin", Package());
        const int udpBefore = static_cast<int>(Number(Dev().Command("requests")));
        MessageBoxRecorder boxes([](const RecordedBox&) { return platform::IDCANCEL; });
        CSetupWizardDlg dlg;
        const int code = RunScripted(dlg, [&] { Button(dlg, IDC_SETUP_NEXT)->click(); });
        QCOMPARE(code, int(platform::IDCANCEL));
        QCOMPARE(boxes.Count(), size_t(1));
        QCOMPARE(boxes.Boxes()[0].text,
                 std::string("The data in the disk will be lost if doing format action.\nAre you sure to continue?"));
        // Not a byte to the web server, no UDP request, no SET; the disks stay as they were.
        QCOMPARE(Dev().Command("web stats"), std::string("OK connections=0 requests=0 forms=0 packages=0"));
        QCOMPARE(Number(Dev().Command("requests")), long(udpBefore));
        QCOMPARE(Number(Dev().Command("snmp writes")), 0L);
        QCOMPARE(Dev().Command("job"), std::string("OK format=idle progress=0:0:0 install=none"));
        NasInfo info = m_nas->Find();
        QCOMPARE(info.disk1State, -2);
        QCOMPARE(info.disk2State, -2);
    }

    void readyDisksSkipTheWizard()
    {
        QVERIFY(StartAndLogIn(2, 2, Package()));
        testsupport::WriteFile("default_remote_package.bin", Package());
        const std::string snmpBefore = Dev().Command("snmp requests");
        const long udpBefore = Number(Dev().Command("requests"));
        MessageBoxRecorder boxes;
        CSetupWizardDlg dlg;
        bool shown = true;
        QCOMPARE(RunScripted(
                     dlg, [] {}, -1, {}, &shown),
                 int(platform::IDOK));
        QVERIFY(!shown);
        QCOMPARE(boxes.Count(), size_t(0));
        QCOMPARE(Dev().Command("snmp requests"), snmpBefore);
        QCOMPARE(Number(Dev().Command("requests")), udpBefore);
        QCOMPARE(Number(Dev().Command("web stats"), "connections"), 0L);
    }
};

int main(int argc, char** argv)
{
    // The login memory lies beside the program.
    testsupport::RunFromPrivateProgramFolder(argc, argv);
    QApplication app(argc, argv);
    TestSetupWizardE2e test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_setup_wizard_e2e.moc"
