// The disk set-up wizard against a device made of the emulator's UDP side (in
// its own network namespace), an SNMP agent with the device's tables and a
// web server that records every request byte for byte.
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "AccessibleWalk.h"
#include "BlockingCallCounter.h"
#include "GuiTestSupport.h"
#include "TestClock.h"
#include "Dialog.h"
#include "FormParser.h"
#include "HttpRequest.h"
#include "MessageBoxes.h"
#include "NasMib.h"
#include "SetupWizardDlg.h"
#include "WizardControls.h"
#include "SnmpHelpers.h"
#include "SnmpTestAgent.h"
#include "SocketError.h"
#include "TestNetwork.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
namespace fs = std::filesystem;

using testsupport::Ip;

namespace {

constexpr char kDeviceMac[] = "02:00:00:00:07:01";
constexpr char kDeviceIp[] = "198.18.7.10";
constexpr char kPcIp[] = "198.18.7.1";

// A web server that answers each request once it has read it whole and keeps
// every connection's bytes (up to the client's close).
class RecordingWebServer {
public:
    // Status line for a request head, "HTTP/1.1 200 OK" by default.
    using Answer = std::function<std::string(const std::string& head)>;
    // Runs before the answer goes out.
    using OnRequest = std::function<void(const std::string& head, const std::string& body)>;

    RecordingWebServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        (void)::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 16);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~RecordingWebServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }

    uint16_t Port() const { return m_port; }
    void SetAnswer(Answer answer)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_answer = std::move(answer);
    }
    void SetOnRequest(OnRequest on)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_on = std::move(on);
    }
    // The bytes of every connection that sent any.
    std::vector<std::string> Requests() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_requests;
    }
    // Those whose first line starts with prefix.
    std::vector<std::string> RequestsTo(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const std::string& r : Requests())
            if (r.compare(0, prefix.size(), prefix) == 0)
                out.push_back(r);
        return out;
    }

private:
    static bool ReadSome(int fd, std::string& into, int timeoutMs)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        char buffer[65536];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        into.append(buffer, static_cast<size_t>(n));
        return true;
    }

    static size_t ContentLength(const std::string& head)
    {
        std::string lower;
        for (char c : head)
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t at = lower.find("\r\ncontent-length:");
        if (at == std::string::npos)
            return 0;
        return std::strtoull(head.c_str() + at + 17, nullptr, 10);
    }

    void Serve(int client)
    {
        std::string raw;
        size_t headEnd;
        while ((headEnd = raw.find("\r\n\r\n")) == std::string::npos)
            if (!ReadSome(client, raw, 5000))
                break;
        if (headEnd != std::string::npos) {
            const std::string head = raw.substr(0, headEnd + 4);
            const size_t length = ContentLength(head);
            while (raw.size() < head.size() + length)
                if (!ReadSome(client, raw, 5000))
                    break;
            Answer answer;
            OnRequest on;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                answer = m_answer;
                on = m_on;
            }
            if (on)
                on(head, raw.substr(head.size(), length));
            std::string reply = (answer ? answer(head) : std::string("HTTP/1.1 200 OK")) +
                                "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        // What follows (the trailer, the NUL), up to the client's close.
        while (ReadSome(client, raw, 1000)) {
        }
        ::close(client);
        if (!raw.empty()) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_requests.push_back(raw);
        }
    }

    void Run()
    {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                Serve(client);
        }
    }

    int m_fd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    mutable std::mutex m_lock;
    Answer m_answer;
    OnRequest m_on;
    std::vector<std::string> m_requests;
};

// Next is back, with that caption, and no worker runs.
bool WaitForNext(CSetupWizardDlg& d, const char* caption)
{
    return WaitFor([&] {
        return !d.IsWorkerRunning() && Button(d, IDC_SETUP_NEXT)->isEnabled() &&
               LabelText(d, IDC_SETUP_NEXT) == caption;
    });
}

std::string ExpectedStep2(const std::string& authorization)
{
    return "POST /cgi-bin/setobject?/configuration/SystemStatus/step2.shtml HTTP/1.1\r\n"
           "Accept: image/gif, image/x-xbitmap,  image/jpeg,  image/pjpeg, application/x-shockwave-flash, "
           "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n"
           "Referer: http://127.0.0.1/configuration/SystemStatus/step1.shtml\r\n"
           "Accept-Language: zh-tw\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\n"
           "Accept-Encoding: gzip, deflate\r\n"
           "User-Agent: Mozilla/4.0 (compatible; MSIE 6.1; Windows NT 5.1; SV1; .NET CLR 2.0.20727; .NET CLR "
           "1.14322)\r\n"
           "Host: 127.0.0.1\r\n"
           "Content-Length: 98\r\n"
           "Connection: Keep-Alive\r\n"
           "Cache-Control: no-cache\r\n"
           "Authorization: Basic " +
           authorization +
           "\r\n\r\n"
           "FormatFS=i1.3.6.1.2.1.21.6.0%3D3&DiskMode=i1.3.6.1.2.1.21.9.0%3D1&InitDisk=i1.3.6.1.2.1.21.8.0%3D1\r\n" +
           std::string(1, '\0');
}

} // namespace

class TestSetupWizard : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::TestNetwork> m_net;
    testsupport::Emulator* m_udp = nullptr;
    std::unique_ptr<testsupport::SnmpTestAgent> m_snmp;
    std::unique_ptr<RecordingWebServer> m_web;
    std::unique_ptr<testsupport::TempDir> m_dir;
    fs::path m_oldCwd;
    // Time runs 100 times faster and the pauses pass at once.
    std::unique_ptr<testsupport::InstantPauses> m_clock;
    // Device calls the wizard runs of a test made on the GUI thread.
    int m_guiThreadCalls = 0;

    // A device with these disk states, logged in as user.
    void Device(int disk1, int disk2, const std::string& user = "admin", int formatType = 0)
    {
        testbed::NasDescription nas = testbed::NasDescription::Default("secret");
        nas.formatType = formatType;
        nas.webPort = m_web->Port();
        nas.disks = {{1, 476940, 1000, "ext3", disk1}, {2, 953869, 0, "ext3", disk2}};
        m_snmp = std::make_unique<testsupport::SnmpTestAgent>(nas);
        m_snmp->PointContext();
        CNasContext* ctx = GetNasContext();
        ctx->m_user = user;
        ctx->m_udpTimeout = 30000; // 300 real ms
        NasInfo info{};
        info.deviceAddress = Ip(kDeviceIp);
        StringToMac(kDeviceMac, info.mac);
        info.localAddress = Ip(kPcIp);
        info.localMask = Ip("255.255.255.0");
        info.disk1State = disk1;
        info.disk2State = disk2;
        std::snprintf(info.name, sizeof info.name, "TOLVANE-NAS");
        ctx->m_nasInfo = info;
    }

    void SetDisks(int disk1, int disk2)
    {
        m_snmp->store.Set(NasCell(nasmib::kDiskStatus, "1"), testbed::MibValue::Integer(disk1));
        m_snmp->store.Set(NasCell(nasmib::kDiskStatus, "2"), testbed::MibValue::Integer(disk2));
    }

    int UdpRequests()
    {
        std::string reply = m_udp->Command("requests");
        return reply.rfind("OK ", 0) == 0 ? std::atoi(reply.c_str() + 3) : -1;
    }

    // Runs the wizard with script as its modal hook; a script that returns
    // without ending the run (a failed check) ends it so nothing hangs.
    int Run(const std::function<void(CSetupWizardDlg&)>& script, bool* shown = nullptr)
    {
        testsupport::BlockingCallCounter calls;
        CSetupWizardDlg dlg;
        Dialog::SetModalHook([&](Dialog& modal) {
            if (&modal != &dlg)
                return; // the busy popup of the wizard's reads
            if (shown)
                *shown = true;
            script(dlg);
            if (dlg.isVisible())
                dlg.EndDialog(-1);
        });
        int code = dlg.DoModal();
        Dialog::SetModalHook({});
        m_guiThreadCalls += calls.OnMakerThread();
        return code;
    }

    // Next, then Cancel once Retry is offered: the run's code, the prompt
    // at Retry and whether Cancel was enabled there.
    struct Retry {
        int code = 0;
        std::string prompt;
        bool cancelEnabled = false;
    };
    Retry NextUntilRetry()
    {
        Retry r;
        r.code = Run([&](CSetupWizardDlg& d) {
            Button(d, IDC_SETUP_NEXT)->click();
            QVERIFY(WaitForNext(d, "Retry"));
            r.prompt = LabelText(d, IDC_SETUP_PROMPT);
            r.cancelEnabled = Button(d, IDC_SETUP_CANCEL)->isEnabled();
            Button(d, IDC_SETUP_CANCEL)->click();
        });
        return r;
    }

private slots:
    void initTestCase()
    {
        InstallMessageBoxHandler();
        m_net = std::make_unique<testsupport::TestNetwork>();
        int lan = m_net->AddLink({std::string(kPcIp) + "/24"});
        m_udp = m_net->StartEmulator(m_net->AddHost(lan, std::string(kDeviceIp) + "/24"),
                                     std::string("name = TOLVANE-NAS\nmac = ") + kDeviceMac + "\n");
        QVERIFY(m_udp != nullptr);
    }
    void cleanupTestCase() { m_net.reset(); }
    void init()
    {
        m_clock = std::make_unique<testsupport::InstantPauses>(100);
        m_guiThreadCalls = 0;
        m_web = std::make_unique<RecordingWebServer>();
        m_dir = std::make_unique<testsupport::TempDir>();
        m_oldCwd = fs::current_path();
        fs::current_path(m_dir->path());
        QVERIFY(m_udp->Ok("fault clear"));
        QVERIFY(m_udp->Ok("requests clear"));
        QVERIFY(m_udp->Ok("set progress 0:0:0"));
        QVERIFY(m_udp->Ok("set install_status 0"));
    }
    void cleanup()
    {
        Dialog::SetModalHook({});
        fs::current_path(m_oldCwd);
        m_snmp.reset();
        m_web.reset();
        m_dir.reset();
        m_clock.reset();
        // Whatever a test's wizard did (the opening reads, format, install,
        // retries), no device call held up the GUI thread.
        QCOMPARE(m_guiThreadCalls, 0);
    }

    // ---- Pieces ------------------------------------------------------------

    void percentIsComputedWideAndCapped()
    {
        QCOMPARE(CDiskSetup::PercentOf(50, 100), 50);
        QCOMPARE(CDiskSetup::PercentOf(3000000000u, 3000000000u), 100); // 32 bits would wrap
        QCOMPARE(CDiskSetup::PercentOf(4294967295u, 1), 100);           // done beyond total
        QCOMPARE(CDiskSetup::PercentOf(UINT64_MAX, 3), 100);
        QCOMPARE(CDiskSetup::PercentOf(7, 0), 0);
        QCOMPARE(CSetupWizardDlg::DiskModeOfItem(0), 0);
        QCOMPARE(CSetupWizardDlg::DiskModeOfItem(1), 3);
        QCOMPARE(CSetupWizardDlg::DiskModeOfItem(2), 1);
        QCOMPARE(CSetupWizardDlg::DiskModeOfItem(3), 4);
    }

    void uploadBodyGoesInWholePackets()
    {
        const std::string header = RemoteInstallPartHeader();
        const std::string closing = RemoteInstallClosingPart();
        for (size_t size : {CDiskSetup::kPacketSize - header.size(), size_t(0), size_t(7000)}) {
            const std::string bytes = testsupport::RandomBytes(size, static_cast<unsigned>(size));
            testsupport::WriteFile(m_dir->path() / "pkg", bytes);
            std::FILE* file = std::fopen((m_dir->path() / "pkg").c_str(), "rb");
            QVERIFY(file != nullptr);
            std::vector<size_t> sizes;
            std::string sent;
            std::vector<std::pair<uint64_t, uint64_t>> progress;
            auto result = CDiskSetup::SendPackageBody(
                file, size,
                [&](const char* data, size_t n) {
                    sizes.push_back(n);
                    sent.append(data, n);
                    return true;
                },
                [&](uint64_t done, uint64_t count) { progress.emplace_back(done, count); });
            std::fclose(file);
            QCOMPARE(result, CDiskSetup::kBodySent);
            QVERIFY(sent == header + bytes + closing);
            const size_t total = sent.size();
            const size_t count = (total + CDiskSetup::kPacketSize - 1) / CDiskSetup::kPacketSize;
            QCOMPARE(sizes.size(), count);
            for (size_t i = 0; i + 1 < sizes.size(); ++i)
                QCOMPARE(sizes[i], CDiskSetup::kPacketSize);
            QCOMPARE(progress.size(), count);
            QCOMPARE(progress.back().first, uint64_t(count));
            QCOMPARE(progress.back().second, uint64_t(count));
            if (size == CDiskSetup::kPacketSize - header.size()) {
                // The header and the file fill one packet; the closing part has its own.
                QCOMPARE(sizes.size(), size_t(2));
                QCOMPARE(sizes[1], closing.size());
            }
        }
    }

    void uploadBodyStopsOnReadAndSendFailures()
    {
        testsupport::WriteFile(m_dir->path() / "pkg", testsupport::RandomBytes(3000, 1));
        std::FILE* file = std::fopen((m_dir->path() / "pkg").c_str(), "rb");
        QVERIFY(file != nullptr);
        // The file turns out shorter than its size said.
        auto result = CDiskSetup::SendPackageBody(file, 5000, [](const char*, size_t) { return true; }, {});
        QCOMPARE(result, CDiskSetup::kBodyReadFailed);
        std::rewind(file);
        int calls = 0;
        result = CDiskSetup::SendPackageBody(file, 3000, [&](const char*, size_t) { return ++calls < 2; }, {});
        QCOMPARE(result, CDiskSetup::kBodySendFailed);
        QCOMPARE(calls, 2);
        std::fclose(file);
    }

    // ---- When the wizard stays away ----------------------------------------

    void readyDisksSkipTheWizard()
    {
        Device(2, 0);
        bool shown = false;
        QCOMPARE(Run([](CSetupWizardDlg&) {}, &shown), int(platform::IDOK));
        QVERIFY(!shown);
        QCOMPARE(m_snmp->agent.RequestCount(), uint64_t(0));
        QVERIFY(m_web->Requests().empty());
    }

    void onlyAdminSeesTheWizard()
    {
        Device(-2, -2, "guest");
        bool shown = false;
        QCOMPARE(Run([](CSetupWizardDlg&) {}, &shown), int(platform::IDOK));
        QVERIFY(!shown);
        QCOMPARE(m_snmp->agent.RequestCount(), uint64_t(0));
    }

    // ---- Format -------------------------------------------------------------

    void decliningTheDataLossQuestionSendsNothing()
    {
        Device(-2, -2, "admin", 2);
        MessageBoxRecorder boxes([](const RecordedBox&) { return platform::IDCANCEL; });
        std::string prompt, description, size1, status2;
        QStringList modes;
        int code = Run([&](CSetupWizardDlg& d) {
            prompt = LabelText(d, IDC_SETUP_PROMPT);
            description = LabelText(d, IDC_SETUP_DESCRIPTION);
            size1 = LabelText(d, IDC_SETUP_DISK1_SIZE);
            status2 = LabelText(d, IDC_SETUP_DISK2_STATUS);
            auto* combo = qobject_cast<QComboBox*>(d.GetDlgItem(IDC_SETUP_MODE));
            for (int i = 0; i < combo->count(); ++i)
                modes << combo->itemText(i);
            EXPECT_NOTHING_CUT(&d);
            Button(d, IDC_SETUP_NEXT)->click();
        });
        QCOMPARE(code, int(platform::IDCANCEL));
        QCOMPARE(prompt, std::string("System detected two unformat hard disks,\nplease select one of the format "
                                     "modes, select one of the format types  and then click the \"Next\" button "
                                     "when ready."));
        // The device fixed the mode to a mirror.
        QCOMPARE(modes, QStringList{"RAID 1 (Mirrored)"});
        QCOMPARE(description, std::string("Mirror: One of the hard-disk will backup data from the other hard-disk"));
        QCOMPARE(size1, FormatDiskSize(476940));
        QCOMPARE(status2, std::string("Unformat"));
        QCOMPARE(boxes.Count(), size_t(1));
        QCOMPARE(boxes.Boxes()[0].text,
                 std::string("The data in the disk will be lost if doing format action.\nAre you sure to continue?"));
        QCOMPARE(boxes.Boxes()[0].style & platform::MB_TYPEMASK, unsigned(platform::MB_OKCANCEL));
        QVERIFY(m_web->Requests().empty());
        QCOMPARE(UdpRequests(), 0);
    }

    void raid1Ext3FormatsThenInstalls()
    {
        Device(-2, -2);
        const std::string package = testsupport::RandomBytes(10000, 42);
        testsupport::WriteFile(m_dir->path() / "default_remote_package.bin", package);
        QVERIFY(m_udp->Ok("set progress 1:50:100,3:3000000000:3000000000,5:9:0,2:0:0,0:0:0"));
        QVERIFY(m_udp->Ok("set install_status 1,1,0"));
        m_web->SetOnRequest([this](const std::string& head, const std::string&) {
            if (head.find("step2.shtml") != std::string::npos)
                SetDisks(1, 1); // formatted, the package still missing
            else if (head.rfind("POST /cgi-bin/remoteinstall", 0) == 0)
                SetDisks(2, 2);
        });
        std::vector<std::string> nameWrites;
        m_snmp->store.SetChangeHook([&](const testbed::Oid& oid, const std::optional<testbed::MibValue>& v) {
            if (oid == testbed::ToOid(nasmib::kDeviceName))
                nameWrites.push_back(v ? v->Text() : "<removed>");
        });
        MessageBoxRecorder boxes;
        std::vector<int> bar;
        bool stayedOpen = false;
        std::string description, prompt, disk1;
        int code = Run([&](CSetupWizardDlg& d) {
            auto* mode = qobject_cast<QComboBox*>(d.GetDlgItem(IDC_SETUP_MODE));
            QVERIFY(mode->isEnabled());
            mode->setCurrentIndex(2);
            emit mode->activated(2);
            description = LabelText(d, IDC_SETUP_DESCRIPTION);
            EXPECT_NOTHING_CUT(&d);
            qobject_cast<QComboBox*>(d.GetDlgItem(IDC_SETUP_TYPE))->setCurrentIndex(1);
            auto* progress = qobject_cast<QProgressBar*>(d.GetDlgItem(IDC_SETUP_PROGRESS));
            QObject::connect(progress, &QProgressBar::valueChanged, [&](int v) { bar.push_back(v); });
            // A double click: one worker only.
            Button(d, IDC_SETUP_NEXT)->click();
            Button(d, IDC_SETUP_NEXT)->click();
            QVERIFY(d.IsWorkerRunning());
            // Nothing closes the wizard while it works.
            QTest::keyClick(&d, Qt::Key_Escape);
            d.close();
            Button(d, IDC_SETUP_CANCEL)->click();
            stayedOpen = d.isVisible();
            QVERIFY(WaitForNext(d, "Finish"));
            prompt = LabelText(d, IDC_SETUP_PROMPT);
            disk1 = LabelText(d, IDC_SETUP_DISK1_STATUS);
            EXPECT_NOTHING_CUT(&d);
            Button(d, IDC_SETUP_NEXT)->click();
        });
        QCOMPARE(code, int(platform::IDOK));
        QVERIFY(stayedOpen);
        QCOMPARE(description, std::string("RAID 1 (Mirror): Data will be mirrored to the second disk.  The two disk "
                                          "will appear as one disk. If one disk fails, data can be recovered from "
                                          "the other disk."));
        QCOMPARE(prompt, std::string("Install successfully."));
        QCOMPARE(disk1, std::string("Finish"));
        QCOMPARE(boxes.Count(), size_t(1)); // the data-loss question only

        // The form, byte for byte: EXT3 and RAID 1.
        auto forms = m_web->RequestsTo("POST /cgi-bin/setobject");
        QCOMPARE(forms.size(), size_t(1));
        QCOMPARE(forms[0], ExpectedStep2(MakeBasicAuthorization("admin", "secret")));
        std::vector<testbed::FormCell> cells;
        QVERIFY(testbed::ParseFormCells(forms[0].substr(forms[0].find("\r\n\r\n") + 4, 98), false, cells));
        QCOMPARE(cells.size(), size_t(3));
        QCOMPARE(cells[0].value, std::string("3"));
        QCOMPARE(cells[1].value, std::string("1"));

        // Progress: 50 %, 3e9 of 3e9 is 100 % (not a wrapped number), never above 100.
        QVERIFY(std::find(bar.begin(), bar.end(), 50) != bar.end());
        QVERIFY(std::find(bar.begin(), bar.end(), 100) != bar.end());
        for (int v : bar)
            QVERIFY(v >= 0 && v <= 100);

        // The probe, then the package, whole.
        auto probes = m_web->RequestsTo("GET / HTTP/1.1");
        QCOMPARE(probes.size(), size_t(1));
        QVERIFY(probes[0].find("Authorization: Basic " + MakeBasicAuthorization("admin", "secret") + "\r\n") !=
                std::string::npos);
        auto uploads = m_web->RequestsTo("POST /cgi-bin/remoteinstall HTTP/1.1\r\n");
        QCOMPARE(uploads.size(), size_t(1));
        const std::string& upload = uploads[0];
        const size_t headEnd = upload.find("\r\n\r\n") + 4;
        const std::string body = upload.substr(headEnd);
        QVERIFY(body == RemoteInstallPartHeader() + package + RemoteInstallClosingPart());
        QVERIFY(upload.find("\r\nContent-Length:" + std::to_string(body.size()) + "\r\n") < headEnd);
        std::string received;
        QVERIFY(testbed::ParseRemoteInstallBody(body, kRemoteInstallBoundary, received));
        QVERIFY(received == package);

        // The device name was read and written back as it was.
        QCOMPARE(nameWrites, std::vector<std::string>{"TOLVANE-NAS"});
        m_snmp->store.SetChangeHook({});
    }

    void statusZeroWhileFormattingKeepsPolling()
    {
        Device(-2, 2); // one disk to format, the package is there
        m_web->SetOnRequest([this](const std::string& head, const std::string&) {
            if (head.find("step2.shtml") != std::string::npos)
                SetDisks(-1, 2);
        });
        std::atomic<bool> flipped{false};
        std::thread watcher([&] {
            for (int i = 0; i < 6000 && UdpRequests() < 4; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            SetDisks(2, 2);
            flipped = true;
        });
        MessageBoxRecorder boxes;
        std::string prompt, promptBefore;
        int code = Run([&](CSetupWizardDlg& d) {
            promptBefore = LabelText(d, IDC_SETUP_PROMPT);
            Button(d, IDC_SETUP_NEXT)->click();
            QVERIFY(WaitForNext(d, "Finish"));
            prompt = LabelText(d, IDC_SETUP_PROMPT);
            Button(d, IDC_SETUP_NEXT)->click();
        });
        watcher.join();
        QCOMPARE(code, int(platform::IDOK));
        QVERIFY(flipped);
        QVERIFY(UdpRequests() >= 4);
        QVERIFY(promptBefore.rfind("System detectd one unformat hard disk.\n", 0) == 0);
        QCOMPARE(prompt, std::string("Format successfully."));
        QVERIFY(m_web->RequestsTo("POST /cgi-bin/remoteinstall").empty());
    }

    void rejectedFormatRequestEndsWithAnError()
    {
        Device(-2, 2);
        m_web->SetAnswer([](const std::string& head) {
            return head.find("step2.shtml") != std::string::npos ? std::string("HTTP/1.1 401 Unauthorized")
                                                                 : std::string("HTTP/1.1 200 OK");
        });
        MessageBoxRecorder boxes;
        const Retry r = NextUntilRetry();
        QCOMPARE(r.code, int(platform::IDCANCEL));
        QCOMPARE(r.prompt, std::string("Click \"Retry\" button to format again."));
        QVERIFY(r.cancelEnabled);
        QCOMPARE(boxes.Count(), size_t(2));
        QVERIFY(boxes.Boxes()[1].text.rfind("send http header Fail!!\nError code: ", 0) == 0);
        QCOMPARE(boxes.Boxes()[1].style & platform::MB_ICONMASK, unsigned(platform::MB_ICONERROR));
        QCOMPARE(UdpRequests(), 0); // nothing was polled
    }

    void unreadableFormatStateLeavesEveryModeOpen()
    {
        Device(-2, -2);
        m_snmp->agent.AddNoSuchNamePrefix(nasmib::kFormatType);
        bool modeEnabled = false;
        int modes = 0;
        Run([&](CSetupWizardDlg& d) {
            auto* combo = qobject_cast<QComboBox*>(d.GetDlgItem(IDC_SETUP_MODE));
            modeEnabled = combo->isEnabled();
            modes = combo->count();
            Button(d, IDC_SETUP_CANCEL)->click();
        });
        QVERIFY(modeEnabled);
        QCOMPARE(modes, 4);
    }

    void unansweredFormatRequestIsFollowedByItsProgress()
    {
        Device(-2, 2);
        // The form arrives, but its answer comes after every try is over.
        m_web->SetOnRequest([](const std::string& head, const std::string&) {
            if (head.find("step2.shtml") != std::string::npos)
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
        });
        QVERIFY(m_udp->Ok("set progress 1:50:100"));
        MessageBoxRecorder boxes;
        bool polled = false;
        {
            CSetupWizardDlg dlg;
            Dialog::SetModalHook([&](Dialog&) {
                Button(dlg, IDC_SETUP_NEXT)->click();
                polled = WaitFor([&] { return UdpRequests() >= 1; });
                dlg.EndDialog(-1);
            });
            dlg.DoModal();
            Dialog::SetModalHook({});
        }
        QVERIFY(polled);
        QCOMPARE(boxes.Count(), size_t(1)); // only the data-loss question
    }

    void endlessProgressIsGivenUp()
    {
        // Formatting "at 50 %" for ever: after 30 minutes on the clock, Retry.
        Device(-2, 2);
        QVERIFY(m_udp->Ok("set progress 1:50:100"));
        MessageBoxRecorder boxes;
        const int64_t start = platform::TickMs();
        QCOMPARE(NextUntilRetry().prompt, std::string("Click \"Retry\" button to format again."));
        QCOMPARE(boxes.LastText(), std::string("discover timeout"));
        QVERIFY(platform::TickMs() - start >= int64_t{30} * 60 * 1000);

        // The package "still being checked" for ever: after 15 minutes, Retry.
        Device(1, 0);
        testsupport::WriteFile("default_remote_package.bin", testsupport::RandomBytes(100, 8));
        QVERIFY(m_udp->Ok("set install_status 1"));
        boxes.Clear();
        const int64_t installStart = platform::TickMs();
        QCOMPARE(NextUntilRetry().prompt, std::string("Click \"Retry\" button to install again."));
        QCOMPARE(boxes.LastText(), std::string("Could not receive the response form NAS."));
        QVERIFY(platform::TickMs() - installStart >= int64_t{15} * 60 * 1000);
    }

    void refusedConnectionShowsTheSocketError()
    {
        // A port nobody listens on.
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        (void)::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(fd);
        Device(-2, 2);
        m_snmp->store.Set(nasmib::kWebPort, testbed::MibValue::Integer(ntohs(a.sin_port)));
        MessageBoxRecorder boxes;
        QCOMPARE(NextUntilRetry().code, int(platform::IDCANCEL));
        QCOMPARE(boxes.Count(), size_t(2));
        QCOMPARE(boxes.Boxes()[1].text, SocketErrorMessage(WSAECONNREFUSED));
        QVERIFY(!boxes.Boxes()[1].text.empty());
    }

    // ---- Install -------------------------------------------------------------

    void missingPackageCanBeRetried()
    {
        Device(1, 0);
        // The device is rebooting when the name is read: the reads fail, then
        // it is back. Nothing may be written then.
        m_snmp->agent.AddNoSuchNamePrefix(nasmib::kDeviceName);
        int pauses = 0;
        m_clock->onPause = [&](int) {
            if (++pauses == 3)
                m_snmp->agent.ClearNoSuchNamePrefixes();
        };
        std::vector<std::string> nameWrites;
        m_snmp->store.SetChangeHook([&](const testbed::Oid& oid, const std::optional<testbed::MibValue>& v) {
            if (oid == testbed::ToOid(nasmib::kDeviceName))
                nameWrites.push_back(v ? v->Text() : "<removed>");
        });
        MessageBoxRecorder boxes;
        std::string prompt, firstPrompt;
        bool cancelEnabled = false, typeHidden = false;
        int code = Run([&](CSetupWizardDlg& d) {
            pauses = 0; // those of the install only, not the opening's busy popup
            firstPrompt = LabelText(d, IDC_SETUP_PROMPT);
            typeHidden = d.GetDlgItem(IDC_SETUP_TYPE)->isHidden();
            Button(d, IDC_SETUP_NEXT)->click();
            QVERIFY(WaitForNext(d, "Retry"));
            prompt = LabelText(d, IDC_SETUP_PROMPT);
            cancelEnabled = Button(d, IDC_SETUP_CANCEL)->isEnabled();
            testsupport::WriteFile("default_remote_package.bin", testsupport::RandomBytes(1, 3));
            Button(d, IDC_SETUP_NEXT)->click();
            QVERIFY(WaitForNext(d, "Finish"));
            Button(d, IDC_SETUP_NEXT)->click();
        });
        QCOMPARE(code, int(platform::IDOK));
        QCOMPARE(firstPrompt, std::string("System detect uninititalzed hard-disk.\nPlease press next when ready to "
                                          "initialize the hard-disk"));
        QVERIFY(typeHidden);
        QCOMPARE(prompt, std::string("Click \"Retry\" button to install again."));
        QVERIFY(cancelEnabled);
        QVERIFY(boxes.Count() >= 1);
        QCOMPARE(boxes.Boxes()[0].text, std::string("Could not found default package file."));
        QCOMPARE(m_web->RequestsTo("POST /cgi-bin/remoteinstall").size(), size_t(1));
        // The failed read in the first round wrote nothing; the second round
        // read the name and wrote it back.
        QVERIFY(pauses >= 3);
        QCOMPARE(nameWrites, std::vector<std::string>{"TOLVANE-NAS"});
        m_snmp->store.SetChangeHook({});
    }

    // A package the device refuses, and an interface the PC no longer has:
    // one box each, and Retry.
    void installEndsInRetry_data()
    {
        QTest::addColumn<bool>("lostInterface");
        QTest::addColumn<QString>("box");
        QTest::newRow("refused") << false << "The file is fragmented or incorrect, please select the correct file";
        QTest::newRow("local error") << true << "IDS_MSG_NETWORK_ERROR";
    }
    void installEndsInRetry()
    {
        QFETCH(bool, lostInterface);
        QFETCH(QString, box);
        Device(1, 0);
        if (lostInterface)
            GetNasContext()->m_nasInfo.localAddress = Ip("198.18.99.1");
        else
            QVERIFY(m_udp->Ok("set install_status 1,2"));
        testsupport::WriteFile("default_remote_package.bin", testsupport::RandomBytes(2000, 5));
        MessageBoxRecorder boxes;
        QCOMPARE(NextUntilRetry().code, int(platform::IDCANCEL));
        QCOMPARE(boxes.Count(), size_t(1));
        QCOMPARE(boxes.LastText(), box.toStdString());
    }

    void goingAwayStopsAnEndlessPoll()
    {
        Device(1, 0);
        testsupport::WriteFile("default_remote_package.bin", testsupport::RandomBytes(100, 7));
        QVERIFY(m_udp->Ok("set install_status 1")); // "still checking", for ever
        MessageBoxRecorder boxes;
        bool wasRunning = false;
        {
            CSetupWizardDlg dlg;
            Dialog::SetModalHook([&](Dialog&) {
                Button(dlg, IDC_SETUP_NEXT)->click();
                QVERIFY(WaitFor([&] { return UdpRequests() >= 3; }));
                wasRunning = dlg.IsWorkerRunning();
                dlg.EndDialog(-1); // as the program's shut-down would
            });
            QCOMPARE(dlg.DoModal(), -1);
            Dialog::SetModalHook({});
        } // the worker is stopped and joined here
        QVERIFY(wasRunning);
        QCOMPARE(boxes.Count(), size_t(0));
        const int polls = UdpRequests();
        QTest::qWait(50);
        QCOMPARE(UdpRequests(), polls);
    }
};

QTEST_MAIN(TestSetupWizard)
#include "test_setup_wizard.moc"
