// How a sample page and the busy popup look: the title band and the task
// panel in their blues, the popup's animation drawn; and the program's own
// windows against the emulated device at the main window's default size. With
// TOLVANE_SCREENSHOT_DIR set (scripts/screenshots) the pictures are saved
// there as PNG files.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QPainter>
#include <QScreen>
#include <QRadioButton>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <filesystem>
#include <map>

#include "AVICtrl.h"
#include "AddTaskWZ_p3.h"
#include "AccessibleWalk.h"
#include "GuiTestSupport.h"
#include "BackupRestorePage.h"
#include "BarCommands.h"
#include "BackupTask.h"
#include "CommandBars.h"
#include "ConnectionDialog.h"
#include "DeviceInfoDlg.h"
#include "DiscoverNasDlg.h"
#include "EmulatedNas.h"
#include "GroupManagement.h"
#include "ListFolderView.h"
#include "MessageBox.h"
#include "NasMib.h"
#include "ShareManagement.h"
#include "UserManagement.h"
#include "Profile.h"
#include "QuomDlg.h"
#include "TaskStore.h"
#include "TestSupport.h"
#include "stdafx.h"
#include "Delays.h"
#include "Dialog.h"
#include "ListBox.h"
#include "ListCtrl.h"
#include "PageView.h"
#include "PopDlg.h"
#include "ProgressListCtrl.h"
#include "Skin.h"
#include "TaskPanel.h"

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
namespace fs = std::filesystem;

namespace {

void Keep(const QImage& image, const char* name)
{
    QByteArray dir = qgetenv("TOLVANE_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        QVERIFY(image.save(QString::fromUtf8(dir) + "/" + name, "PNG"));
}

class SamplePage : public CPageView {
public:
    SamplePage()
    {
        m_largeIconId = 253;
        m_smallIconId = 263;
        m_taskPanelIconId = 271;
    }

protected:
    void OnInitialUpdate() override
    {
        CPageView::OnInitialUpdate();
        TaskPanel* panel = GetTaskPanel();
        TaskPanelGroup* manage = panel->AddGroup(708, 0);
        manage->AddLinkItem(709);
        manage->AddLinkItem(710);
        manage->AddLinkItem(711);
        manage->AddLinkItem(714);
        TaskPanelGroup* detail = panel->AddGroup(105, 1);
        detail->AddTextItem("Folder: music\nLocation: Disk1\nSupport Type: Samba FTP");
        SetTitle("List Folder");
        ListCtrl* list = GetListCtrl();
        list->InsertColumn(0, " Folder", Qt::AlignLeft, 150);
        const char* names[] = {"music", "photo", "public <Z:>", "backup", "nfs_share", "USB1"};
        const int images[] = {0, 1, 2, 3, 4, 5};
        for (int i = 0; i < 6; ++i)
            list->InsertItem(i, names[i], images[i]);
    }
};

// The user's way to a command: the action of the menu bar that carries it.
bool Choose(CQuomDlg& dlg, unsigned id)
{
    return TriggerMenuCommand(dlg.GetCommandBars() ? dlg.GetCommandBars()->GetMenuBar() : nullptr, id);
}

// A click on a row of a list, as the mouse does it.
void ClickRow(ListCtrl* list, int row)
{
    QAbstractItemView* view = list->CurrentView();
    const QRect r = view->visualRect(list->ModelIndex(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
}

const char kMacText[] = "02:00:00:00:22:01";

// How far apart two colours are to the eye: the ratio of their relative
// luminances (1 for the same, 21 for black on white).
double Contrast(QRgb a, QRgb b)
{
    auto luminance = [](QRgb c) {
        auto channel = [](int v) {
            const double x = v / 255.0;
            return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Opens every drop-down list of window: each row's text must stand out from
// its background, the highlighted row's too. Each open list is pictured over
// its window.
QStringList OpenEveryComboBox(QWidget* window, const std::string& name,
                              std::vector<std::pair<std::string, QImage>>& shots)
{
    QStringList faults;
    for (QComboBox* combo : window->findChildren<QComboBox*>()) {
        if (!combo->isVisible() || !combo->isEnabled() || combo->count() == 0)
            continue;
        combo->setFocus();
        combo->showPopup();
        QCoreApplication::processEvents();
        QAbstractItemView* view = combo->view();
        QWidget* popup = view->window();
        const QImage list = popup->grab().toImage();
        for (int row = 0; row < combo->count(); ++row) {
            const QRect drawn = view->visualRect(view->model()->index(row, combo->modelColumn()));
            const QRect r = QRect(view->viewport()->mapTo(popup, drawn.topLeft()), drawn.size())
                                .adjusted(2, 1, -2, -1)
                                .intersected(list.rect());
            if (r.isEmpty())
                continue;
            const QRgb background = list.pixel(r.left(), r.center().y());
            double best = 1;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x)
                    best = std::max(best, Contrast(background, list.pixel(x, y)));
            if (best < 4.5)
                faults << QString("%1: row \"%2\" of %3%4 stands out %5:1")
                              .arg(QString::fromStdString(name), combo->itemText(row), combo->objectName(),
                                   row == view->currentIndex().row() ? " (highlighted)" : "")
                              .arg(best, 0, 'f', 1);
        }
        const QImage under = window->grab().toImage();
        const QPoint at = popup->mapToGlobal(QPoint()) - window->mapToGlobal(QPoint());
        const QRect all = under.rect().united(QRect(at, list.size()));
        QImage picture(all.size(), QImage::Format_RGB32);
        picture.fill(Qt::white);
        QPainter painter(&picture);
        painter.drawImage(-all.topLeft(), under);
        painter.drawImage(at - all.topLeft(), list);
        painter.end();
        shots.emplace_back(name + "-open-" + combo->objectName().toStdString(), picture);
        combo->hidePopup();
    }
    return faults;
}

} // namespace

class TestScreens : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { LoadSkin(SkinPath()); }

    void samplePage()
    {
        QWidget host;
        host.resize(800, 480);
        SamplePage page;
        QVERIFY(page.CreatePage(QRect(4, 4, 792, 472), &host));
        page.show();
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QCoreApplication::processEvents();
        QImage shot = host.grab().toImage();
        Keep(shot, "page.png");

        // The title band is the page's blue behind white text.
        QImage pageShot = page.grab().toImage();
        QRect band(page.GetListCtrl()->geometry().left(), 0, page.GetListCtrl()->width(),
                   page.GetListCtrl()->geometry().top());
        QCOMPARE(QColor(pageShot.pixel(band.left() + band.width() - 20, band.center().y())),
                 CPageView::TitleBandColour());
        // The task panel is blue between its groups.
        TaskPanel* panel = page.GetTaskPanel();
        QImage panelShot = panel->grab().toImage();
        QCOMPARE(QColor(panelShot.pixel(4, panel->height() - 6)), TaskPanel::BackgroundColour());
        QVERIFY(!panel->ItemRect(709).isEmpty());
    }

    // The main window's pages and the dialogs they open, at the default size.
    void programWindows()
    {
        testsupport::TempDir dir;
        fs::create_directories(dir / "program");
        GetNasContext()->SetIniPath((dir / "program" / "quom.ini").string());
        testsupport::EmulatedNas nas(std::string("name = TOLVANE-NAS\nmac = ") + kMacText +
                                     "\ndisk1 = 2\ndisk2 = 2\ncommunity = c0mm\nuser = admin:secret:15\n"
                                     "user = anna:anna:1:family,\ngroup = 1:family:anna,\n"
                                     "folder = 1:public:Disk1:1\nfolder = 2:photos:Disk1:2:@family,:anna,\n"
                                     "folder = 3:music:Disk2:1\nusb = 1:7634:120\nrsync = 1\n" +
                                     testsupport::DiskRoots(dir.path()));
        QVERIFY(nas.Started());
        RememberLogin(kMacText, "admin", "secret");
        BackupTaskInfo task;
        task.taskName = "Nightly";
        task.nasUser = "admin";
        task.nasFolderSet = 1;
        task.nasFolderName = "music";
        task.nasFolderDisk = "Disk2";
        task.nasFolderStatus = "Public";
        task.lastBackTime = "01:30:00, 12/08/26";
        task.folders = {{"Documents", "", "1.2 MB", (dir / "home" / "Documents").string()},
                        {"Pictures", "", "20.5 MB", (dir / "home" / "Pictures").string()}};
        task.schedules = {{"day", "", 0, MakeMD5Key("day"), ""}};
        CTaskStore store;
        store.CreateTaskStore();
        store.SaveTasks({task});

        std::vector<std::pair<std::string, QImage>> shots;
        platform::MessageBoxRecorder boxes([](const platform::RecordedBox& box) {
            return box.text.find("modify schedule") != std::string::npos ? platform::IDYES : platform::IDNO;
        });
        CQuomDlg dlg;
        bool startUp = true;
        QStringList faults;
        auto look = [&](QWidget* w, const std::string& name) {
            QCoreApplication::processEvents();
            shots.emplace_back(name, w->grab().toImage());
            for (const QString& fault : testsupport::CutTexts(w) + testsupport::NamesNotMatchingText(w))
                faults << QString::fromStdString(name) + ": " + fault;
            faults << OpenEveryComboBox(w, name, shots);
        };
        Dialog::SetModalHook([&](Dialog& d) {
            if (dynamic_cast<CPopDlg*>(&d) != nullptr)
                return;
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            std::string name = d.metaObject()->className();
            if (const size_t colons = name.rfind("::"); colons != std::string::npos)
                name = name.substr(colons + 2);
            if (startUp && dynamic_cast<CDiscoverNasDlg*>(&d) != nullptr)
                return look(&d, name);
            look(&d, name);
            // The group face on the screen as a whole, where the user face
            // has stepped aside.
            if (dynamic_cast<CGroupManagement*>(&d) != nullptr && QGuiApplication::platformName() == "xcb")
                shots.emplace_back("screen-group-face", d.screen()->grabWindow(0).toImage());
            // The drive mapping and the task property over the main window,
            // with their title bars when a window manager draws them.
            if ((dynamic_cast<ConnectionDialog*>(&d) != nullptr || dynamic_cast<CTaskPropertyDlg*>(&d) != nullptr) &&
                QGuiApplication::platformName() == "xcb") {
                QTest::qWait(300); // the window manager's frame
                shots.emplace_back("screen-" + name, d.screen()->grabWindow(0).toImage());
            }
            // The dialogs' other modes: a Private folder, a user being added.
            QAbstractButton* other = nullptr;
            if (auto* folder = dynamic_cast<CShareManagement*>(&d))
                other = folder->Controls().privateFolder;
            else if (auto* users = dynamic_cast<CUserManagement*>(&d))
                other = qobject_cast<QAbstractButton*>(users->GetDlgItem(CUserManagement::IDC_ADD));
            else if (auto* groups = dynamic_cast<CGroupManagement*>(&d))
                other = qobject_cast<QAbstractButton*>(groups->GetDlgItem(CGroupManagement::IDC_ADD));
            if (other != nullptr) {
                other->click();
                if (auto* groups = dynamic_cast<CGroupManagement*>(&d))
                    qobject_cast<QAbstractButton*>(groups->GetDlgItem(CGroupManagement::IDC_QUOTA_ENABLE))->click();
                if (auto* users = dynamic_cast<CUserManagement*>(&d)) {
                    // A group to choose as the primary one.
                    qobject_cast<QAbstractButton*>(users->GetDlgItem(CUserManagement::IDC_GROUP_ENABLE))->click();
                    auto* all = qobject_cast<ListBox*>(users->GetDlgItem(CUserManagement::IDC_ALL_GROUPS));
                    all->SetCurSel(0);
                    qobject_cast<QAbstractButton*>(users->GetDlgItem(CUserManagement::IDC_ADD_GROUP))->click();
                }
                look(&d, name);
            }
            // The schedule's days of the week and of the month.
            if (auto* schedule = dynamic_cast<CAddTaskWZ_p3*>(&d)) {
                qobject_cast<QAbstractButton*>(schedule->GetDlgItem(CAddTaskWZ_p3::IDC_ROUTINE))->click();
                for (int choice : {CAddTaskWZ_p3::IDC_WEEKLY, CAddTaskWZ_p3::IDC_MONTHLY}) {
                    qobject_cast<QAbstractButton*>(schedule->GetDlgItem(choice))->click();
                    look(&d, name);
                }
            }
            // Device Information while it refreshes, over the main window: the
            // reader stays on Disk2, selected and focused, as its figures change.
            if (auto* info = dynamic_cast<CDeviceInfoDlg*>(&d)) {
                ListCtrl* storage = info->GetStorageList();
                d.activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(&d));
                storage->SetItemSelected(1, true);
                storage->setFocus();
                QCOMPARE(nas.dev->Command(std::string("mib set ") + nasmib::kDiskUsedSize + ".2 i 2048"),
                         std::string("OK"));
                QTRY_VERIFY_WITH_TIMEOUT(storage->GetItemText(1, 3) == FormatDiskSize(2048), 30000);
                QCOMPARE(storage->GetSelectedItem(), 1);
                QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(storage->CurrentView()));
                if (QGuiApplication::platformName() == "xcb") {
                    const QRect area = dlg.frameGeometry().united(d.frameGeometry());
                    shots.emplace_back(
                        "device-info-refreshed",
                        d.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage());
                } else {
                    shots.emplace_back("device-info-refreshed", d.grab().toImage());
                }
            }
            // The group dialog stands in for the user dialog; the change-user
            // dialog's network form and device list.
            if (auto* users = dynamic_cast<CUserManagement*>(&d))
                qobject_cast<QAbstractButton*>(users->GetDlgItem(CUserManagement::IDC_GROUP_TAB))->click();
            if (auto* discover = dynamic_cast<CDiscoverNasDlg*>(&d))
                for (uintptr_t mode : {3, 1}) {
                    discover->SendMessage(CDiscoverNasDlg::WM_SWITCH_MODE, mode);
                    look(&d, name);
                }
            if (d.isVisible())
                d.EndDialog(platform::IDCANCEL);
        });
        auto shoot = [&](const char* name) { look(&dlg, name); };
        bool done = false;
        auto script = [&] {
            startUp = false;
            dlg.showNormal();
            dlg.resize(714, 506);
            CPageView* share = dlg.GetPage(ID_VIEW_SHARE_FOLDER);
            QTRY_VERIFY_WITH_TIMEOUT(share->GetListCtrl()->GetItemCount() >= 3, 30000);
            ClickRow(share->GetListCtrl(), 1);
            shoot("main-share");
            ConnectionDialog map(&dlg, "\\\\" + GetNasContext()->m_deviceAddress + "\\public");
            map.DoModal();
            share->OnTaskPanelLink(IDS_ADD_FOLDER);
            share->OnTaskPanelLink(IDS_EDIT_FOLDER);
            QVERIFY(Choose(dlg, ID_USER_MANAGEMENT));
            QVERIFY(Choose(dlg, ID_APP_ABOUT));
            QVERIFY(Choose(dlg, ID_CHANGE_USER));
            QVERIFY(Choose(dlg, ID_DEVICE_INFORMATION));
            QVERIFY(Choose(dlg, ID_VIEW_BACKUP_RESTORE));
            CPageView* backup = dlg.GetPage(ID_VIEW_BACKUP_RESTORE);
            QTRY_VERIFY_WITH_TIMEOUT(backup->GetListCtrl()->GetItemCount() == 1, 30000);
            ClickRow(backup->GetListCtrl(), 0);
            backup->OnTaskPanelLink(CBackupRestorePage::IDS_SHOW_PROPERTY);
            shoot("main-backup");
            // The task panel scrolls within itself, no scroll bar between it
            // and the list; its lines wrap to its width, and the last (the
            // next backup time) scrolls into view.
            TaskPanel* panel = backup->GetTaskPanel();
            for (QScrollBar* bar : backup->findChildren<QScrollBar*>())
                QVERIFY(!bar->isVisible() || panel->isAncestorOf(bar) || backup->GetListCtrl()->isAncestorOf(bar));
            QVERIFY(panel->VerticalScrollBar()->isVisible());
            panel->EnsureVisible(panel->TextLines().back().rect);
            for (const TaskPanel::TextLine& line : panel->TextLines())
                QVERIFY2(line.rect.right() < panel->VerticalScrollBar()->x(), qPrintable(line.text));
            const auto lines = panel->TextLines();
            QCOMPARE(lines[lines.size() - 2].text, QString("Next backup time:"));
            for (size_t i = lines.size() - 2; i < lines.size(); ++i)
                QVERIFY2(panel->rect().contains(lines[i].rect), qPrintable(lines[i].text));
            shoot("main-backup-end");
            backup->OnTaskPanelLink(CBackupRestorePage::IDS_SCHEDULE_SETTING);
            backup->OnTaskPanelLink(CBackupRestorePage::IDS_ADD_TASK);
            QVERIFY(Choose(dlg, ID_VIEW_SYSTEM_LOG));
            shoot("main-log");
            // The same windows on a larger screen.
            dlg.resize(1280, 800);
            for (unsigned page : {ID_VIEW_SHARE_FOLDER, ID_VIEW_BACKUP_RESTORE, ID_VIEW_SYSTEM_LOG}) {
                QVERIFY(Choose(dlg, page));
                shoot(("large-" + std::to_string(page)).c_str());
            }
            done = true;
        };
        RunWhenUp(dlg, script, ID_APP_EXIT);
        Dialog::SetModalHook({});
        QVERIFY(done);
        std::map<std::string, int> seen;
        for (const auto& [name, image] : shots) {
            const int n = seen[name]++;
            Keep(image, (name + (n ? "-" + std::to_string(n + 1) : "") + ".png").c_str());
        }
        for (const QString& fault : faults)
            qWarning("%s", qPrintable(fault.left(200)));
        QVERIFY2(faults.isEmpty(), "texts cut, covered or announced otherwise than shown (above)");
    }

    void busyPopup()
    {
        CPopDlg popup;
        popup.SetMessage("Loading.. Please wait..");
        QImage shot;
        QStringList cut;
        Dialog::SetModalHook([&](Dialog& d) {
            QVERIFY(QTest::qWaitForWindowExposed(&d));
            QVERIFY(QTest::qWaitFor([&] { return popup.GetAnimation()->GetCurrentFrame() >= 3; }, 10000));
            cut = testsupport::CutTexts(&d);
            shot = d.grab().toImage();
            popup.Close(1);
        });
        QCOMPARE(popup.DoModal(), 1);
        Dialog::SetModalHook({});
        QVERIFY(!shot.isNull());
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join("; ")));
        Keep(shot, "busy-popup.png");
        // White popup with a dark border; the animation's dots are drawn and
        // its green never shows.
        QCOMPARE(QColor(shot.pixel(shot.width() - 5, 5)), QColor(Qt::white));
        bool blue = false, green = false;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < 80 && x < shot.width(); ++x) {
                QColor c(shot.pixel(x, y));
                blue |= c.blue() > 150 && c.red() < 120;
                green |= c == QColor(0, 255, 0);
            }
        QVERIFY(blue);
        QVERIFY(!green);
    }
};

QTEST_MAIN(TestScreens)
#include "test_screens.moc"
