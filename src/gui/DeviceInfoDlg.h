#pragma once
// The "Device Information" dialog: the logged-in device's system values and a
// table of its disks and USB disks, read over SNMP (ReadDeviceInfo, in the
// core) on the dialog's worker and read again every 5 seconds while the
// dialog is open; a refresh tick is skipped while the last read still runs.
//
// The read never touches the dialog: its values come back by value on the GUI
// thread. Closing the dialog waits only a moment for a running read; a read
// that is still talking to the device then is left to finish on its own and
// its values go nowhere.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DeviceInfoRead.h"
#include "Dialog.h"
#include "Worker.h"

class CPopDlg;
class CProgressListCtrl;
class CSnmpEngine;
class QLabel;
namespace Ui {
class DeviceInfoDlg;
}

class CDeviceInfoDlg : public platform::gui::Dialog {
    Q_OBJECT
public:
    // Control ids.
    enum : int {
        IDC_NAME = 1294,
        IDC_IP_ADDRESS = 1295,
        IDC_MAC_ADDRESS = 1296,
        IDC_FIRMWARE_VERSION = 1297,
        IDC_PACKAGE_VERSION = 1298,
        IDC_BOOT_TIME = 1309,
        IDC_LAN_INTERFACE = 1310,
        IDC_STORAGE_LIST = 1312,
        IDC_DISK_MODE = 1342,
    };
    static constexpr int kBusyTries = kDeviceInfoBusyTries;
    static constexpr int kBusyPauseMs = kDeviceInfoBusyPauseMs;
    // How long closing the dialog waits for a running query.
    static constexpr int kCloseWaitMs = 500;

    explicit CDeviceInfoDlg(QWidget* parent = nullptr);
    ~CDeviceInfoDlg() override;

    // The modal run; the window's clean-up (refresh, running read) follows it.
    int DoModal() override;

    // Text of a label control (1294 ... 1342); "" for another id.
    std::string GetDlgItemText(int id) const;
    CProgressListCtrl* GetStorageList() const { return m_storageList; }
    // Whether the periodic refresh runs.
    bool IsRefreshing() const { return m_worker.IsPeriodic(); }
    // The engine's result of the last failing request of the last query
    // that ended while the dialog waited for it (the first one).
    int GetQueryStatus() const { return m_queryStatus; }

    static std::string DiskModeText(int mode);
    static std::string FileSystemText(int type);
    static int ParseFileSystemType(const std::string& text) { return ::ParseFileSystemType(text); }

    // Test seam: see SetDeviceInfoEngineHook.
    using EngineHook = DeviceInfoEngineHook;
    static EngineHook SetEngineHook(EngineHook hook) { return SetDeviceInfoEngineHook(std::move(hook)); }
    // Query threads still running, those left behind by closed dialogs too.
    static int RunningQueries();

protected:
    bool OnInitDialog() override;
    // The window goes: the timer stops, a running query is waited for a
    // moment and otherwise left behind.
    void OnDestroy();
    // 1: the first query, behind the busy popup; true when it read
    // everything. 0: a background refresh; true when it started.
    bool Query(int withPopup);

private:
    struct ReadResult {
        int status = 0;
        DeviceInfoValues values;
    };
    // The read, as the worker runs it.
    static std::function<ReadResult(const platform::JobControl&)> ReadJob();
    void TakeValues(const DeviceInfoValues& values);
    void ShowValues();
    void SetDlgItemText(int id, const std::string& text);
    QLabel* Label(int id) const;

    std::unique_ptr<Ui::DeviceInfoDlg> m_ui;

    CProgressListCtrl* m_storageList = nullptr;
    DeviceInfoValues m_values; // what the last read got
    int m_queryStatus = 0;
    platform::gui::Worker m_worker;
};
