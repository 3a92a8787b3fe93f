#pragma once
// The disk set-up wizard the main window runs after every login. It formats
// unformatted disks through the device's "step2.shtml" form and follows the
// progress over the UDP protocol, then uploads the system package
// "default_remote_package.bin" to "/cgi-bin/remoteinstall" and waits until
// the device has checked it. With nothing to do, or for a user other than
// "admin", it ends with IDOK at once.
//
// The format and install procedures (CDiskSetup, in the core) run on the
// dialog's worker, one at a time. They never touch a widget: what they have to
// show comes back as WizardUpdate values on the GUI thread. The dialog does
// not close while the worker runs.
#include <QString>
#include <array>
#include <memory>
#include <string>

#include "Dialog.h"
#include "DiskSetup.h"
#include "NasInfo.h"
#include "Worker.h"

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

class CSetupWizardDlg : public platform::gui::Dialog {
    Q_OBJECT
public:
    explicit CSetupWizardDlg(QWidget* parent = nullptr);
    ~CSetupWizardDlg() override;

    // The control with that number, null for an unknown one.
    QWidget* GetDlgItem(int id) const;
    // Whether a format or install worker is running (GUI thread).
    bool IsWorkerRunning() const { return m_worker.Busy(); }

    // Device DiskMode value of each mode combo item.
    static int DiskModeOfItem(int item);

protected:
    bool OnInitDialog() override;
    // Enter never ends the wizard; Esc and the window's close do only while
    // no worker runs.
    void OnOK() override {}
    void OnCancel() override;

private:
    // What the wizard reads from the device when it opens: the disks' total
    // megabytes (0 when unknown) and the format type that fixes the mode.
    struct DeviceRead {
        std::array<unsigned, 2> megabytes{};
        int formatType = 0;
    };
    // On the worker; the sizes only when diskInfo.
    static DeviceRead ReadDevice(const LoginCopy& login, bool diskInfo);

    // GUI thread.
    void OnNext();
    void OnSelchangeFormatMode(int item);
    void ShowDiskInfo(const LoginCopy& login, const DeviceRead& read);
    void ShowModeDescription(int item);
    void StartWorker(const DiskSetupJob& job);
    void ApplyUpdate(const WizardUpdate& update);

    std::unique_ptr<Ui::SetupWizardDlg> m_ui;
    bool m_formatNeeded = false;
    bool m_installNeeded = false;
    bool m_done = false;
    int m_formatType = 2;
    int m_diskMode = 0;
    bool m_modeFixed = false;
    platform::gui::Worker m_worker;
};
