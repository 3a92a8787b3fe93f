#pragma once
// The device's disk set-up, as the set-up wizard runs it on a worker: format
// the disks through the "step2.shtml" form and follow the progress over the
// UDP protocol, then upload the system package "default_remote_package.bin"
// to "/cgi-bin/remoteinstall" and wait until the device has checked it.
//
// No widgets: what the wizard has to show travels as WizardUpdate values
// through the send function; failures are shown with platform::MessageBox.
// A stop request ends every wait and poll early.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

#include "Job.h"
#include "stdafx.h"

// What the procedure asks the wizard to show; only the fields set change.
struct WizardUpdate {
    std::optional<std::string> prompt;
    std::optional<int> progress;
    std::optional<bool> progressVisible;
    std::optional<std::string> nextCaption;
    std::optional<bool> nextEnabled;
    std::optional<bool> cancelEnabled;
    bool focusNext = false;
    bool hideModeControls = false; // the mode label and combo
    std::optional<std::string> disk1Status;
    std::optional<std::string> disk2Status;
    std::optional<bool> formatNeeded;
    std::optional<bool> done;
};

// What one run does, fixed when it starts.
struct DiskSetupJob {
    bool format = false; // format first (then install when install is set)
    bool install = false;
    int formatType = 2;
    int diskMode = 0;
};

class CDiskSetup {
public:
    using Send = std::function<void(WizardUpdate)>;
    // The program's texts by string id (the window layer's string table).
    using Texts = std::function<std::string(unsigned id)>;
    // The run uses the login as it is now, whatever login comes meanwhile.
    CDiskSetup(const platform::JobControl& control, Send send, Texts texts);

    // The whole run: the format (and the install after it) or the install.
    void Run(const DiskSetupJob& job);

    // The package file, in the current folder.
    static constexpr const char* kPackageFile = "./default_remote_package.bin";
    // Bytes per packet of the package upload.
    static constexpr size_t kPacketSize = 1460;
    // done * 100 / total in 64 bits, at most 100; 0 for a total of 0.
    static int PercentOf(uint64_t done, uint64_t total);

    // Sends the upload body (part header, fileSize bytes of file, closing
    // part) in packets of kPacketSize bytes, the last one shorter, each
    // through sendPacket; onPacket(packetsSent, packetCount) follows each.
    // kBodySent, kBodySendFailed (sendPacket said false), kBodyReadFailed
    // (the file ended early or failed; *readError holds errno) or
    // kBodyStopped (a stop was requested).
    enum BodyResult { kBodySent, kBodySendFailed, kBodyReadFailed, kBodyStopped };
    static BodyResult SendPackageBody(std::FILE* file, uint64_t fileSize,
                                      const std::function<bool(const char* data, size_t size)>& sendPacket,
                                      const std::function<void(uint64_t sent, uint64_t count)>& onPacket,
                                      std::stop_token stop = {}, int* readError = nullptr);

private:
    void FormatAndInstall(const DiskSetupJob& job);
    bool FormatDisks(const DiskSetupJob& job);
    bool InstallPart();
    bool UploadRemotePackage(std::FILE* file);
    void RefreshDiskStatus();
    void WriteBackDeviceName();
    void Post(WizardUpdate update) const;
    void Prompt(const std::string& text) const;
    // The progress bar at 0 with Next off for a step's length, or hidden.
    void ShowProgress(bool shown) const;
    // The end of a step: Finish with the prompt, or Retry to do the step
    // ("format", "install") again; nextOn also turns Next on.
    void Finished(const std::string& prompt, bool nextOn) const;
    void OfferRetry(const std::string& step, bool nextOn) const;
    void ErrorBox(const std::string& text) const;
    void Box(const std::string& text, unsigned style) const;
    bool Pause(int64_t milliseconds) const { return m_control.Pause(milliseconds); }
    bool Stopping() const { return m_control.Stopped(); }

    std::string Text(unsigned id) const { return m_texts ? m_texts(id) : std::string(); }

    const platform::JobControl& m_control;
    const LoginCopy m_login = CopyLogin();
    Send m_send;
    Texts m_texts;
};
