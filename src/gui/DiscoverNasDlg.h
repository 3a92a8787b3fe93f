#pragma once
// The discovery, login and network configuration dialog: finds the devices on
// the LAN, logs in to one of them and, when the device sits in another IP
// subnet than the PC, gives it a new network configuration. It ends with IDOK
// once a login succeeded and the context holds the device, user, password and
// SNMP community; IDCANCEL otherwise.
//
// One window, three modes: the device list (1), the login form (2) and the
// network configuration form (3). Every network operation (DiscoveryJobs, in
// the core) runs on the dialog's worker behind the busy popup; the job gets
// its inputs by value and hands its result back by value. No job ever
// touches a widget or the context.
#include <QPixmap>
#include <memory>
#include <string>
#include <vector>

#include "Dialog.h"
#include "NasDiscovery.h"
#include "NasInfo.h"
#include "Worker.h"

class QLineEdit;
class QPushButton;
namespace Ui {
class DiscoverNasDlg;
}
namespace platform::gui {
class ListCtrl;
}

class CDiscoverNasDlg : public platform::gui::Dialog {
    Q_OBJECT
public:
    // type: 0 attach another device, 1 start-up (the last-login device is
    // attached by itself), 2 change user (only the context's device).
    explicit CDiscoverNasDlg(int type, QWidget* parent = nullptr);
    ~CDiscoverNasDlg() override;

    // Control ids of the dialog template.
    enum : int {
        IDC_PASSWORD = 1123,
        IDC_USER = 1238,
        IDC_REMEMBER = 1240,
        IDC_DEVICE_LIST = 1270,
        IDC_ACTION = 1272,
        IDC_ADDRESS_LABEL = 1273,
        IDC_FIELD1_LABEL = 1274,
        IDC_FIELD2_LABEL = 1275,
        IDC_STATUS = 1276,
        IDC_ADDRESS_TEXT = 1277,
        IDC_NAME_LABEL = 1278,
        IDC_NAME_TEXT = 1279,
        IDC_IP = 1280,
        IDC_MASK = 1281,
        IDC_GATEWAY = 1282,
        IDC_AUTO_IP = 1283,
        IDC_NET_GROUP = 1284,
        IDC_STATIC_IP = 1285,
    };
    static constexpr unsigned IDD = 202;
    static constexpr unsigned IDB_DEVICE_IMAGES = 246;
    // Images of the device list.
    enum : int { IMAGE_ANSWERING = 0, IMAGE_SILENT = 1, IMAGE_OTHER_SUBNET = 2 };
    // WM_USER+8: wParam 1 list, 2 login (lParam the EnterLoginMode flag), 3 network.
    static constexpr unsigned WM_SWITCH_MODE = platform::gui::WM_USER + 8;

    // The control with that id (1 OK, 2 Cancel), null when none.
    QWidget* GetDlgItem(int id) const;
    int GetMode() const { return m_mode; }
    // Device list rows: the record shown and whether it answered the last scan.
    int GetRowCount() const;
    NasInfo GetRowRecord(int row) const;
    bool GetRowAnswering(int row) const;
    int GetRowImage(int row) const;
    std::string GetStatusText() const;
    // The images of the device list.
    const std::vector<QPixmap>& GetImages() const { return m_images; }
    // Whether a worker runs now (the dialog then refuses to close).
    bool IsWorkerRunning() const { return m_workerRunning; }
    // Number of workers started so far.
    int GetWorkerCount() const { return m_workersStarted; }

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A list row's own record: the device's answer and whether it answered
    // the last scan.
    struct RowRecord {
        NasInfo info;
        bool answering;
    };
    // Messages.
    intptr_t OnScanDone(const platform::gui::Message& message);
    intptr_t OnSwitchMode(const platform::gui::Message& message);
    void ShowMessage(unsigned stringId, unsigned style = 0x10);

    // Modes.
    // Mode 1 (device list), 2 (login) or 3 (network settings): its title and
    // controls; false when the dialog is in that mode already.
    bool EnterMode(int mode, const char* title);
    // The rows the login and network modes share: the address and two
    // fields, each label with the field it names.
    void LabelSharedRows(QWidget* address, const char* first, QWidget* firstField, const char* second,
                         QWidget* secondField);
    void EnterListMode();
    void EnterLoginMode(int flag);
    void SwitchToLoginMode();
    void EnterNetConfigMode();
    void ShowSet(const int* ids, bool show);

    // Buttons and list.
    void OnAction();
    void OnAutoIp();
    void OnStaticIp();
    void OnCredentialsChanged();
    void OnListClick(int row, bool right);
    void OnListSelected(int row);
    void OnListDblClk(int row);
    void ValidateAddresses();

    // Operations behind the popup.
    void StartScan();
    void DoLogin();
    void DoNetConfig();
    // Runs job on the worker behind the busy popup and returns its code; 0
    // (nothing done, nothing to tell) when the job failed, whose box the
    // worker has shown.
    int RunJob(const std::function<int(const platform::JobControl&)>& job);

    // Fills the context with a successful login and remembers it.
    void CommitLogin(const NasInfo& record, const std::string& user, const std::string& password,
                     const std::string& community, bool remember);

    NasInfo* SelectedRecord() const { return m_selected; }
    RowRecord* Row(int row) const;
    bool ReadAddress(QLineEdit* field, uint32_t& address) const;
    void SetAddress(QLineEdit* field, uint32_t address);
    void EnableOk(bool enable);

    std::unique_ptr<Ui::DiscoverNasDlg> m_ui;
    platform::gui::ListCtrl* m_list = nullptr;
    std::vector<QPixmap> m_images;
    CNasDiscovery m_discovery;
    bool m_autoAttach;
    bool m_changeUser;
    NasInfo m_ownRecord{};
    NasInfo* m_selected = nullptr;
    int m_mode = 0;
    std::string m_pendingCommunity;
    std::vector<std::unique_ptr<RowRecord>> m_rows;
    bool m_workerRunning = false;
    int m_workersStarted = 0;
    platform::gui::Worker m_worker;
};
