#pragma once
// The discovery, login and network configuration dialog: finds the devices on
// the LAN, logs in to one of them and, when the device sits in another IP
// subnet than the PC, gives it a new network configuration. It ends with IDOK
// once a login succeeded and the context holds the device, user, password and
// SNMP community; IDCANCEL otherwise.
//
// One window, three modes: the device list (1), the login form (2) and the
// network configuration form (3). Every network operation runs on a worker
// thread behind the busy popup; the worker gets its inputs by value and hands
// its result back by value once the GUI thread has joined it. No worker ever
// touches a widget or the context.
#include <QPixmap>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Dialog.h"
#include "NasDiscovery.h"
#include "NasInfo.h"

class CPopDlg;
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

    // Waits and time-outs of the device exchanges. The defaults are the real
    // ones; tests shorten them.
    struct Timing {
        int discoveryMs = 3000;   // one discovery scan
        int loginMs = 3000;       // login request
        int setNetworkMs = 6000;  // set-network request
        int dhcpWaitMs = 4000;    // pause before each look for a re-addressed device
        int dhcpRounds = 4;
    };
    static Timing SetTiming(const Timing& timing); // returns the old values
    static Timing GetTiming();

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
    // What a worker reports back with its code.
    struct WorkerResult {
        NasInfo record{};        // the device as the worker last saw it
        bool recordValid = false;
        std::string community;
    };

    // Messages.
    intptr_t OnShowMessage(const platform::gui::Message& message);
    intptr_t OnScanDone(const platform::gui::Message& message);
    intptr_t OnSwitchMode(const platform::gui::Message& message);
    void ShowMessage(unsigned stringId, unsigned style = 0x10);

    // Modes.
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
    // Starts work on a new thread (held in slot), shows the busy popup until
    // the work ends and returns its code once the thread has been joined.
    int RunWorker(std::thread& slot, const std::function<int(CPopDlg&)>& work);

    // Worker bodies; they read only their arguments.
    static int ScanWorker(CPopDlg& popup, CNasDiscovery& discovery, bool changeUser, const std::string& macText);
    static int WaitReadyWorker(CPopDlg& popup, NasInfo record, WorkerResult& out);
    static int LoginWorker(CPopDlg& popup, NasInfo record, const std::string& user, const std::string& password,
                           WorkerResult& out);
    static int NetConfigWorker(CPopDlg& popup, NasInfo record, bool automatic, uint32_t ip, uint32_t mask,
                               uint32_t gateway, const std::string& password, WorkerResult& out);
    // Rediscovers the device until it reports a disk-1 state other than -10:
    // 1 with the record, else -5 or a negative protocol code.
    static int WaitUntilReady(const unsigned char mac[6], NasInfo& record);

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
    std::thread m_scanThread;
    std::thread m_loginThread;
    std::thread m_netThread;
    CPopDlg* m_popup = nullptr;
    std::string m_pendingCommunity;
    std::vector<std::unique_ptr<RowRecord>> m_rows;
    bool m_workerRunning = false;
    int m_workersStarted = 0;
};
