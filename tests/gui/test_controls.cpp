// Report rows with check boxes, the list controls, the folder chooser and the
// bitmap button.
#include <QProgressBar>
#include <QTreeView>
#include <QtTest>
#include <QApplication>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QFileDialog>
#include <filesystem>

#include "BitmapButton.h"
#include "FolderDlg.h"
#include "ListCtrl.h"
#include "MessageRecord.h"
#include "ProgressListCtrl.h"
#include "ReportControl.h"
#include "TestSupport.h"

using namespace platform::gui;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(const ReportControl& report)
{
    std::vector<std::string> names;
    for (int row = 0; row < report.topLevelItemCount(); ++row)
        names.push_back(report.RecordOfRow(row)->GetItem(0)->GetCaption());
    return names;
}

int BarCount(const CProgressListCtrl& list) { return static_cast<int>(list.findChildren<QProgressBar*>().size()); }

} // namespace

class TestControls : public QObject {
    Q_OBJECT
private slots:
    void reportRowsSortUncheckedFirstAndKeepOrder()
    {
        ReportControl report;
        report.AddColumn("Name", 150);
        report.AddColumn("Allow", 60);
        const std::vector<std::pair<std::string, bool>> rows = {
            {"admin", true}, {"bob", false}, {"@staff", true}, {"carol", false}, {"dave", false}};
        for (const auto& [name, checked] : rows)
            report.AddRecord(new CMessageRecord(name, checked));
        report.Populate();
        QCOMPARE(Names(report), (std::vector<std::string>{"admin", "bob", "@staff", "carol", "dave"}));
        report.SortBy(1, true);
        report.Populate();
        QCOMPARE(Names(report), (std::vector<std::string>{"bob", "carol", "dave", "admin", "@staff"}));
        report.SortBy(1, false);
        report.Populate();
        QCOMPARE(Names(report), (std::vector<std::string>{"admin", "@staff", "bob", "carol", "dave"}));

        auto* item = dynamic_cast<CMessageRecordItemCheck*>(report.RecordOfRow(0)->GetItem(1));
        QVERIFY(item != nullptr);
        QVERIFY(item->GetHasCheckbox());
        QVERIFY(item->IsChecked());
        QCOMPARE(item->GetGroupCaptionID(), 2004u);
        QCOMPARE(report.topLevelItem(0)->checkState(1), Qt::Checked);
        // Ticking the box in the control reaches the row's item.
        report.topLevelItem(0)->setCheckState(1, Qt::Unchecked);
        QVERIFY(!item->IsChecked());
        QCOMPARE(item->GetGroupCaptionID(), 2005u);
        report.topLevelItem(2)->setCheckState(1, Qt::Checked);
        QVERIFY(report.RecordOfRow(2)->GetItem(1)->IsChecked());
        QCOMPARE(report.RecordOfRow(2)->GetItem(0)->GetCaption(), std::string("bob"));
    }

    void progressBarsFollowTheirRows()
    {
        CProgressListCtrl list;
        list.resize(400, 200);
        list.InsertColumn(0, "Name", Qt::AlignLeft, 100);
        list.InsertColumn(1, "File System", Qt::AlignLeft, 100);
        list.InsertColumn(2, "Used", Qt::AlignLeft, 100);
        list.InsertItem(0, "Disk1");
        list.InsertItem(1, "Disk2");
        list.show();

        // Rows outside the list are ignored, negative ones too.
        list.SetItemProgress(2, 1, 50);
        list.SetItemProgress(-1, 1, 50);
        list.SetProgress(-3, 10);
        list.SetProgress(7, 10);
        QCOMPARE(BarCount(list), 0);

        list.SetItemProgress(1, 1, 30);
        QCOMPARE(BarCount(list), 1);
        QProgressBar* bar = list.GetProgressBar(1);
        QVERIFY(bar != nullptr);
        QCOMPARE(bar->value(), 30);
        QCOMPARE(bar->geometry(), list.ReportView()->visualRect(list.ModelIndex(1, 1)));
        // Another column moves the one bar.
        list.SetItemProgress(1, 2, 60);
        QCOMPARE(BarCount(list), 1);
        QCOMPARE(list.GetProgressBar(1), bar);
        QCOMPARE(list.GetProgressColumn(1), 2);
        QCOMPARE(bar->geometry(), list.ReportView()->visualRect(list.ModelIndex(1, 2)));
        list.SetProgress(1, 75);
        QCOMPARE(bar->value(), 75);
        list.SetProgress(0, 75); // no bar: nothing
        QVERIFY(list.GetProgressBar(0) == nullptr);

        // Deleting the row above moves the bar's row; deleting its row removes it.
        list.InsertItem(0, "USB1");
        QCOMPARE(list.GetProgressBar(2), bar);
        QVERIFY(list.DeleteItem(2));
        QCOMPARE(BarCount(list), 0);
        QCOMPARE(list.GetItemCount(), 2);
        QVERIFY(!list.DeleteItem(5));

        list.SetItemProgress(0, 1, 10);
        list.SetItemProgress(1, 1, 20);
        QCOMPARE(BarCount(list), 2);
        list.DeleteAllItems();
        QCOMPARE(BarCount(list), 0);
    }

    void listRowsAndSelection()
    {
        ListCtrl list;
        list.InsertColumn(0, " No.", Qt::AlignLeft, 80);
        list.InsertColumn(1, " Time", Qt::AlignLeft, 170);
        QCOMPARE(list.InsertItem(-1, "x"), -1);
        QCOMPARE(list.InsertItem(10, "a"), 0); // past the end: appended
        QCOMPARE(list.InsertItem(1, "c"), 1);
        QCOMPARE(list.InsertItem(1, "b"), 1);
        QVERIFY(list.SetItemText(2, 1, "later"));
        QVERIFY(!list.SetItemText(3, 1, "none"));
        QVERIFY(!list.SetItemText(0, 5, "none"));
        QCOMPARE(list.GetItemText(2, 1), std::string("later"));
        QCOMPARE(list.GetItemText(1, 0), std::string("b"));
        QCOMPARE(list.GetItemText(9, 0), std::string());
        QVERIFY(list.SetItemData(2, 0xBEEF));
        QCOMPARE(list.GetItemData(2), uintptr_t(0xBEEF));

        std::vector<int> selected;
        ListCtrl::Notify notify;
        notify.onItemSelected = [&](int row) { selected.push_back(row); };
        list.SetNotify(notify);
        QVERIFY(list.SetItemSelected(2, true));
        QCOMPARE(selected, std::vector<int>{2});
        QCOMPARE(list.GetSelectedItem(), 2);
        QCOMPARE(list.GetSelectionMark(), 2);
        list.DeleteItem(0);
        QCOMPARE(list.GetSelectionMark(), 1);
        QCOMPARE(list.GetItemData(1), uintptr_t(0xBEEF));
        list.DeleteItem(1);
        QCOMPARE(list.GetSelectionMark(), -1);
        QCOMPARE(list.GetSelectedItem(), -1);
        list.SetView(ListCtrl::Report);
        QCOMPARE(list.GetView(), ListCtrl::Report);
        QCOMPARE(list.GetColumnCount(), 2);
    }

    void folderChooserReturnsOnlyRealFolders()
    {
        testsupport::TempDir dir;
        fs::create_directories(dir / "photos");
        testsupport::WriteFile(dir / "file.txt", "x");
        std::string offer;
        CFolderDialog::Chooser old = CFolderDialog::SetChooser([&](CFolderDialog& d) -> std::optional<std::string> {
            d.OnInitialized();
            if (offer == "cancel")
                return std::nullopt;
            d.OnSelChanged(offer);
            return offer;
        });

        CFolderDialog dialog("Select a folder", nullptr, nullptr, CFolderDialog::BIF_RETURNONLYFSDIRS);
        offer = (dir / "photos/").string();
        QCOMPARE(dialog.DoModal(), 1);
        QCOMPARE(dialog.GetFolderPath(), (dir / "photos").string());
        QCOMPARE(dialog.GetFolderName(), std::string("photos"));
        // Without BIF_STATUSTEXT the status line is never written.
        QCOMPARE(dialog.GetStatusText(), std::string());

        for (std::string bad :
             {std::string("cancel"), (dir / "file.txt").string(), (dir / "missing").string(), std::string()}) {
            offer = bad;
            QCOMPARE(dialog.DoModal(), -1);
            QCOMPARE(dialog.GetFolderPath(), (dir / "photos").string()); // unchanged
        }

        CFolderDialog status("t", dir.path().c_str(), nullptr, CFolderDialog::BIF_STATUSTEXT);
        offer = "cancel";
        QCOMPARE(status.DoModal(), -1);
        QCOMPARE(status.GetStatusText(), dir.path().string()); // the initial folder was selected
        offer = (dir / "photos").string();
        QCOMPARE(status.DoModal(), 1);
        QCOMPARE(status.GetStatusText(), offer);

        QVERIFY(!status.SetInitialFolder(std::string(PATH_MAX, 'a')));
        QCOMPARE(status.GetInitialFolder(), dir.path().string());
        QVERIFY(status.SetInitialFolder(std::string(PATH_MAX - 1, 'a')));
        QCOMPARE(status.GetInitialFolder().size(), size_t(PATH_MAX - 1));
        QCOMPARE(status.OnValidateFailed("bad name"), 1); // the browser stays open
        CFolderDialog::SetChooser(old);
    }

    void folderBrowserValidatesTypedNamesAndShowsTheSelection()
    {
        testsupport::TempDir dir;
        fs::create_directories(dir / "photos");
        // Counts the refusals; the browser stays open after each.
        struct Counting : CFolderDialog {
            using CFolderDialog::CFolderDialog;
            int refused = 0;
            int OnValidateFailed(const std::string& name) override
            {
                ++refused;
                return CFolderDialog::OnValidateFailed(name);
            }
        } dialog("Select a folder", dir.path().c_str(), nullptr,
                 CFolderDialog::BIF_VALIDATE | CFolderDialog::BIF_EDITBOX | CFolderDialog::BIF_STATUSTEXT);
        QString status;
        bool openAfterBadName = false;
        QTimer::singleShot(0, [&] {
            auto* browser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(browser != nullptr);
            if (auto* label = browser->findChild<QLabel*>("statusText"))
                status = label->text();
            auto* name = browser->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name != nullptr);
            name->setText("no such folder");
            QMetaObject::invokeMethod(browser, "accept");
            openAfterBadName = browser->isVisible();
            name->setText("photos");
            QMetaObject::invokeMethod(browser, "accept");
        });
        const std::optional<std::string> chosen = CFolderDialog::Browse(dialog);
        QCOMPARE(status, QString::fromStdString(dir.path().string())); // the selected folder
        QVERIFY(openAfterBadName);
        QCOMPARE(dialog.refused, 1);
        QVERIFY(chosen.has_value());
        QCOMPARE(fs::path(*chosen).lexically_normal(), (dir / "photos").lexically_normal());
    }

    void bitmapButton()
    {
        BitmapButton button;
        QVERIFY(!button.SetBitmap(4242));
        QVERIFY(button.icon().isNull());
        QVERIFY(button.SetBitmap(271));
        QVERIFY(!button.icon().isNull());
        QCOMPARE(button.iconSize(), QSize(32, 32));
    }
};

QTEST_MAIN(TestControls)
#include "test_controls.moc"
