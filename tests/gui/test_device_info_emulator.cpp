// The device information dialog against the emulated device in its private
// network: logged in as the program logs in, it shows what the device's SNMP
// agent serves and follows a change made on the device.
#include <QtTest>
#include <memory>

#include "GuiTestSupport.h"
#include "Clock.h"
#include "DeviceInfoDlg.h"
#include "Dialog.h"
#include "EmulatedNas.h"
#include "MessageBoxes.h"
#include "ProgressListCtrl.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;

namespace {

std::vector<std::string> RowNames(const CDeviceInfoDlg& dlg)
{
    std::vector<std::string> names;
    CProgressListCtrl* list = dlg.GetStorageList();
    names.reserve(static_cast<size_t>(list->GetItemCount()));
    for (int r = 0; r < list->GetItemCount(); ++r)
        names.push_back(list->GetItemText(r, 0));
    return names;
}

using Names = std::vector<std::string>;

} // namespace

class TestDeviceInfoEmulator : public QObject {
    Q_OBJECT

private slots:
    void showsTheEmulatedDeviceAndFollowsIt()
    {
        MessageBoxRecorder boxes;
        platform::FastClock fast(100); // refreshes every 50 ms
        platform::ScopedClock scoped(fast);
        testsupport::EmulatedNas nas("name = LAB-NAS\n"
                                     "community = c0mm\n"
                                     "user = admin:secret:15\n"
                                     "disk_mode = 1\n"
                                     "usb = 1:7634:120:vfat\n"
                                     "usb = 2:3000:30:ext3\n");
        QVERIFY(nas.Started());
        nas.LogInContext("admin", "secret");

        CDeviceInfoDlg dlg;
        std::string name, address, mode;
        Names before, after, fileSystems;
        bool renamed = false;
        Dialog::SetModalHook([&](Dialog& shown) {
            if (&shown != &dlg)
                return;
            name = dlg.GetDlgItemText(CDeviceInfoDlg::IDC_NAME);
            address = dlg.GetDlgItemText(CDeviceInfoDlg::IDC_IP_ADDRESS);
            mode = dlg.GetDlgItemText(CDeviceInfoDlg::IDC_DISK_MODE);
            before = RowNames(dlg);
            for (int r = 0; r < dlg.GetStorageList()->GetItemCount(); ++r)
                fileSystems.push_back(dlg.GetStorageList()->GetItemText(r, 1));
            // Changed on the device: the next refresh shows it.
            nas.dev->Ok("set usb none");
            nas.dev->Ok("set name LAB-NAS-2");
            renamed = WaitFor([&] { return dlg.GetDlgItemText(CDeviceInfoDlg::IDC_NAME) == "LAB-NAS-2"; });
            after = RowNames(dlg);
            dlg.EndDialog(IDOK);
        });
        const int code = dlg.DoModal();
        Dialog::SetModalHook({});

        QCOMPARE(code, IDOK);
        QCOMPARE(name, std::string("LAB-NAS"));
        QCOMPARE(address, std::string(testsupport::EmulatedNas::kAddress));
        QCOMPARE(mode, std::string("Raid1"));
        QCOMPARE(before, (Names{"Disk1", "USB1", "USB2"}));
        QCOMPARE(fileSystems, (Names{"Ext3", "Fat32", "Ext3"}));
        QVERIFY(renamed);
        QCOMPARE(after, (Names{"Disk1"}));
        QCOMPARE(boxes.Count(), size_t(0));
        QVERIFY(WaitFor([] { return CDeviceInfoDlg::RunningQueries() == 0; }));
    }
};

QTEST_MAIN(TestDeviceInfoEmulator)
#include "test_device_info_emulator.moc"
