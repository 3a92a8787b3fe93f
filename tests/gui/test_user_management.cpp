// The user and group dialogs against the emulated device: every interactive
// control is named for assistive technology in each face, a user and a
// group are added through the dialogs (the "Group" and "User" tabs swap
// between them), Enter does nothing in the list face, and a quota the
// device does not take keeps the edit face.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include "ListBox.h"
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "AccessibleWalk.h"
#include "Dialog.h"
#include "EmulatedNas.h"
#include "GroupManagement.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "TestNetwork.h"
#include "UserManagement.h"
#include "stdafx.h"
#include "TestClock.h"

// SNMP helpers' pauses between tries pass at once.
static std::unique_ptr<testsupport::InstantPauses> g_instantPauses;

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
using testsupport::EmulatedNas;

namespace {

template <class T> T* Item(CUserManagement& d, int id) { return qobject_cast<T*>(d.GetDlgItem(id)); }
template <class T> T* Item(CGroupManagement& d, int id) { return qobject_cast<T*>(d.GetDlgItem(id)); }

// Selects an entry as an assistive tool does: its Toggle, which leaves the
// current item where it was.
void Pick(platform::gui::ListBox* box, const QString& text)
{
    // Without an active tool (offscreen) the view does not tell its interface
    // of changed rows: ask a fresh one.
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(QAccessible::queryAccessibleInterface(box)));
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(box);
    for (int i = 0; i < list->childCount(); ++i)
        if (list->child(i)->text(QAccessible::Name) == text) {
            list->child(i)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
            QVERIFY(box->IsSelected(box->FindStringExact(text)));
            return;
        }
    QFAIL(qPrintable(text));
}

} // namespace

class TestUserManagement : public QObject {
    Q_OBJECT
    std::unique_ptr<EmulatedNas> m_nas;

    std::string Cell(const char* column, const std::string& row)
    {
        std::string reply = m_nas->dev->Command("mib get " + NasCell(column, row));
        return reply.rfind("OK ", 0) == 0 ? reply.substr(5) : "<none>";
    }

    // Runs the user dialog; user runs when it shows, group whenever the
    // group dialog shows. Other dialogs (the busy popup) are left alone.
    // Returns the run's code: IDOK when the user dialog's own loop ended it.
    int Run(const std::function<void(CUserManagement&)>& user, const std::function<void(CGroupManagement&)>& group = {})
    {
        CUserManagement dlg;
        Dialog::SetModalHook([&](Dialog& shown) {
            if (&shown == &dlg) {
                user(dlg);
                QTimer::singleShot(0, &dlg, [&dlg] {
                    if (dlg.isVisible())
                        dlg.EndDialog(IDOK);
                });
            } else if (auto* g = dynamic_cast<CGroupManagement*>(&shown)) {
                if (group)
                    group(*g);
                if (g->isVisible())
                    g->EndDialog(IDOK);
            }
        });
        const int code = dlg.DoModal();
        Dialog::SetModalHook({});
        return code;
    }

private slots:
    void initTestCase()
    {
        InstallMessageBoxHandler();
        g_instantPauses = std::make_unique<testsupport::InstantPauses>();
    }
    void init()
    {
        m_nas = std::make_unique<EmulatedNas>("community = c0mm\nuser = admin:secret:15\nuser = ann:pw:1:staff,\n"
                                              "group = 1:staff:ann\nquota = none\n"
                                              "disk1_size = 1000:0:3\ndisk2_size = 2000:0:3\n");
        QVERIFY(m_nas->Started());
        m_nas->LogInContext("admin", "secret");
    }
    void cleanup()
    {
        Dialog::SetModalHook({});
        m_nas.reset();
    }
    void cleanupTestCase() { g_instantPauses.reset(); }

    // Each face names its controls by what they show, and the option
    // buttons work through the accessibility interface as by a click.
    void everyControlIsNamedAsShown()
    {
        MessageBoxRecorder boxes;
        QStringList faults;
        auto walk = [&](QWidget* d) {
            faults << testsupport::AccessibilityFaults(d) << testsupport::NamesNotMatchingText(d);
        };
        auto toggle = [](QWidget* w) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
            QVERIFY(iface != nullptr && iface->actionInterface() != nullptr);
            iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        };
        bool quotaShown = false, groupsShown = false, groupQuotaShown = false;
        Run(
            [&](CUserManagement& d) {
                walk(&d);
                d.OnAdd();
                toggle(d.GetDlgItem(CUserManagement::IDC_QUOTA_ENABLE));
                toggle(d.GetDlgItem(CUserManagement::IDC_GROUP_ENABLE));
                quotaShown = d.GetDlgItem(CUserManagement::IDC_DISK1_QUOTA)->isVisible();
                groupsShown = d.GetDlgItem(CUserManagement::IDC_ALL_GROUPS)->isVisible();
                walk(&d);
                d.OnCancelEdit();
                d.OnGroupButton();
            },
            [&](CGroupManagement& g) {
                walk(&g);
                g.OnAdd();
                toggle(g.GetDlgItem(CGroupManagement::IDC_QUOTA_ENABLE));
                groupQuotaShown = g.GetDlgItem(CGroupManagement::IDC_DISK1_QUOTA)->isVisible();
                walk(&g);
                g.OnClose();
            });
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(", ")));
        QVERIFY(quotaShown && groupsShown && groupQuotaShown);
        QCOMPARE(boxes.Count(), size_t(0));
    }

    void addUserAndGroupThroughTheDialogs()
    {
        MessageBoxRecorder boxes;
        bool backToUsers = false, userFaceShown = true;
        int groupRows = -1;
        const int code = Run(
            [&](CUserManagement& d) {
                QCOMPARE(d.GetUserList()->GetItemCount(), 2);
                QCOMPARE(d.GetUserList()->GetItemText(1, 4), std::string("staff,"));
                // Enter in the list face does nothing.
                QTest::keyClick(&d, Qt::Key_Return);
                QVERIFY(d.isVisible());
                QVERIFY(!d.GetDlgItem(CUserManagement::IDC_SAVE)->isVisible());

                // Editing: the stored password in both fields; typing empties
                // the confirmation once.
                d.GetUserList()->SetItemSelected(1, true);
                d.OnEdit();
                auto* password = Item<QLineEdit>(d, CUserManagement::IDC_PASSWORD);
                auto* confirm = Item<QLineEdit>(d, CUserManagement::IDC_CONFIRM);
                // The focus moves to the first field that takes input.
                QCOMPARE(d.focusWidget(), static_cast<QWidget*>(password));
                QCOMPARE(confirm->text(), QString("pw"));
                QVERIFY(!Item<QComboBox>(d, CUserManagement::IDC_LEVEL)->isEnabled());
                QTest::keyClicks(password, "x");
                QCOMPARE(confirm->text(), QString());
                confirm->setText("pwx");
                QTest::keyClicks(password, "y");
                QCOMPARE(confirm->text(), QString("pwx"));
                QCOMPARE(Item<platform::gui::ListBox>(d, CUserManagement::IDC_MEMBER_GROUPS)->GetCount(), 1);
                d.OnCancelEdit();

                Item<QPushButton>(d, CUserManagement::IDC_ADD)->click();
                QCOMPARE(d.focusWidget(), d.GetDlgItem(CUserManagement::IDC_NAME));
                QCOMPARE(Item<QComboBox>(d, CUserManagement::IDC_LEVEL)->currentText(), QString("User"));
                Item<QLineEdit>(d, CUserManagement::IDC_NAME)->setText("  zed ");
                Item<QLineEdit>(d, CUserManagement::IDC_PASSWORD)->setText("pw%1");
                Item<QLineEdit>(d, CUserManagement::IDC_CONFIRM)->setText("pw%1");
                d.OnGroupEnable();
                Pick(Item<platform::gui::ListBox>(d, CUserManagement::IDC_ALL_GROUPS), "staff");
                d.OnAddGroup();
                Pick(Item<platform::gui::ListBox>(d, CUserManagement::IDC_MEMBER_GROUPS), "staff");
                d.OnRemoveGroup();
                QCOMPARE(Item<QComboBox>(d, CUserManagement::IDC_PRIMARY_GROUP)->count(), 0);
                Pick(Item<platform::gui::ListBox>(d, CUserManagement::IDC_ALL_GROUPS), "staff");
                d.OnAddGroup();
                d.OnQuotaEnable();
                Item<QLineEdit>(d, CUserManagement::IDC_DISK2_QUOTA)->setText("700");
                QTest::keyClick(&d, Qt::Key_Return); // Enter saves in the edit face
                QVERIFY(d.GetDlgItem(CUserManagement::IDC_USER_LIST)->isVisible());
                ListCtrl* list = d.GetUserList();
                QCOMPARE(list->GetItemCount(), 3);
                QCOMPARE(list->GetSelectedItem(), 2);
                QCOMPARE(list->GetItemText(2, 0) + "|" + list->GetItemText(2, 3) + "|" + list->GetItemText(2, 4),
                         std::string("zed|700|staff,"));

                d.OnGroupButton();
                backToUsers = d.isVisible() && Item<QPushButton>(d, CUserManagement::IDC_USER_TAB)->isChecked();
            },
            [&](CGroupManagement& g) {
                // The user face is neither on the screen nor in the accessibility tree.
                QAccessibleInterface* app = QAccessible::queryAccessibleInterface(qApp);
                userFaceShown = false;
                for (int i = 0; i < app->childCount(); ++i)
                    userFaceShown = userFaceShown || qobject_cast<CUserManagement*>(app->child(i)->object());
                for (QWidget* w : QApplication::topLevelWidgets())
                    userFaceShown = userFaceShown || (qobject_cast<CUserManagement*>(w) && w->isVisible());
                Item<QPushButton>(g, CGroupManagement::IDC_ADD)->click();
                QCOMPARE(g.focusWidget(), g.GetDlgItem(CGroupManagement::IDC_NAME));
                Item<QLineEdit>(g, CGroupManagement::IDC_NAME)->setText("crew");
                Pick(Item<platform::gui::ListBox>(g, CGroupManagement::IDC_ALL_USERS), "zed");
                g.OnAddMember();
                Pick(Item<platform::gui::ListBox>(g, CGroupManagement::IDC_ALL_USERS), "ann");
                g.OnAddMember();
                Pick(Item<platform::gui::ListBox>(g, CGroupManagement::IDC_MEMBERS), "ann");
                g.OnRemoveMember();
                QCOMPARE(Item<platform::gui::ListBox>(g, CGroupManagement::IDC_MEMBERS)->GetCount(), 1);
                Pick(Item<platform::gui::ListBox>(g, CGroupManagement::IDC_ALL_USERS), "ann");
                g.OnAddMember();
                g.OnSave();
                groupRows = g.GetGroupList()->GetItemCount();
                g.OnUserButton();
            });
        QVERIFY2(boxes.Count() == 0, boxes.LastText().c_str());
        QVERIFY(backToUsers);
        QVERIFY(!userFaceShown);
        QCOMPARE(code, int(IDOK)); // the user face ran on after coming back
        QCOMPARE(groupRows, 2);
        QCOMPARE(Cell(nasmib::kUserName, "3"), std::string("zed"));
        QCOMPARE(Cell(nasmib::kUserPassword, "3"), std::string("pw%1"));
        QCOMPARE(Cell(nasmib::kUserLevel, "3"), std::string("1"));
        QCOMPARE(Cell(nasmib::kQuotaName, "1") + Cell(nasmib::kQuotaDisk, "1") + Cell(nasmib::kQuotaSize, "1"),
                 std::string("zed2700"));
        QCOMPARE(Cell(nasmib::kGroupName, "2") + ":" + Cell(nasmib::kGroupUserList, "2"), std::string("crew:zed,ann"));
    }

    // A quota the device does not take keeps the edit face with the quota
    // fields, now editing the account that was saved; Save tries again.
    void aFailedQuotaKeepsTheEditFace()
    {
        MessageBoxRecorder boxes;
        QStringList faults;
        // Saves the edit face through its button with the device's quota
        // form failing, then again with it working.
        auto saveTwice = [&](QWidget& d, QPushButton* save, QLineEdit* name, QLineEdit* quota) {
            QCOMPARE(m_nas->dev->Command("web fault noapply QuotaManagement"), std::string("OK"));
            save->click();
            if (boxes.LastText() != "Quota setting of Disk1 failed!" || !save->isVisible() || save->text() != "Save" ||
                name->isEnabled() || !quota->isVisible() || quota->text() != "50")
                faults << name->text() + ": " + QString::fromStdString(boxes.LastText());
            QCOMPARE(m_nas->dev->Command("web fault none"), std::string("OK"));
            save->click();
            if (save->isVisible() || !d.isVisible())
                faults << name->text() + ": still editing";
        };
        Run(
            [&](CUserManagement& d) {
                Item<QPushButton>(d, CUserManagement::IDC_ADD)->click();
                Item<QLineEdit>(d, CUserManagement::IDC_NAME)->setText("quin");
                Item<QLineEdit>(d, CUserManagement::IDC_PASSWORD)->setText("pw");
                Item<QLineEdit>(d, CUserManagement::IDC_CONFIRM)->setText("pw");
                Item<QRadioButton>(d, CUserManagement::IDC_QUOTA_ENABLE)->click();
                Item<QLineEdit>(d, CUserManagement::IDC_DISK1_QUOTA)->setText("50");
                saveTwice(d, Item<QPushButton>(d, CUserManagement::IDC_SAVE),
                          Item<QLineEdit>(d, CUserManagement::IDC_NAME),
                          Item<QLineEdit>(d, CUserManagement::IDC_DISK1_QUOTA));
                d.OnGroupButton();
            },
            [&](CGroupManagement& g) {
                Item<QPushButton>(g, CGroupManagement::IDC_ADD)->click();
                Item<QLineEdit>(g, CGroupManagement::IDC_NAME)->setText("team");
                Item<QRadioButton>(g, CGroupManagement::IDC_QUOTA_ENABLE)->click();
                Item<QLineEdit>(g, CGroupManagement::IDC_DISK1_QUOTA)->setText("50");
                saveTwice(g, Item<QPushButton>(g, CGroupManagement::IDC_SAVE),
                          Item<QLineEdit>(g, CGroupManagement::IDC_NAME),
                          Item<QLineEdit>(g, CGroupManagement::IDC_DISK1_QUOTA));
                g.OnClose();
            });
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(", ")));
        QCOMPARE(Cell(nasmib::kUserName, "3") + Cell(nasmib::kGroupName, "2"), std::string("quinteam"));
        QCOMPARE(Cell(nasmib::kQuotaName, "1") + Cell(nasmib::kQuotaSize, "1") + Cell(nasmib::kQuotaName, "2") +
                     Cell(nasmib::kQuotaSize, "2"),
                 std::string("quin50team50"));
    }
};

QTEST_MAIN(TestUserManagement)
#include "test_user_management.moc"
