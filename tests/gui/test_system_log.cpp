// The System Log page: the detail link and menu follow the selected row's
// result file, clearing asks first, and saving writes one CRLF line per row.
#include <QDir>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/resource.h>

#include "AccessibleWalk.h"
#include "GuiTestSupport.h"
#include "CommandBars.h"
#include "FileDialogs.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "QUOMLOG_PAGE.h"
#include "ShellOpen.h"
#include "TaskPanel.h"

using namespace platform::gui;

namespace {

void AddRow(CQUOMLOG_PAGE& page, const std::string& time, const std::string& text, const std::string& path)
{
    ListCtrl* list = page.GetListCtrl();
    const int n = list->GetItemCount();
    list->InsertItem(n, "");
    list->SetItemText(n, 0, std::to_string(n + 1));
    list->SetItemText(n, 1, time);
    list->SetItemText(n, 2, "Backup");
    list->SetItemText(n, 3, text);
    list->SetItemText(n, 4, path);
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace

class TestSystemLog : public QObject {
    Q_OBJECT
private slots:
    void detailFollowsTheSelectedRowsFile()
    {
        QWidget host;
        CQUOMLOG_PAGE page;
        page.CreatePage(QRect(0, 0, 800, 500), &host);
        QCOMPARE(page.GetTitle(), std::string("Log list"));
        QCOMPARE(page.GetListCtrl()->GetColumnCount(), 5);
        QVERIFY(page.GetListCtrl()->GetColumnWidth(4) >=
                page.GetListCtrl()->ReportView()->header()->sectionSizeHint(4));
        QTemporaryDir dir;
        const std::string result = (dir.path() + "/result a.txt").toStdString();
        std::ofstream(result) << "done\n";
        AddRow(page, " 10:00:00,  12/09/26", "Task a added", "");
        AddRow(page, " 10:05:00,  12/09/26", "Backup a Finish!!", result);

        std::vector<std::string> opened;
        bool opens = true;
        platform::SetShellOpenFunction([&](const std::string& t) {
            opened.push_back(t);
            return opens;
        });
        PopupMenuRecorder menus;
        MessageBoxRecorder boxes;

        // A row without a file: no link, no menu item, double click does nothing.
        page.GetListCtrl()->SetItemSelected(0, true);
        page.OnListClick(0);
        QCOMPARE(TaskLinks(page, CQUOMLOG_PAGE::IDS_LOG_MANAGE), (std::vector<unsigned>{731, 733}));
        page.OnListDblClk(0);
        page.OnListRClick(0);
        QCOMPARE(PopupMenuRecorder::CommandIds(menus.Menus().back()), (std::vector<unsigned>{40029}));

        // A row with one: the link comes last, the menu offers it first.
        page.GetListCtrl()->SetItemSelected(1, true);
        page.OnListItemSelected(1);
        QCOMPARE(TaskLinks(page, CQUOMLOG_PAGE::IDS_LOG_MANAGE), (std::vector<unsigned>{731, 733, 730}));
        page.OnListRClick(1);
        QCOMPARE(PopupMenuRecorder::CommandIds(menus.Menus().back()), (std::vector<unsigned>{40028, 40029}));
        page.OnTaskPanelLink(730);
        page.OnPageCommand(40028);
        page.OnListDblClk(1);
        // Enter on the selected row is the double click.
        QTest::keyClick(page.GetListCtrl()->ReportView(), Qt::Key_Return);
        QCOMPARE(opened, (std::vector<std::string>(4, result)));
        QCOMPARE(boxes.Count(), size_t(0));

        // A file that cannot be opened, or no program to open it: a box that
        // names the file.
        opens = false;
        page.OnListDblClk(1);
        QTRY_COMPARE(boxes.Count(), size_t(1));
        std::filesystem::remove(result);
        page.OnListDblClk(1);
        QCOMPARE(opened.size(), size_t(5));
        QCOMPARE(boxes.Count(), size_t(2));
        for (const RecordedBox& box : boxes.Boxes())
            QVERIFY2(box.text.find("Could not open the log file " + result + ": ") == 0, box.text.c_str());
        QVERIFY(boxes.LastText().find("No such file") != std::string::npos);

        // Off the rows: clear all only.
        page.OnListRClick(-1);
        QCOMPARE(PopupMenuRecorder::CommandIds(menus.Menus().back()), (std::vector<unsigned>{40029}));
        platform::SetShellOpenFunction({});
    }

    void clearAllAsksFirst()
    {
        QWidget host;
        CQUOMLOG_PAGE page;
        page.CreatePage(QRect(0, 0, 800, 500), &host);
        AddRow(page, "t1", "one", "");
        AddRow(page, "t2", "two", "/x");
        int answer = IDNO;
        MessageBoxRecorder boxes([&](const RecordedBox&) { return answer; });
        page.OnTaskPanelLink(731);
        QCOMPARE(boxes.LastText(), std::string("Do you want to clear all logs ? "));
        QCOMPARE(page.GetListCtrl()->GetItemCount(), 2);
        answer = IDYES;
        page.OnPageCommand(40029);
        QCOMPARE(page.GetListCtrl()->GetItemCount(), 0);
    }

    void saveWritesOneLinePerRow()
    {
        QTemporaryDir dir;
        const std::string base = dir.path().toStdString();
        QWidget host;
        CQUOMLOG_PAGE page;
        page.CreatePage(QRect(0, 0, 800, 500), &host);
        std::string chosen;
        SetSaveFileChooser([&](const std::string& filter) {
            (void)filter;
            return chosen;
        });

        // An empty list still makes an (empty) file; a name without an extension gets ".txt".
        chosen = base + "/empty";
        page.OnTaskPanelLink(733);
        QVERIFY(QFile::exists(QString::fromStdString(base + "/empty.txt")));
        QCOMPARE(ReadAll(base + "/empty.txt"), std::string());

        AddRow(page, " 10:00:00,  12/09/26", "Backup\tdone", "/r.txt");
        AddRow(page, " 10:01:00,  12/09/26", "two\nlines", "");
        chosen = base + "/log.txt";
        page.SaveLogs();
        QCOMPARE(ReadAll(base + "/log.txt"), std::string("Time:  10:00:00,  12/09/26\t Description: Backup\tdone\r\n"
                                                         "Time:  10:01:00,  12/09/26\t Description: two\nlines\r\n"));
        // The extension test is exact.
        chosen = base + "/upper.TXT";
        page.SaveLogs();
        QVERIFY(QFile::exists(QString::fromStdString(base + "/upper.TXT.txt")));
        // A place that cannot be written, a full device and a disk that fills
        // up half-way: a box each time, and no file or part of one is left;
        // a file that was there keeps what it had.
        const std::string saved = ReadAll(base + "/log.txt");
        QFile::link("/dev/full", QString::fromStdString(base + "/full.txt"));
        struct rlimit oldLimit {};
        getrlimit(RLIMIT_FSIZE, &oldLimit);
        const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        auto limit = [&](rlim_t bytes) {
            struct rlimit r = oldLimit;
            r.rlim_cur = bytes;
            setrlimit(RLIMIT_FSIZE, &r);
        };
        const std::vector<std::pair<std::string, rlim_t>> failing = {
            {base + "/no/such/dir/x.txt", oldLimit.rlim_cur},
            {base + "/full.txt", oldLimit.rlim_cur},
            {base + "/log.txt", 20},
            {base + "/new.txt", 20},
        };
        for (const auto& [path, bytes] : failing) {
            // Yes to replacing a file that is there.
            MessageBoxRecorder boxes([](const RecordedBox&) { return IDYES; });
            chosen = path;
            limit(bytes);
            page.SaveLogs();
            limit(oldLimit.rlim_cur);
            QCOMPARE(boxes.Count(), size_t(QFile::exists(QString::fromStdString(path)) ? 2 : 1));
            const std::string reason = path.find("/no/") != std::string::npos ? "No such file or directory"
                                       : path == base + "/full.txt"           ? "No space left on device"
                                                                              : "File too large";
            QCOMPARE(boxes.LastText(), "Save Logs fail!!\nThe file " + path + " could not be written: " + reason);
        }
        std::signal(SIGXFSZ, oldSignal);
        QCOMPARE(ReadAll(base + "/log.txt"), saved);
        QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        left.sort();
        QCOMPARE(left, QStringList({"empty.txt", "full.txt", "log.txt", "upper.TXT.txt"}));
        QCOMPARE(QFile::symLinkTarget(QString::fromStdString(base + "/full.txt")), QString("/dev/full"));
        SetSaveFileChooser({});
        QCOMPARE(WithDefaultExtension("/a/b.c/name", "txt"), std::string("/a/b.c/name.txt"));
        QCOMPARE(WithDefaultExtension("/a/name.txt", ""), std::string("/a/name.txt"));
        QCOMPARE(ConvertFileFilter("Text Files (*.txt)|*.txt|All Files (*.*)|*.*||"),
                 std::string("Text Files (*.txt);;All Files (*.*)"));
    }

    // The question about replacing a file names the file that is written:
    // the name as typed with ".txt" put on it. No offers the dialog again.
    void saveAsksBeforeReplacingTheFileItWrites()
    {
        struct Case {
            const char* name;
            std::vector<std::string> typed; // one name per showing of the dialog
            int answer;
            std::vector<std::string> asked; // the files the questions name
            std::map<std::string, std::string> after;
        };
        const std::string log = "Time: t1\t Description: one\r\n";
        const std::vector<Case> cases = {
            {"No keeps the file", {"thesis", ""}, IDNO, {"thesis.txt"}, {{"thesis.txt", "my thesis"}}},
            {"Yes replaces it", {"thesis"}, IDYES, {"thesis.txt"}, {{"thesis.txt", log}}},
            {"No, then another name",
             {"thesis", "notes"},
             IDNO,
             {"thesis.txt"},
             {{"thesis.txt", "my thesis"}, {"notes.txt", log}}},
            {"a new file", {"fresh"}, IDNO, {}, {{"thesis.txt", "my thesis"}, {"fresh.txt", log}}},
            {"the typed name without .txt is not the file written",
             {"thesis.TXT"},
             IDNO,
             {},
             {{"thesis.TXT", "upper"}, {"thesis.TXT.txt", log}}},
        };
        QWidget host;
        CQUOMLOG_PAGE page;
        page.CreatePage(QRect(0, 0, 800, 500), &host);
        AddRow(page, "t1", "one", "");
        for (const Case& c : cases) {
            QTemporaryDir dir;
            const std::string base = dir.path().toStdString() + "/";
            std::ofstream(base + "thesis.txt") << "my thesis";
            std::ofstream(base + "thesis.TXT") << "upper";
            std::vector<std::string> typed = c.typed;
            SetSaveFileChooser([&](const std::string&) {
                if (typed.empty())
                    return std::string();
                const std::string next = typed.front().empty() ? std::string() : base + typed.front();
                typed.erase(typed.begin());
                return next;
            });
            MessageBoxRecorder boxes([&](const RecordedBox&) { return c.answer; });
            QVERIFY(testsupport::DoAccessibleAction(page.GetTaskPanel(), "Save Logs",
                                                    QAccessibleActionInterface::pressAction()));
            // The link's press arrives through the event loop.
            QVERIFY2(WaitFor([&] { return typed.empty(); }, 10000), c.name);
            SetSaveFileChooser({});
            std::vector<std::string> asked;
            for (const RecordedBox& box : boxes.Boxes()) {
                QCOMPARE(box.style, unsigned(platform::MB_YESNO | platform::MB_ICONWARNING));
                asked.push_back(box.text);
            }
            std::vector<std::string> expected;
            for (const std::string& file : c.asked)
                expected.push_back(base + file + " already exists.\nDo you want to replace it?");
            QCOMPARE(asked, expected);
            // Nothing else is left in the folder.
            size_t made = 2;
            for (const auto& [file, text] : c.after) {
                QVERIFY2(ReadAll(base + file) == text, (std::string(c.name) + ": " + file).c_str());
                made += file != "thesis.txt" && file != "thesis.TXT" ? 1 : 0;
            }
            QCOMPARE(size_t(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size()), made);
        }
    }
};

QTEST_MAIN(TestSystemLog)
#include "test_system_log.moc"
