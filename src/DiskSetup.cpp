#include "DiskSetup.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <sys/stat.h>

#include "Clock.h"
#include "Delays.h"
#include "HttpRequest.h"
#include "MessageBox.h"
#include "NasFinder.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "SocketError.h"
#include "TcpSocket.h"
#include "stdafx.h"

using platform::Delay;
using platform::RealDelayMs;

namespace {

// Reading a UDP status answer as the device's status byte: 255 is the
// device's "no answer yet".
constexpr int kStatusNoAnswer = 255;
// Progress answers that may go missing in a row before the format is given up.
constexpr int kFormatPollRetries = 11;
// How long the format and the package check may go on before they are given up.
constexpr int64_t kFormatPollLimitMs = int64_t{30} * 60 * 1000;
constexpr int64_t kInstallPollLimitMs = int64_t{15} * 60 * 1000;
// Countdown while the device reboots after an install, in seconds.
constexpr int kRebootSeconds = 70;
// Bound on sending one packet of the upload.
constexpr unsigned kPacketSendTimeoutMs = kHttpConnectTimeoutMs;

// The state texts while a procedure runs.
const char* DiskProgressStateText(int state)
{
    switch (state) {
    case nasmib::kDiskStateReady: return "Finish";
    case nasmib::kDiskStateUnformatted: return "Unformat";
    case nasmib::kDiskStateFormatting: return "Formatting";
    case nasmib::kDiskStateNotInstalled: return "Uninstall";
    default: return "";
    }
}

// Connect failures the device's own box described with no text: show what
// the socket layer knows about them.
std::string ConnectFailureText(int code)
{
    if (code == WSAETIMEDOUT || code == WSAECONNREFUSED)
        return SocketErrorMessage(code);
    return WithSocketErrorReason(Format("Socket Connect Fail!!\nSocket Error code: %d", code), code);
}

} // namespace

CDiskSetup::CDiskSetup(const platform::JobControl& control, Send send, Texts texts)
    : m_control(control)
    , m_send(std::move(send))
    , m_texts(std::move(texts))
{}

int CDiskSetup::PercentOf(uint64_t done, uint64_t total)
{
    if (total == 0)
        return 0;
    // done * 100 cannot overflow for the device's 32-bit counters; larger
    // values are divided first.
    uint64_t percent = done <= UINT64_MAX / 100 ? done * 100 / total : done / total * 100;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

void CDiskSetup::Post(WizardUpdate update) const
{
    if (m_send)
        m_send(std::move(update));
}

void CDiskSetup::Prompt(const std::string& text) const
{
    WizardUpdate u;
    u.prompt = text;
    Post(u);
}

void CDiskSetup::ShowProgress(bool shown) const
{
    WizardUpdate u;
    if (shown) {
        u.nextEnabled = false;
        u.progress = 0;
    }
    u.progressVisible = shown;
    Post(u);
}

void CDiskSetup::Finished(const std::string& prompt, bool nextOn) const
{
    WizardUpdate u;
    u.nextCaption = "Finish";
    u.prompt = prompt;
    u.done = true;
    if (nextOn) {
        u.nextEnabled = true;
        u.focusNext = true;
    }
    Post(u);
}

void CDiskSetup::OfferRetry(const std::string& step, bool nextOn) const
{
    WizardUpdate u;
    u.cancelEnabled = true;
    u.nextCaption = "Retry";
    u.prompt = "Click \"Retry\" button to " + step + " again.";
    if (nextOn)
        u.nextEnabled = true;
    Post(u);
}

void CDiskSetup::Box(const std::string& text, unsigned style) const
{
    // A run that is being stopped has nobody left to tell.
    if (!Stopping())
        platform::MessageBox(text, style);
}

void CDiskSetup::ErrorBox(const std::string& text) const { Box(text, platform::MB_ICONERROR); }

void CDiskSetup::Run(const DiskSetupJob& job)
{
    if (!job.format) {
        InstallPart();
        return;
    }
    FormatAndInstall(job);
}

void CDiskSetup::FormatAndInstall(const DiskSetupJob& job)
{
    ShowProgress(true);
    bool ok = FormatDisks(job);
    ShowProgress(false);

    if (ok) {
        if (job.install) {
            WizardUpdate u;
            u.prompt = "Waiting remote install procedure";
            u.hideModeControls = true;
            u.formatNeeded = false;
            Post(u);
            InstallPart();
        } else {
            Finished("Format successfully.", true);
        }
    } else {
        OfferRetry("format", true);
    }
}

bool CDiskSetup::InstallPart()
{
    bool ok = false;
    std::FILE* file = std::fopen(kPackageFile, "rb");
    if (file == nullptr) {
        ErrorBox("Could not found default package file.");
    } else {
        ShowProgress(true);
        ok = UploadRemotePackage(file);
        std::fclose(file);
        ShowProgress(false);
    }

    if (ok) {
        for (int seconds = kRebootSeconds; seconds >= 1 && !Stopping(); --seconds) {
            Prompt(Format("Waiting %d seconds for NAS rebooting.", seconds));
            Pause(RealDelayMs(Delay::SetupRebootTick));
        }
        RefreshDiskStatus();
        Finished("Install successfully.", false);
    } else {
        OfferRetry("install", false);
    }
    // The device keeps its name across the install only when it is written
    // again; this happens before Next comes back so the wizard cannot close
    // in the middle of it.
    if (!Stopping())
        WriteBackDeviceName();
    WizardUpdate last;
    last.nextEnabled = true;
    last.focusNext = true;
    Post(last);
    return ok;
}

void CDiskSetup::WriteBackDeviceName()
{
    std::string name;
    // Only a name that was read goes back: a failed read must not rename the
    // device to nothing.
    if (SnmpGetWithRetry(m_login, nasmib::kDeviceName, name) == 0)
        SnmpSetWithRetry(m_login, nasmib::kDeviceName, name);
    else
        DebugTrace("setup: device name not read, not written back\n");
}

void CDiskSetup::RefreshDiskStatus()
{
    int d1 = 0, d2 = 0;
    if (GetDiskStatus(m_login.address, m_login.community, &d1, &d2) != 0)
        return;
    WizardUpdate u;
    u.disk1Status = DiskProgressStateText(d1);
    u.disk2Status = DiskProgressStateText(d2);
    Post(u);
}

bool CDiskSetup::FormatDisks(const DiskSetupJob& job)
{
    const LoginCopy& login = m_login;
    std::string password = GetUserPassword(login, login.user);
    if (password.empty())
        return false;

    Prompt("Waiting to format Disk..");
    int port = GetNasWebPort(login, nullptr);
    if (port == -1) {
        if (!Stopping())
            Box("NAS is busy or disconnected", platform::MB_OK);
        return false;
    }

    // The web server must take connections before the form goes out.
    {
        CTcpSocket probe;
        if (!probe.Create()) {
            const int code = GetLastSocketError();
            ErrorBox(WithSocketErrorReason(Format("Socket Create Fail!!\nSocket Error code: %d", code), code));
            return false;
        }
        if (!probe.Connect(login.address, static_cast<unsigned>(port), kHttpConnectTimeoutMs)) {
            ErrorBox(ConnectFailureText(GetLastSocketError()));
            return false;
        }
    }

    std::string request =
        BuildInitDiskRequest(login.address, MakeBasicAuthorization(login.user, password), job.formatType, job.diskMode);
    int sent = SendHttpRequest(login.address, static_cast<unsigned>(port), request);
    if (sent == kHttpNoAnswer) {
        // No answer in time: the device may be formatting already. The
        // progress requests decide.
        DebugTrace("setup: no answer to the format request, following the progress\n");
    } else if (sent != kHttpOk) {
        // A request the device refused (not "200 OK") or that could not go
        // out ends here: nothing was started that could be followed.
        int code = GetLastSocketError();
        ErrorBox(code != 0 ? WithSocketErrorReason(
                                 Format("send http header Fail!!\nError code: %u", static_cast<unsigned>(code)), code)
                           : Format("send http header Fail!!\nError code: %d", sent));
        return false;
    }

    if (!Pause(RealDelayMs(Delay::SetupFormatStart)))
        return false;
    if (FinderInit() != FINDER_OK) {
        ErrorBox(Text(728));
        return false;
    }

    bool success = false;
    std::string error;
    int retries = 0;
    // A device that answers "in progress" for ever is given up in the end.
    const int64_t giveUp = platform::TickMs() + kFormatPollLimitMs;
    while (!Stopping()) {
        if (platform::TickMs() >= giveUp) {
            error = "discover timeout";
            break;
        }
        unsigned done = 0, total = 0;
        int s = FinderGetProgress(&login.device, &done, &total, static_cast<int>(login.udpTimeout));
        bool stop = false;
        switch (s) {
        case 1:
        case 3:
        case 5: {
            retries = 0;
            if (total != 0) {
                int percent = PercentOf(done, total);
                WizardUpdate u;
                u.prompt = s == 5 ? Format("Formatting Disk...%d%%", percent)
                                  : Format("Formatting Disk%d...%d%%", s == 1 ? 1 : 2, percent);
                u.progress = percent;
                Post(u);
                RefreshDiskStatus();
            }
            break;
        }
        case 2:
        case 4: break;
        case 0: {
            int d1 = 0, d2 = 0;
            if (GetDiskStatus(login.address, login.community, &d1, &d2) == 0 && d1 != nasmib::kDiskStateUnformatted &&
                d1 != nasmib::kDiskStateFormatting && d2 != nasmib::kDiskStateUnformatted &&
                d2 != nasmib::kDiskStateFormatting) {
                success = true;
                stop = true;
            }
            break;
        }
        case FINDER_ERR_TIMEOUT:
        case kStatusNoAnswer:
            if (++retries >= kFormatPollRetries) {
                error = "discover timeout";
                stop = true;
            }
            break;
        case FINDER_ERR_SOCKET:
            error = "DS_MSG_NETWORK_ERROR";
            stop = true;
            break;
        default:
            error = Format("unexpected ret error %d", s);
            stop = true;
            break;
        }
        if (stop || !Pause(RealDelayMs(Delay::SetupFormatPoll)))
            break;
    }

    RefreshDiskStatus();
    FinderCleanup();
    if (success) {
        Prompt("Format Successfully.");
        return true;
    }
    if (!error.empty())
        ErrorBox(error);
    return false;
}

CDiskSetup::BodyResult CDiskSetup::SendPackageBody(std::FILE* file, uint64_t fileSize,
                                                   const std::function<bool(const char* data, size_t size)>& sendPacket,
                                                   const std::function<void(uint64_t sent, uint64_t count)>& onPacket,
                                                   std::stop_token stop, int* readError)
{
    const std::string header = RemoteInstallPartHeader();
    const std::string closing = RemoteInstallClosingPart();
    const uint64_t bodyLength = header.size() + fileSize + closing.size();
    const uint64_t count = (bodyLength + kPacketSize - 1) / kPacketSize;

    char packet[kPacketSize];
    size_t fill = 0;
    uint64_t sent = 0;
    auto flush = [&]() -> bool {
        if (!sendPacket(packet, fill))
            return false;
        fill = 0;
        ++sent;
        if (onPacket)
            onPacket(sent, count);
        return true;
    };
    // Copies text into packets, sending each full one.
    auto add = [&](const char* data, size_t size) -> bool {
        while (size > 0) {
            size_t n = std::min(size, kPacketSize - fill);
            std::memcpy(packet + fill, data, n);
            fill += n;
            data += n;
            size -= n;
            if (fill == kPacketSize && !flush())
                return false;
        }
        return true;
    };

    if (!add(header.data(), header.size()))
        return kBodySendFailed;
    uint64_t left = fileSize;
    while (left > 0) {
        if (stop.stop_requested())
            return kBodyStopped;
        size_t want = static_cast<size_t>(std::min<uint64_t>(left, kPacketSize - fill));
        errno = 0;
        size_t got = std::fread(packet + fill, 1, want, file);
        if (got != want) {
            if (readError != nullptr)
                *readError = errno;
            return kBodyReadFailed;
        }
        fill += got;
        left -= got;
        if (fill == kPacketSize && !flush())
            return kBodySendFailed;
    }
    if (!add(closing.data(), closing.size()))
        return kBodySendFailed;
    if (fill > 0 && !flush())
        return kBodySendFailed;
    return kBodySent;
}

bool CDiskSetup::UploadRemotePackage(std::FILE* file)
{
    LoginCopy login = m_login;
    std::string password = GetUserPassword(login, login.user);
    if (password.empty())
        return false;
    int port = GetNasWebPort(login, nullptr);
    if (port == -1) {
        if (!Stopping())
            Box("NAS is busy or disconnected", platform::MB_OK);
        return false;
    }
    const std::string authorization = MakeBasicAuthorization(login.user, password);
    // The device wants to have seen this login on its start page first.
    SendHttpRequest(login.address, static_cast<unsigned>(port), BuildProbeRequest(login.address, authorization));

    Prompt("Transmitting Package..");
    CTcpSocket socket;
    if (!socket.Create()) {
        ErrorBox(SocketErrorMessage(GetLastSocketError()));
        return false;
    }
    if (!socket.Connect(login.address, static_cast<unsigned>(port), kHttpConnectTimeoutMs)) {
        ErrorBox(ConnectFailureText(GetLastSocketError()));
        return false;
    }

    struct stat info {};
    if (::fstat(fileno(file), &info) != 0) {
        ErrorBox(Format("Get File Size Fail!!\nError code: %d", errno));
        return false;
    }
    const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
    const uint64_t bodyLength = RemoteInstallPartHeader().size() + fileSize + RemoteInstallClosingPart().size();
    const std::string head = BuildRemoteInstallHead(login.address, authorization, bodyLength);

    if (!Pause(RealDelayMs(Delay::SetupUploadPause)))
        return false;
    if (!socket.SendAll(head.data(), head.size(), kPacketSendTimeoutMs)) {
        const int code = GetLastSocketError();
        ErrorBox(WithSocketErrorReason(Format("Send package head fail!!\nSocket Error code: %d", code), code));
        return false;
    }

    int lastPercent = -1;
    int readError = 0;
    BodyResult result = SendPackageBody(
        file, fileSize, [&](const char* data, size_t size) { return socket.SendAll(data, size, kPacketSendTimeoutMs); },
        [&](uint64_t sent, uint64_t count) {
            int percent = PercentOf(sent, count);
            if (percent == lastPercent)
                return;
            lastPercent = percent;
            WizardUpdate u;
            u.progress = percent;
            u.prompt = Format("Transmitting Package...%d%%", percent);
            Post(u);
        },
        m_control.stop, &readError);
    switch (result) {
    case kBodySent: break;
    case kBodySendFailed: {
        const int code = GetLastSocketError();
        ErrorBox(WithSocketErrorReason(
            Format("File transmission failed!!\nError code: %u", static_cast<unsigned>(code)), code));
        return false;
    }
    case kBodyReadFailed:
        ErrorBox(Format("Read file failed!!\nError code: %u", static_cast<unsigned>(readError)));
        return false;
    case kBodyStopped: return false;
    }

    WizardUpdate sentAll;
    sentAll.progress = 100;
    sentAll.prompt = "Checking Package Validation..";
    Post(sentAll);
    // The device's answer, when it gives one before the check pause is over:
    // a refusal (401 for a login it does not take, 400 for a body it cannot
    // read) means no package arrived, whatever the status requests say later.
    // No answer, or a closed connection, leaves it to the status requests.
    auto msUntil = [](int64_t t) { return std::max<int64_t>(t - platform::TickMs(), 0); };
    const int64_t checkEnd = platform::TickMs() + RealDelayMs(Delay::SetupCheckPause);
    CHttpStatusReader answer;
    while (answer.Result() == CHttpStatusReader::kPending && !Stopping()) {
        const int64_t left = msUntil(checkEnd);
        if (left <= 0)
            break;
        char buffer[1024];
        long n = socket.Receive(buffer, sizeof buffer, static_cast<unsigned>(std::min<int64_t>(left, 100)));
        if (n == CTcpSocket::kTimedOut)
            continue;
        if (n <= 0)
            break;
        answer.Feed(buffer, static_cast<size_t>(n));
    }
    socket.Close();
    if (answer.Result() == CHttpStatusReader::kRejected) {
        ErrorBox(Format("File transmission failed!!\nError code: %d", answer.Status()));
        return false;
    }
    if (!Pause(msUntil(checkEnd)))
        return false;

    if (FinderInit() != FINDER_OK) {
        ErrorBox("IDS_MSG_NETWORK_ERROR");
        return false;
    }
    std::string error;
    bool success = false;
    const int64_t giveUp = platform::TickMs() + kInstallPollLimitMs;
    while (!Stopping()) {
        if (platform::TickMs() >= giveUp) {
            error = Text(715);
            break;
        }
        int status = FinderPollStatus(&login.device, static_cast<int>(login.udpTimeout));
        if (status == 0) {
            success = true;
            break;
        }
        if (status == 2) {
            error = Text(727);
            break;
        }
        if (status == 3) {
            error = Text(726);
            break;
        }
        if (status == FINDER_ERR_TIMEOUT) {
            error = Text(715);
            break;
        }
        if (status < 0) {
            // The request could not even go out: asking again changes nothing.
            error = "IDS_MSG_NETWORK_ERROR";
            break;
        }
        if (!Pause(RealDelayMs(Delay::SetupStatusPoll)))
            break;
    }
    FinderCleanup();
    if (!success && !error.empty())
        ErrorBox(error);
    return success;
}
