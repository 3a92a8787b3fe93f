#pragma once
// The disk set-up wizard the main window runs after every login. It formats
// unformatted disks through the device's "step2.shtml" form and follows the
// progress over the UDP protocol, then uploads the system package
// "default_remote_package.bin" to "/cgi-bin/remoteinstall" and waits until
// the device has checked it. With nothing to do, or for a user other than
// "admin", it ends with IDOK at once.
//
// The format and install procedures run on one worker thread at a time. The
// worker never touches a widget: it posts WizardUpdate records (by value) to
// the dialog, and its message boxes go through PostMessageBox to the dialog's
// WM_SHOW_MESSAGE handler. The dialog does not close while the worker runs.
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "Delays.h"
#include "Dialog.h"
#include "NasInfo.h"

class QKeyEvent;
class QCloseEvent;
namespace Ui {
class SetupWizardDlg;
}

// Control numbers of the dialog (GetDlgItem).
enum : int {
    IDC_SETUP_NEXT = 1007,
    IDC_SETUP_PROGRESS = 1009,
    IDC_SETUP_DISK1_SIZE = 1518,
    IDC_SETUP_DISK2_SIZE = 1520,
    IDC_SETUP_DISK1_STATUS = 1522,
    IDC_SETUP_DISK2_STATUS = 1523,
    IDC_SETUP_PROMPT = 1524,
    IDC_SETUP_MODE_LABEL = 1530,
    IDC_SETUP_DESCRIPTION = 1531,
    IDC_SETUP_TYPE = 1533,
    IDC_SETUP_TYPE_LABEL = 1535,
    IDC_SETUP_MODE = 1348,
    IDC_SETUP_CANCEL = 2,
};

// What the worker asks the dialog to show; only the fields set change.
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

class CSetupWizardDlg : public platform::gui::Dialog {
    Q_OBJECT
public:
    explicit CSetupWizardDlg(QWidget* parent = nullptr);
    ~CSetupWizardDlg() override;

    // The control with that number, null for an unknown one.
    QWidget* GetDlgItem(int id) const;
    // Whether a format or install worker is running (GUI thread).
    bool IsWorkerRunning() const { return m_workerRunning; }

    // The package file, in the current folder.
    static constexpr const char* kPackageFile = "./default_remote_package.bin";
    // Bytes per packet of the package upload.
    static constexpr size_t kPacketSize = 1460;
    // Device DiskMode value of each mode combo item.
    static int DiskModeOfItem(int item);
    // done * 100 / total in 64 bits, at most 100; 0 for a total of 0.
    static int PercentOf(uint64_t done, uint64_t total);

    // Sends the upload body (part header, fileSize bytes of file, closing
    // part) in packets of kPacketSize bytes, the last one shorter, each
    // through sendPacket; onPacket(packetsSent, packetCount) follows each.
    // kBodySent, kBodySendFailed (sendPacket said false), kBodyReadFailed
    // (the file ended early or failed; *readError holds errno) or
    // kBodyStopped (stop became true).
    enum BodyResult { kBodySent, kBodySendFailed, kBodyReadFailed, kBodyStopped };
    static BodyResult SendPackageBody(std::FILE* file, uint64_t fileSize,
                                      const std::function<bool(const char* data, size_t size)>& sendPacket,
                                      const std::function<void(uint64_t sent, uint64_t count)>& onPacket,
                                      const std::atomic<bool>* stop = nullptr, int* readError = nullptr);

protected:
    bool OnInitDialog() override;
    // Enter never ends the wizard; Esc and the window's close do only while
    // no worker runs.
    void OnOK() override {}
    void OnCancel() override;

private:
    // What one worker run does, fixed when it starts.
    struct Job {
        bool format = false;
        bool install = false;
        int formatType = 2;
        int diskMode = 0;
    };

    // GUI thread.
    void OnNext();
    void OnSelchangeFormatMode(int item);
    void ShowDiskInfo();
    void ShowModeDescription(int item);
    bool StartWorker(const Job& job, const char* failureText);
    intptr_t OnShowMessage(const platform::gui::Message& message);
    intptr_t OnWorkerUpdate(const platform::gui::Message& message);
    intptr_t OnWorkerDone(const platform::gui::Message& message);
    void ApplyUpdate(const WizardUpdate& update);
    void StopWorker();

    // Worker thread.
    void FormatThread(Job job);
    void InstallThread(Job job);
    bool InstallPart();
    bool FormatDisks(const Job& job);
    bool UploadRemotePackage(std::FILE* file);
    void RefreshDiskStatus();
    void WriteBackDeviceName();
    void Post(const WizardUpdate& update);
    void Prompt(const std::string& text);
    void ErrorBox(const std::string& text);
    // Sleeps that delay; false when the dialog is going away.
    bool Pause(platform::gui::Delay delay);
    bool Pause(int milliseconds);
    bool Stopping() const { return m_stop.load(); }

    std::unique_ptr<Ui::SetupWizardDlg> m_ui;
    std::thread m_worker;        // joinable when one was started
    bool m_workerRunning = false; // GUI thread: started and not yet reported done
    bool m_formatNeeded = false;
    bool m_installNeeded = false;
    bool m_done = false;
    int m_formatType = 2;
    int m_diskMode = 0;
    bool m_modeFixed = false;

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_workerFinished{true};
    std::mutex m_stopLock;
    std::condition_variable m_stopSignal;
};
