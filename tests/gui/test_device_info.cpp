// The device information dialog against an SNMP agent serving the device's
// tables: the values and storage rows it shows, RAID and USB rows, the
// refresh, a busy or silent device, and closing while a query still waits.
#include <QHeaderView>
#include <QStandardItemModel>
#include <QStandardItem>
#include <QTreeView>
#include <QtTest>
#include <chrono>
#include <map>
#include <memory>

#include "GuiTestSupport.h"
#include "TestClock.h"
#include "DeviceInfoDlg.h"
#include "Dialog.h"
#include "MessageBoxes.h"
#include "NasMib.h"
#include "PopDlg.h"
#include "ProgressListCtrl.h"
#include "SnmpHelpers.h"
#include "SnmpTestAgent.h"
#include "TestNetwork.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
using testbed::MibValue;
using testbed::NasDescription;

namespace {

NasDescription TwoDisksTwoSticks()
{
    NasDescription nas = NasDescription::Default();
    nas.deviceName = "NAS-LAB";
    nas.firmwareVersion = "2.00.07";
    nas.bootTime = "2024/03/09 08:15:00";
    nas.lanInfo = "198.18.1.10/255.255.255.0";
    nas.packageVersion = "1.0.9";
    nas.diskMode = 0;
    nas.disks = {{1, 238475, 1024, "3", 2}, {2, 476940, 512, "ext2", 2}};
    nas.usbDisks = {{1, 7634, 120, "vfat"}, {2, 900, 1000, "ntfs"}};
    return nas;
}

std::vector<std::vector<std::string>> Rows(const CDeviceInfoDlg& dlg)
{
    std::vector<std::vector<std::string>> rows;
    CProgressListCtrl* list = dlg.GetStorageList();
    for (int r = 0; r < list->GetItemCount(); ++r) {
        std::vector<std::string> row;
        row.reserve(static_cast<size_t>(list->GetColumnCount()));
        for (int c = 0; c < list->GetColumnCount(); ++c)
            row.push_back(list->GetItemText(r, c));
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> RowNames(const CDeviceInfoDlg& dlg)
{
    std::vector<std::string> names;
    for (const auto& row : Rows(dlg))
        names.push_back(row.at(0));
    return names;
}

using Names = std::vector<std::string>;

} // namespace

class TestDeviceInfo : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::TestNetwork> m_net;
    std::unique_ptr<testsupport::SnmpTestAgent> m_agent;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    // Refreshes every 50 ms; the busy pauses pass at once.
    std::unique_ptr<testsupport::InstantPauses> m_clock;

    // Opens a dialog on the agent's device; body runs once the dialog shows
    // and the dialog is closed after it (if body left it open).
    int Run(CDeviceInfoDlg& dlg, const std::function<void(CDeviceInfoDlg&)>& body,
            const std::function<void(CPopDlg&)>& popupBody = {})
    {
        return RunScripted(
            dlg, [&] { body(dlg); }, IDOK, popupBody);
    }

    // The pauses between busy answers (the animation pauses too).
    std::vector<int64_t> BusyPauses() const
    {
        std::vector<int64_t> busy;
        for (int64_t ms : m_clock->Pauses())
            if (ms == CDeviceInfoDlg::kBusyPauseMs)
                busy.push_back(ms);
        return busy;
    }

    void StartAgent(const NasDescription& nas)
    {
        m_agent = std::make_unique<testsupport::SnmpTestAgent>(nas);
        m_agent->PointContext();
        GetNasContext()->m_macText = "02:00:00:00:00:01";
    }

private slots:
    void initTestCase()
    {
        m_net = std::make_unique<testsupport::TestNetwork>(); // loopback up
    }
    void init()
    {
        m_boxes = std::make_unique<MessageBoxRecorder>();
        m_clock = std::make_unique<testsupport::InstantPauses>(100);
        // Engine waits run on the test's clock, 100 times faster: 30 s there
        // is 0.3 s here.
        CDeviceInfoDlg::SetEngineHook([](CSnmpEngine& engine) {
            engine.SetTimeout(3000);
            engine.SetRetries(0);
        });
    }
    void cleanup()
    {
        QVERIFY(WaitFor([] { return CDeviceInfoDlg::RunningQueries() == 0; }));
        Dialog::SetModalHook({});
        CDeviceInfoDlg::SetEngineHook({});
        m_clock.reset();
        m_agent.reset();
        m_boxes.reset();
    }

    void showsTheDeviceTables()
    {
        StartAgent(TwoDisksTwoSticks());
        CDeviceInfoDlg dlg;
        bool timerRunning = false;
        std::vector<std::vector<std::string>> rows;
        std::map<int, std::string> texts;
        int code = Run(dlg, [&](CDeviceInfoDlg& d) {
            timerRunning = d.IsRefreshing();
            // With TOLVANE_SCREENSHOT_DIR set, a picture of the window.
            QByteArray dir = qgetenv("TOLVANE_SCREENSHOT_DIR");
            if (!dir.isEmpty())
                QVERIFY(d.grab().save(QString::fromUtf8(dir) + "/device_info.png", "PNG"));
            rows = Rows(d);
            for (int id : {1294, 1295, 1296, 1297, 1298, 1309, 1310, 1342})
                texts[id] = d.GetDlgItemText(id);
        });
        QCOMPARE(code, IDOK);
        QVERIFY(timerRunning);
        QVERIFY(!dlg.IsRefreshing()); // stopped with the window
        QCOMPARE(texts[1294], std::string("NAS-LAB"));
        QCOMPARE(texts[1295], std::string("127.0.0.1"));
        QCOMPARE(texts[1296], std::string("02:00:00:00:00:01"));
        QCOMPARE(texts[1297], std::string("2.00.07"));
        QCOMPARE(texts[1298], std::string("1.0.9"));
        QCOMPARE(texts[1309], std::string("2024/03/09 08:15:00"));
        QCOMPARE(texts[1310], std::string("198.18.1.10/255.255.255.0"));
        QCOMPARE(texts[1342], std::string("Individual Disk"));

        using Row = std::vector<std::string>;
        QCOMPARE(rows.size(), size_t(4));
        QCOMPARE(rows[0],
                 (Row{"Disk1", "Ext3", FormatDiskSize(238475), FormatDiskSize(1024), FormatDiskSize(238475 - 1024)}));
        QCOMPARE(rows[1],
                 (Row{"Disk2", "Ext2", FormatDiskSize(476940), FormatDiskSize(512), FormatDiskSize(476940 - 512)}));
        QCOMPARE(rows[2],
                 (Row{"USB1", "Fat32", FormatDiskSize(7634), FormatDiskSize(120), FormatDiskSize(7634 - 120)}));
        // More used than total (a device's rounding) shows no free space
        // rather than a wrapped-around size.
        QCOMPARE(rows[3], (Row{"USB2", "unknown", "900 MB", "1000 MB", "0 MB"}));

        // The table's columns.
        CProgressListCtrl* list = dlg.GetStorageList();
        QCOMPARE(list->GetColumnCount(), 5);
        QStringList headings;
        for (int c = 0; c < 5; ++c)
            headings << list->Model()->horizontalHeaderItem(c)->text();
        QCOMPARE(headings, (QStringList{"Name", "File System", "Total Size", "Used Size", "Free Size"}));
        for (int c : {0, 1}) // as wide as their titles
            QCOMPARE(list->GetColumnWidth(c), list->ReportView()->header()->sectionSizeHint(c));
        QVERIFY(list->GetColumnWidth(2) > 0);
        QCOMPARE(list->GetColumnWidth(3), list->GetColumnWidth(2));
        QVERIFY(list->GetColumnWidth(4) >= list->GetColumnWidth(2)); // the last one stretches
        QCOMPARE(m_boxes->Count(), size_t(0));
    }

    void firstQueryRunsBehindThePopup()
    {
        StartAgent(TwoDisksTwoSticks());
        // The first answer comes only to the engine's second try, 0.3 s later.
        CDeviceInfoDlg::SetEngineHook([](CSnmpEngine& engine) {
            engine.SetTimeout(3000);
            engine.SetRetries(1);
        });
        m_agent->agent.DropNextRequests(1);
        CDeviceInfoDlg dlg;
        bool popupText = false;
        bool valuesBehindPopup = true;
        bool overTheDialog = false;
        std::string name;
        int code = Run(
            dlg, [&](CDeviceInfoDlg& d) { name = d.GetDlgItemText(CDeviceInfoDlg::IDC_NAME); },
            [&](CPopDlg& popup) {
                overTheDialog = popup.parentWidget() == &dlg;
                valuesBehindPopup = dlg.GetDlgItemText(CDeviceInfoDlg::IDC_NAME).empty();
                popupText = WaitFor([&] { return popup.GetShownText() == "Please wait.."; });
            });
        QCOMPARE(code, IDOK);
        QVERIFY(popupText);
        QVERIFY(overTheDialog);
        QVERIFY(valuesBehindPopup);
        QCOMPARE(name, std::string("NAS-LAB"));
    }

    void raidShowsNoDisk2AndEmptyBaysNoRow()
    {
        NasDescription nas = TwoDisksTwoSticks();
        nas.diskMode = 1;
        StartAgent(nas);
        {
            CDeviceInfoDlg dlg;
            std::vector<std::string> names;
            std::string mode;
            Run(dlg, [&](CDeviceInfoDlg& d) {
                names = RowNames(d);
                mode = d.GetDlgItemText(CDeviceInfoDlg::IDC_DISK_MODE);
            });
            QCOMPARE(names, (Names{"Disk1", "USB1", "USB2"}));
            QCOMPARE(mode, std::string("Raid1"));
        }
        // Individual disks: a bay whose state is 0 has no row; a disk being
        // formatted (-1) has one.
        nas.diskMode = 0;
        nas.disks = {{1, 238475, 10, "ext3", -1}, {2, 0, 0, "", 0}};
        nas.usbDisks.clear();
        testbed::SeedNasMib(m_agent->store, nas);
        {
            CDeviceInfoDlg dlg;
            std::vector<std::string> names;
            Run(dlg, [&](CDeviceInfoDlg& d) { names = RowNames(d); });
            QCOMPARE(names, (Names{"Disk1"}));
        }
    }

    void textsOfModesAndFileSystems()
    {
        const char* modes[] = {"Individual Disk", "Raid1", "Raid1 (Broken)", "Raid0", "JBOD", "Undefined"};
        for (int m = 0; m <= 5; ++m)
            QCOMPARE(CDeviceInfoDlg::DiskModeText(m), std::string(modes[m]));
        QCOMPARE(CDeviceInfoDlg::DiskModeText(-1), std::string("Undefined"));
        QCOMPARE(CDeviceInfoDlg::FileSystemText(1), std::string("Fat32"));
        QCOMPARE(CDeviceInfoDlg::FileSystemText(2), std::string("Ext2"));
        QCOMPARE(CDeviceInfoDlg::FileSystemText(3), std::string("Ext3"));
        QCOMPARE(CDeviceInfoDlg::FileSystemText(0), std::string("unknown"));
        QCOMPARE(CDeviceInfoDlg::FileSystemText(4), std::string("unknown"));
        QCOMPARE(CDeviceInfoDlg::ParseFileSystemType("3"), 3);
        QCOMPARE(CDeviceInfoDlg::ParseFileSystemType(" 1"), 1);
        QCOMPARE(CDeviceInfoDlg::ParseFileSystemType("EXT3"), 3);
        QCOMPARE(CDeviceInfoDlg::ParseFileSystemType("ext2"), 2);
        QCOMPARE(CDeviceInfoDlg::ParseFileSystemType("vfat"), 1);
        QCOMPARE(CDeviceInfoDlg::ParseFileSystemType("ext4"), 0);
        QCOMPARE(CDeviceInfoDlg::ParseFileSystemType(""), 0);
    }

    void refreshPicksUpAChange()
    {
        StartAgent(TwoDisksTwoSticks());
        CDeviceInfoDlg dlg;
        bool renamed = false;
        std::vector<std::string> names;
        std::string used;
        Run(dlg, [&](CDeviceInfoDlg& d) {
            testbed::MibStore& s = m_agent->store;
            s.Set(NasCell(nasmib::kDiskUsedSize, "1"), MibValue::Integer(2048));
            testbed::AddUsbRow(s, {3, 500, 5, "vfat"});
            s.EraseRow(testbed::ToOid(nasmib::kUsbEntry), testbed::Oid{1});
            // The name last: a refresh that reads it reads the rest after it.
            s.Set(nasmib::kDeviceName, MibValue::String("NAS-RENAMED"));
            renamed = WaitFor([&] { return d.GetDlgItemText(CDeviceInfoDlg::IDC_NAME) == "NAS-RENAMED"; });
            names = RowNames(d);
            used = d.GetStorageList()->GetItemText(0, 3);
        });
        QVERIFY(renamed);
        // The USB table is read from index 1 on: with stick 1 gone the walk
        // ends at once, so sticks 2 and 3 are not listed.
        QCOMPARE(names, (Names{"Disk1", "Disk2"}));
        QCOMPARE(used, FormatDiskSize(2048));
    }

    // A refresh writes the rows over in place: the row a reader is on, its
    // selection and the focus stay; a stick that goes takes only its row.
    void refreshKeepsTheReadersPlace()
    {
        StartAgent(TwoDisksTwoSticks());
        CDeviceInfoDlg dlg;
        int selected = -1;
        int current = -1;
        bool focused = false;
        bool refreshed = false;
        Names after;
        int selectedAfterRemoval = -2;
        Run(dlg, [&](CDeviceInfoDlg& d) {
            CProgressListCtrl* list = d.GetStorageList();
            d.activateWindow();
            (void)QTest::qWaitForWindowActive(&d);
            list->SetItemSelected(1, true); // Disk2
            list->setFocus();
            QStandardItem* disk2 = list->Model()->item(1, 0);
            m_agent->store.Set(NasCell(nasmib::kDiskUsedSize, "2"), MibValue::Integer(4096));
            refreshed = WaitFor([&] { return list->GetItemText(1, 3) == FormatDiskSize(4096); });
            selected = list->GetSelectedItem();
            current = list->CurrentView()->currentIndex().row();
            focused = QApplication::focusWidget() == list->CurrentView() && list->Model()->item(1, 0) == disk2;
            // USB2 selected, USB1 taken out: the table ends at the gap.
            list->SetItemSelected(3, true);
            testbed::AddUsbRow(m_agent->store, {3, 500, 5, "vfat"});
            WaitFor([&] { return RowNames(d).size() == 5; });
            m_agent->store.EraseRow(testbed::ToOid(nasmib::kUsbEntry), testbed::Oid{3});
            WaitFor([&] { return RowNames(d).size() == 4; });
            after = RowNames(d);
            selectedAfterRemoval = list->GetSelectedItem();
        });
        QVERIFY(refreshed);
        QCOMPARE(selected, 1);
        QCOMPARE(current, 1);
        QVERIFY(focused);
        QCOMPARE(after, (Names{"Disk1", "Disk2", "USB1", "USB2"}));
        QCOMPARE(selectedAfterRemoval, 3);
    }

    void newUsbStickAppearsOnRefresh()
    {
        NasDescription nas = TwoDisksTwoSticks();
        nas.usbDisks = {{1, 7634, 120, "vfat"}};
        StartAgent(nas);
        CDeviceInfoDlg dlg;
        std::vector<std::string> before;
        bool appeared = false;
        Run(dlg, [&](CDeviceInfoDlg& d) {
            before = RowNames(d);
            testbed::AddUsbRow(m_agent->store, {2, 3000, 30, "ext3"});
            appeared = WaitFor([&] { return RowNames(d) == Names{"Disk1", "Disk2", "USB1", "USB2"}; });
        });
        QCOMPARE(before, (Names{"Disk1", "Disk2", "USB1"}));
        QVERIFY(appeared);
        QCOMPARE(dlg.GetStorageList()->GetItemText(3, 1), std::string("Ext3"));
    }

    void silentDeviceKeepsTheLastValues()
    {
        StartAgent(TwoDisksTwoSticks());
        CDeviceInfoDlg dlg;
        bool failedAgain = false;
        std::string name;
        std::vector<std::string> names;
        Run(dlg, [&](CDeviceInfoDlg& d) {
            m_agent->agent.DropNextRequests(1000000);
            // Several refreshes time out one after the other.
            failedAgain = WaitFor([&] { return m_agent->agent.PendingDrops() <= 1000000 - 3; });
            name = d.GetDlgItemText(CDeviceInfoDlg::IDC_NAME);
            names = RowNames(d);
        });
        m_agent->agent.ClearFaults();
        QVERIFY(failedAgain);
        QCOMPARE(name, std::string("NAS-LAB"));
        QCOMPARE(names, (Names{"Disk1", "Disk2", "USB1", "USB2"}));
        QCOMPARE(m_boxes->Count(), size_t(0)); // refreshes fail without a word
    }

    void silentDeviceOnTheFirstQuery()
    {
        StartAgent(TwoDisksTwoSticks());
        m_agent->agent.DropNextRequests(1000);
        CDeviceInfoDlg dlg;
        bool shown = false;
        int code = Run(dlg, [&](CDeviceInfoDlg&) { shown = true; });
        QCOMPARE(code, IDCANCEL);
        QVERIFY(!shown);
        QCOMPARE(dlg.GetQueryStatus(), -5);
        QCOMPARE(m_boxes->Count(), size_t(1));
        QCOMPARE(m_boxes->LastText(), std::string("Could not receive the response form NAS."));
        QCOMPARE(m_boxes->Boxes()[0].style & platform::MB_ICONMASK, unsigned(platform::MB_ICONERROR));
    }

    void missingObjectDoesNotLoopForever()
    {
        StartAgent(TwoDisksTwoSticks());
        // The device answers noSuchName for the disk mode, every time.
        m_agent->agent.AddNoSuchNamePrefix(nasmib::kDiskMode);
        CDeviceInfoDlg dlg;
        bool shown = false;
        int code = Run(dlg, [&](CDeviceInfoDlg&) { shown = true; });
        QCOMPARE(code, IDCANCEL);
        QVERIFY(!shown);
        QCOMPARE(m_agent->agent.RequestCount(), uint64_t(CDeviceInfoDlg::kBusyTries));
        QCOMPARE(BusyPauses(), std::vector<int64_t>(CDeviceInfoDlg::kBusyTries - 1, CDeviceInfoDlg::kBusyPauseMs));
        QCOMPARE(m_boxes->LastText(), std::string("snmp ret 2"));
    }

    void busyDeviceIsAskedAgain()
    {
        StartAgent(TwoDisksTwoSticks());
        // Busy for the first request only: the query goes on.
        m_agent->agent.FailRequests(CDeviceInfoDlg::kBusyTries - 1);
        CDeviceInfoDlg dlg;
        std::vector<std::string> names;
        int code = Run(dlg, [&](CDeviceInfoDlg& d) { names = RowNames(d); });
        QCOMPARE(code, IDOK);
        QCOMPARE(names, (Names{"Disk1", "Disk2", "USB1", "USB2"}));
        QCOMPARE(BusyPauses().size(), size_t(CDeviceInfoDlg::kBusyTries - 1));
        QCOMPARE(m_boxes->Count(), size_t(0));
    }

    void closingDuringASlowQueryReturnsPromptly()
    {
        StartAgent(TwoDisksTwoSticks());
        // Each request may wait 0.5 s (real) x 41 tries for its answer.
        CDeviceInfoDlg::SetEngineHook([](CSnmpEngine& engine) {
            engine.SetTimeout(5000);
            engine.SetRetries(40);
        });
        std::chrono::steady_clock::time_point closing;
        bool waiting = false;
        {
            CDeviceInfoDlg dlg;
            Run(dlg, [&](CDeviceInfoDlg& d) {
                m_agent->agent.DropNextRequests(1000000);
                // A refresh is now waiting for an answer that does not come.
                waiting = WaitFor([&] { return m_agent->agent.PendingDrops() < 1000000; });
                closing = std::chrono::steady_clock::now();
                QTest::keyClick(&d, Qt::Key_Escape); // the user closes the window
            });
            QCOMPARE(CDeviceInfoDlg::RunningQueries(), 1); // left behind
        }                                                  // the dialog is gone before its query ends
        const auto closeTook = std::chrono::steady_clock::now() - closing;
        QVERIFY(waiting);
        QVERIFY(closeTook < std::chrono::seconds(5));
        // The device answers again: the query gets its answer, sees it was
        // left behind and ends without touching the dialog.
        m_agent->agent.ClearFaults();
        QVERIFY(WaitFor([] { return CDeviceInfoDlg::RunningQueries() == 0; }));
        QCOMPARE(m_boxes->Count(), size_t(0));
    }
};

QTEST_MAIN(TestDeviceInfo)
#include "test_device_info.moc"
