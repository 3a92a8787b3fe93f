#pragma once
// The "Device Information" dialog: the logged-in device's system values and a
// table of its disks and USB disks, read over SNMP on a query thread and read
// again every 5 seconds while the dialog is open.
//
// The query thread never touches the dialog: it reads into a value record and
// posts that record to the dialog (WM_USER+9), which shows it on the GUI
// thread. Closing the dialog waits only a moment for a running query; a query
// that is still talking to the device then is left to finish on its own and
// drops its results.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Dialog.h"

class CPopDlg;
class CProgressListCtrl;
class CSnmpEngine;
class QLabel;
namespace Ui {
class DeviceInfoDlg;
}

// One row of the storage table.
struct DeviceStorageRow {
    std::string name; // "Disk1", "Disk2", "USB" + index
    int fileSystem = 0;
    int totalMb = 0;
    int usedMb = 0;
};

// Everything one query reads.
struct DeviceInfoValues {
    std::string name;
    std::string firmwareVersion;
    std::string packageVersion;
    std::string bootTime;
    std::string lanInterface;
    int diskMode = 0;
    std::vector<DeviceStorageRow> rows;
};

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
    // The values are ready (posted by the query thread with a DeviceInfoValues).
    static constexpr unsigned WM_DEVICE_INFO_READY = platform::gui::WM_USER + 9;

    // Tries of one request that the device answers with noSuchName (busy)
    // before the query gives up with that answer.
    static constexpr int kBusyTries = 3;
    // Pause between those tries.
    static constexpr int kBusyPauseMs = 500;
    // How long closing the dialog waits for a running query.
    static constexpr int kCloseWaitMs = 500;
    // More USB rows than any device has; the table walk stops there.
    static constexpr int kMaxUsbRows = 64;

    explicit CDeviceInfoDlg(QWidget* parent = nullptr);
    ~CDeviceInfoDlg() override;

    // The modal run; the window's clean-up (timer, query thread) follows it.
    int DoModal() override;

    // Text of a label control (1294 ... 1342); "" for another id.
    std::string GetDlgItemText(int id) const;
    CProgressListCtrl* GetStorageList() const { return m_storageList; }
    // The engine's result of the last failing request of the last query
    // that ended while the dialog waited for it (the first one).
    int GetQueryStatus() const { return m_queryStatus; }

    static std::string DiskModeText(int mode);
    static std::string FileSystemText(int type);
    // The device's file-system type text as a number: "1" ... "3", or the
    // names "vfat"/"fat32" (1), "ext2" (2), "ext3" (3); 0 otherwise.
    static int ParseFileSystemType(const std::string& text);

    // Test seam: called with every engine a query makes, after it was aimed
    // at the device (time-outs, retries). Returns the old hook.
    using EngineHook = std::function<void(CSnmpEngine&)>;
    static EngineHook SetEngineHook(EngineHook hook);
    // Query threads still running, those left behind by closed dialogs too.
    static int RunningQueries();

protected:
    bool OnInitDialog() override;
    void OnTimer(unsigned id) override;
    // The window goes: the timer stops, a running query is waited for a
    // moment and otherwise left behind.
    void OnDestroy();
    // 1: the first query, behind the busy popup; true when it read
    // everything. 0: a background refresh; true when it started.
    bool Query(int withPopup);

private:
    struct Job;
    static void DeviceInfoThreadProc(const std::shared_ptr<Job>& job);
    static int ReadDeviceInfo(Job& job, DeviceInfoValues& values);
    intptr_t OnValuesReady(const platform::gui::Message& message);
    void ShowValues();
    void SetDlgItemText(int id, const std::string& text);
    QLabel* Label(int id) const;

    std::unique_ptr<Ui::DeviceInfoDlg> m_ui;

    CProgressListCtrl* m_storageList = nullptr;
    std::string m_name;
    std::string m_firmwareVersion;
    std::string m_packageVersion;
    std::string m_bootTime;
    std::string m_lanInterface;
    int m_diskMode = 0;
    std::vector<DeviceStorageRow> m_rows;
    CPopDlg* m_popup = nullptr;
    std::shared_ptr<Job> m_queryJob; // null when no query was started
    std::thread m_queryThread;
    int m_queryStatus = 0;
    unsigned m_timerId = 0;
};
