// The main window's whole road with the program's own dialogs against the
// device emulator in a private network: the remembered login attaches at
// start-up, the ready disks skip the set-up wizard, the bars follow the
// privilege the device reports, and "Change User" logs another user in. The
// first start of all, with no login memory, goes through the list and the
// login form the way a user does.
#include <QCheckBox>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QtTest>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <typeinfo>

#include "GuiTestSupport.h"
#include "BarCommands.h"
#include "BackupRestorePage.h"
#include "Clock.h"
#include "CommandBars.h"
#include "DiscoverNasDlg.h"
#include "EmulatedNas.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "PopDlg.h"
#include "Profile.h"
#include "QuomDlg.h"
#include "SetupWizardDlg.h"
#include "SnmpHelpers.h"
#include "TestSupport.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
using testsupport::EmulatedNas;

namespace {

const char kMacText[] = "02:00:00:00:07:01";

std::string DeviceConfig()
{
    return std::string("name = NAS-SEVEN\nmac = ") + kMacText +
           "\ndisk1 = 2\ndisk2 = 2\nuser = admin:secret:15\nuser = alice:wonder:1\ncommunity = c0mm\n";
}

void Remember(const std::string& user, const std::string& password) { RememberLogin(kMacText, user, password); }

// The administrator login requests (op 4) the device received, and the
// payload of the last one.
int AdminLogins(EmulatedNas& nas, std::string* lastPayload = nullptr)
{
    const std::string reply = nas.dev->Command("requests");
    const int count = reply.size() > 3 ? std::stoi(reply.substr(3)) : 0;
    int n = 0;
    for (int i = 0; i < count; ++i)
        if (nas.dev->RequestField(i, "op") == "4") {
            ++n;
            if (lastPayload != nullptr)
                *lastPayload = Base64Decode(nas.dev->RequestField(i, "payload"));
        }
    return n;
}

const std::vector<unsigned> kAdminMenu = {40006, 40007, 40030, 57665, 40008, 40021, 40010, 40027, 40012, 57664};
const std::vector<unsigned> kAdminTools = {40006, 40007, 40010, 40008, 40021, 40012, 40030, 40027};
const std::vector<unsigned> kUserTools = {40006, 40010, 40008, 40021, 40030, 40027};

// What the running main window showed.
struct Seen {
    bool ran = false;
    QString title;
    std::vector<unsigned> menu;
    std::vector<unsigned> tools;
    std::string level;
};

// Runs the main window; script runs once it is up, then Exit ends it. The
// start-up discovery dialog is left to attach by itself (cancelled if it has
// not within 15 s); any other dialog is handled by dialogScript (or
// cancelled), so nothing waits for a click.
int RunMainWindow(CQuomDlg& dlg, const std::function<void(CQuomDlg&)>& script,
                  const std::function<void(Dialog&)>& dialogScript = {}, bool leaveStartUp = true)
{
    bool startUp = leaveStartUp;
    Dialog::SetModalHook([&](Dialog& d) {
        if (dynamic_cast<CPopDlg*>(&d) != nullptr)
            return;
        if (startUp && dynamic_cast<CDiscoverNasDlg*>(&d) != nullptr) {
            startUp = false;
            QTimer::singleShot(15000, &d, [&d] {
                if (d.IsInModalRun())
                    d.EndDialog(IDCANCEL);
            });
            return;
        }
        startUp = false;
        if (dialogScript)
            dialogScript(d);
        else
            d.EndDialog(IDCANCEL);
    });
    int code = RunWhenUp(
        dlg,
        [&] {
            startUp = false;
            script(dlg);
        },
        ID_APP_EXIT);
    Dialog::SetModalHook({});
    return code;
}

Seen Look(CQuomDlg& dlg)
{
    Seen s;
    s.ran = dlg.isVisible();
    s.title = dlg.windowTitle();
    s.menu = MenuCommands(dlg.GetCommandBars() ? dlg.GetCommandBars()->GetMenuBar() : nullptr);
    s.tools = ToolCommands(dlg.GetToolBar());
    s.level = GetNasContext()->m_userLevel;
    return s;
}

} // namespace

class TestLoginRoad : public QObject {
    Q_OBJECT
    testsupport::TempDir m_dir;
    // Device waits and time-outs run 8 times faster: a scan takes 375 ms.
    platform::FastClock m_clock{8};
    std::unique_ptr<platform::ScopedClock> m_scopedClock;

private slots:
    void initTestCase()
    {
        GetNasContext()->SetIniPath((m_dir / "quom.ini").string());
        m_scopedClock = std::make_unique<platform::ScopedClock>(m_clock);
    }
    void cleanupTestCase() { m_scopedClock.reset(); }
    void init()
    {
        std::filesystem::remove(GetNasContext()->IniPath());
        GetNasContext()->Reset();
    }

    void firstStartWithoutMemoryThenARestartWithoutAClick()
    {
        const std::string ini = GetNasContext()->IniPath();
        QVERIFY(!std::filesystem::exists(ini));
        EmulatedNas nas(DeviceConfig());
        QVERIFY(nas.Started());
        MessageBoxRecorder boxes;

        // What the start-up dialog showed while the user worked it.
        struct Form {
            int listMode = 0, rows = 0, loginMode = 0;
            std::string rowText;
            bool attachBefore = true, attachAfter = false, userEmpty = false, rememberBefore = true;
            bool loginEnabled = false, closedItself = false;
        } form;
        std::vector<std::string> dialogs;
        CQuomDlg first;
        Seen seen;
        const int code = RunMainWindow(
            first, [&](CQuomDlg& d) { seen = Look(d); },
            [&](Dialog& d) {
                auto* login = dynamic_cast<CDiscoverNasDlg*>(&d);
                dialogs.push_back(login ? "discovery" : typeid(d).name());
                if (login == nullptr || dialogs.size() > 1) {
                    d.EndDialog(IDCANCEL);
                    return;
                }
                auto* list = qobject_cast<ListCtrl*>(login->GetDlgItem(CDiscoverNasDlg::IDC_DEVICE_LIST));
                auto* ok = qobject_cast<QPushButton*>(login->GetDlgItem(1));
                auto* user = qobject_cast<QLineEdit*>(login->GetDlgItem(CDiscoverNasDlg::IDC_USER));
                auto* password = qobject_cast<QLineEdit*>(login->GetDlgItem(CDiscoverNasDlg::IDC_PASSWORD));
                auto* remember = qobject_cast<QCheckBox*>(login->GetDlgItem(CDiscoverNasDlg::IDC_REMEMBER));
                if (list && ok && user && password && remember && login->GetRowCount() == 1) {
                    form.listMode = login->GetMode();
                    form.rows = login->GetRowCount();
                    form.rowText = list->GetItemText(0, 0);
                    form.attachBefore = ok->isEnabled();
                    const QPoint row = list->IconView()->visualRect(list->ModelIndex(0, 0)).center();
                    QTest::mouseClick(list->IconView()->viewport(), Qt::LeftButton, {}, row);
                    form.attachAfter = ok->isEnabled();
                    QTest::mouseClick(ok, Qt::LeftButton);
                    form.loginMode = login->GetMode();
                    form.userEmpty = user->text().isEmpty();
                    form.rememberBefore = remember->isChecked();
                    QTest::keyClicks(user, "admin");
                    QTest::keyClicks(password, "secret");
                    form.loginEnabled = ok->isEnabled();
                    QTest::mouseClick(remember, Qt::LeftButton);
                    QTest::mouseClick(ok, Qt::LeftButton);
                }
                form.closedItself = !d.isVisible();
                if (d.isVisible())
                    d.EndDialog(IDCANCEL);
            },
            false);
        QCOMPARE(code, int(IDCANCEL));

        // The list found the device and the user logged in through the form.
        QCOMPARE(dialogs, std::vector<std::string>{"discovery"});
        QCOMPARE(form.listMode, 1);
        QCOMPARE(form.rows, 1);
        QCOMPARE(form.rowText, std::string("NAS-SEVEN\n198.18.1.10"));
        QVERIFY(!form.attachBefore);
        QVERIFY(form.attachAfter);
        QCOMPARE(form.loginMode, 2);
        QVERIFY(form.userEmpty);
        QVERIFY(!form.rememberBefore);
        QVERIFY(form.loginEnabled);
        QVERIFY(form.closedItself);
        std::string payload;
        QCOMPARE(AdminLogins(nas, &payload), 1);
        QCOMPARE(payload, std::string("198.18.1.1\nsecret"));

        // Ready disks: the wizard never showed, the administrator's window did.
        QVERIFY(seen.ran);
        QCOMPARE(seen.title, QString("NAS-SEVEN-198.18.1.10 User:admin"));
        QCOMPARE(seen.level, std::string("15"));
        QCOMPARE(seen.menu, kAdminMenu);
        QCOMPARE(seen.tools, kAdminTools);
        QCOMPARE(boxes.Count(), size_t(0));

        // The login memory: the last login and the Base64 password, in a
        // file only its owner reads.
        QCOMPARE(IniValue("last_login", "mac"), std::string(kMacText));
        QCOMPARE(IniValue(kMacText, "user"), std::string("admin"));
        QCOMPARE(IniValue(kMacText, "password"), Base64Encode(std::string("secret")));
        struct stat st {};
        QCOMPARE(::stat(ini.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 077, mode_t(0));

        // The next start of the program: the remembered login attaches
        // without any dialog waiting for a click.
        GetNasContext()->Reset();
        dialogs.clear();
        CQuomDlg second;
        Seen again;
        QCOMPARE(RunMainWindow(
                     second, [&](CQuomDlg& d) { again = Look(d); },
                     [&](Dialog& d) {
                         dialogs.push_back(dynamic_cast<CDiscoverNasDlg*>(&d) ? "discovery" : typeid(d).name());
                         d.EndDialog(IDCANCEL);
                     },
                     false),
                 int(IDCANCEL));
        QCOMPARE(dialogs, std::vector<std::string>{});
        QVERIFY(again.ran);
        QCOMPARE(again.title, QString("NAS-SEVEN-198.18.1.10 User:admin"));
        QCOMPARE(again.menu, kAdminMenu);
        QCOMPARE(again.tools, kAdminTools);
        QCOMPARE(AdminLogins(nas, &payload), 2);
        QCOMPARE(payload, std::string("198.18.1.1\nsecret"));
        QCOMPARE(boxes.Count(), size_t(0));
        // The automatic login keeps the password remembered.
        QCOMPARE(IniValue(kMacText, "password"), Base64Encode(std::string("secret")));
    }

    void rememberedAdministratorOpensTheFullWindow()
    {
        EmulatedNas nas(DeviceConfig());
        QVERIFY(nas.Started());
        Remember("admin", "secret");
        MessageBoxRecorder boxes;
        CQuomDlg dlg;
        Seen seen;
        // A run's outcome posted by the backup page becomes a System Log row.
        bool backupPage = false;
        std::vector<std::string> logRow;
        QCOMPARE(RunMainWindow(dlg,
                               [&](CQuomDlg& d) {
                                   seen = Look(d);
                                   auto* page = dynamic_cast<CBackupRestorePage*>(d.GetPage(ID_VIEW_BACKUP_RESTORE));
                                   backupPage = page != nullptr;
                                   if (!page)
                                       return;
                                   page->PostTaskResult(LOG_RESTORE, "T : restore processing Finish!!", "/r.txt");
                                   QCoreApplication::processEvents();
                                   ListCtrl* log = d.GetPage(ID_VIEW_SYSTEM_LOG)->GetListCtrl();
                                   for (int col = 0; log->GetItemCount() == 1 && col < 5; ++col)
                                       logRow.push_back(col == 1 ? "" : log->GetItemText(0, col));
                               }),
                 int(IDCANCEL));
        QVERIFY(backupPage);
        QCOMPARE(logRow, (std::vector<std::string>{"1", "", "Restore", "T : restore processing Finish!!", "/r.txt"}));
        QVERIFY(seen.ran);
        QCOMPARE(seen.title, QString("NAS-SEVEN-198.18.1.10 User:admin"));
        QCOMPARE(seen.level, std::string("15"));
        QCOMPARE(seen.tools, kAdminTools);
        QCOMPARE(boxes.Count(), size_t(0));
    }

    void rememberedPlainUserGetsTheUsersBars()
    {
        EmulatedNas nas(DeviceConfig());
        QVERIFY(nas.Started());
        Remember("alice", "wonder");
        MessageBoxRecorder boxes;
        CQuomDlg dlg;
        Seen seen;
        QCOMPARE(RunMainWindow(dlg, [&](CQuomDlg& d) { seen = Look(d); }), int(IDCANCEL));
        QCOMPARE(seen.title, QString("NAS-SEVEN-198.18.1.10 User:alice"));
        QCOMPARE(seen.level, std::string("1"));
        QCOMPARE(seen.tools, kUserTools);
        QCOMPARE(boxes.Count(), size_t(0));
    }

    void nothingRememberedAndTheListCancelledEndsTheProgram()
    {
        EmulatedNas nas(DeviceConfig());
        QVERIFY(nas.Started());
        CQuomDlg dlg;
        int dialogs = 0;
        bool scriptRan = false;
        int code = RunMainWindow(
            dlg, [&](CQuomDlg&) { scriptRan = true; },
            [&](Dialog& d) {
                ++dialogs;
                QVERIFY(dynamic_cast<CDiscoverNasDlg*>(&d) != nullptr);
                d.EndDialog(IDCANCEL);
            },
            false);
        QCOMPARE(code, int(IDCANCEL));
        QCOMPARE(dialogs, 1);
        QVERIFY(!scriptRan || !dlg.isVisible());
        QVERIFY(dlg.GetCommandBars() == nullptr);
    }

    void changeUserSwitchesToThePlainUsersBars()
    {
        EmulatedNas nas(DeviceConfig());
        QVERIFY(nas.Started());
        Remember("admin", "secret");
        MessageBoxRecorder boxes;
        CQuomDlg dlg;
        Seen before, after;
        int loginForms = 0;
        RunMainWindow(
            dlg,
            [&](CQuomDlg& d) {
                before = Look(d);
                d.OnCommand(ID_CHANGE_USER);
                after = Look(d);
            },
            [&](Dialog& d) {
                auto* login = dynamic_cast<CDiscoverNasDlg*>(&d);
                if (login == nullptr) {
                    d.EndDialog(IDCANCEL);
                    return;
                }
                ++loginForms;
                auto* user = qobject_cast<QLineEdit*>(login->GetDlgItem(CDiscoverNasDlg::IDC_USER));
                auto* password = qobject_cast<QLineEdit*>(login->GetDlgItem(CDiscoverNasDlg::IDC_PASSWORD));
                auto* ok = qobject_cast<QPushButton*>(login->GetDlgItem(1));
                if (user == nullptr || password == nullptr || ok == nullptr) {
                    d.EndDialog(IDCANCEL);
                    return;
                }
                user->setText("alice");
                password->setText("wonder");
                QTest::mouseClick(ok, Qt::LeftButton);
            });
        QCOMPARE(loginForms, 1);
        QCOMPARE(before.tools, kAdminTools);
        QCOMPARE(after.title, QString("NAS-SEVEN-198.18.1.10 User:alice"));
        QCOMPARE(after.level, std::string("1"));
        QCOMPARE(after.tools, kUserTools);
        QCOMPARE(boxes.Count(), size_t(0));
    }
};

QTEST_MAIN(TestLoginRoad)
#include "test_login_road.moc"
