// The discovery, login and network configuration dialog against the device
// emulator in a private network: the list, the login form, the network form,
// remembered logins and the failure messages.
#include <QtTest>

#include "AccessibleWalk.h"
#include "GuiTestSupport.h"
#include "Clock.h"

#include <QApplication>

#include <QCheckBox>
#include <QStandardItemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "DiscoverNasDlg.h"
#include "ListCtrl.h"
#include "MessageBoxes.h"
#include "NasMib.h"
#include "PopDlg.h"
#include "Profile.h"
#include "SnmpHelpers.h"
#include "TestNetwork.h"
#include "stdafx.h"
#include "y_snmp.h"

TOLVANE_PRIVATE_NETWORK();

using namespace platform::gui;
using testsupport::Emulator;
using testsupport::TestNetwork;
namespace fs = std::filesystem;

namespace {

const unsigned char kMac[6] = {0x02, 0x00, 0x00, 0x00, 0x07, 0x01};
const char kMacText[] = "02:00:00:00:07:01";
constexpr int kScriptEnded = 1000;

const char* const kText715 = "Could not receive the response form NAS.";
const char* const kText716 = "Password is incorrect.";
const char* const kText717 =
    "Could not obtain a valid IP address for NAS, please check DHCP service is working correctly on LAN.";

std::string DeviceConfig(const std::string& more = "")
{
    return std::string("name = NAS-SEVEN\nmac = ") + kMacText +
           "\ndisk1 = 2\ndisk2 = 0\nuser = admin:secret:15\nuser = alice:wonder:1\ncommunity = c0mm\n" + more;
}

// One device on the PC's LAN (or in another subnet of it).
struct Rig {
    explicit Rig(const std::string& deviceCidr = "198.18.1.10/24", const std::string& more = "",
                 const std::string& firmware = "2.00.00")
    {
        lan = net.AddLink({"198.18.1.1/24"});
        host = net.AddHost(lan, deviceCidr);
        // The device's own SNMP agent (UDP 161) answers the firmware check.
        dev = net.StartEmulator(host, DeviceConfig("firmware = " + firmware + "\n" + more));
        if (dev == nullptr)
            qFatal("emulator did not start");
    }
    void SetFirmware(const std::string& version)
    {
        if (dev->Command("set firmware " + version) != "OK")
            qFatal("cannot set the firmware version");
    }
    // Number of UDP requests of an opcode the device received.
    int Requests(int op)
    {
        const std::string reply = dev->Command("requests");
        int count = reply.size() > 3 ? std::stoi(reply.substr(3)) : 0;
        int n = 0;
        for (int i = 0; i < count; ++i)
            if (dev->RequestField(i, "op") == std::to_string(op))
                ++n;
        return n;
    }

    TestNetwork net;
    int lan = 0;
    int host = 0;
    Emulator* dev = nullptr;
};

template <typename T> T* Item(CDiscoverNasDlg& dlg, int id)
{
    T* w = qobject_cast<T*>(dlg.GetDlgItem(id));
    if (w == nullptr)
        qFatal("control %d missing", id);
    return w;
}

QPushButton* Ok(CDiscoverNasDlg& dlg) { return Item<QPushButton>(dlg, 1); }

QLineEdit* Edit(CDiscoverNasDlg& dlg, int id) { return Item<QLineEdit>(dlg, id); }

QPoint RowPoint(CDiscoverNasDlg& dlg, int row)
{
    auto* list = Item<ListCtrl>(dlg, CDiscoverNasDlg::IDC_DEVICE_LIST);
    return list->IconView()->visualRect(list->ModelIndex(row, 0)).center();
}

void ClickRow(CDiscoverNasDlg& dlg, int row)
{
    auto* list = Item<ListCtrl>(dlg, CDiscoverNasDlg::IDC_DEVICE_LIST);
    QTest::mouseClick(list->IconView()->viewport(), Qt::LeftButton, {}, RowPoint(dlg, row));
}

void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

// The first device chosen and OK pressed: the login form.
void OpenFirst(CDiscoverNasDlg& dlg)
{
    ClickRow(dlg, 0);
    Click(Ok(dlg));
}

// The login form filled in and OK pressed.
void SignIn(CDiscoverNasDlg& dlg, const QString& user, const QString& password)
{
    Edit(dlg, CDiscoverNasDlg::IDC_USER)->setText(user);
    Edit(dlg, CDiscoverNasDlg::IDC_PASSWORD)->setText(password);
    Click(Ok(dlg));
}

// Types into an address field the way a user does (key presses and releases).
void TypeAddress(CDiscoverNasDlg& dlg, int id, const QString& text)
{
    QLineEdit* field = Edit(dlg, id);
    field->clear();
    QTest::keyClicks(field, text);
}

// Runs the dialog; script runs once its window is up. A dialog the script
// leaves open ends with kScriptEnded. scriptRan tells whether the window ever
// came up.
int Run(CDiscoverNasDlg& dlg, const std::function<void(CDiscoverNasDlg&)>& script, bool* scriptRan = nullptr,
        const std::function<void(CPopDlg&)>& popupScript = {})
{
    return RunScripted(
        dlg, [&] { script(dlg); }, kScriptEnded, popupScript, scriptRan);
}

// A device row's state as tooltip and accessible description say it.
QString RowState(CDiscoverNasDlg& d, int row)
{
    auto* list = static_cast<platform::gui::ListCtrl*>(d.GetDlgItem(CDiscoverNasDlg::IDC_DEVICE_LIST));
    const QStandardItem* cell = list->Model()->item(row);
    const QString tip = cell->data(Qt::ToolTipRole).toString();
    return tip == cell->data(Qt::AccessibleDescriptionRole).toString() ? tip : QString("(differ)");
}

std::vector<std::string> Texts(const MessageBoxRecorder& boxes)
{
    std::vector<std::string> out;
    for (const RecordedBox& b : boxes.Boxes())
        out.push_back(b.text);
    return out;
}

// A context that already holds another login, to see that failures keep it.
void FillOldLogin()
{
    CNasContext* ctx = GetNasContext();
    ctx->m_deviceAddress = "198.18.9.9";
    ctx->m_macText = "02:00:00:00:09:09";
    ctx->m_user = "olduser";
    ctx->m_password = "oldpass";
    ctx->m_community = "oldcomm";
}

void ExpectOldLogin()
{
    CNasContext* ctx = GetNasContext();
    QCOMPARE(ctx->m_deviceAddress, std::string("198.18.9.9"));
    QCOMPARE(ctx->m_macText, std::string("02:00:00:00:09:09"));
    QCOMPARE(ctx->m_community, std::string("oldcomm"));
    QCOMPARE(ctx->m_user, std::string("olduser"));
}

} // namespace

class TestDiscoverDlg : public QObject {
    Q_OBJECT
    // Device waits and time-outs run 8 times faster: a scan takes 375 ms.
    platform::FastClock m_clock{8};
    std::unique_ptr<platform::ScopedClock> m_scopedClock;

private slots:
    void initTestCase()
    {
        InstallMessageBoxHandler();
        m_scopedClock = std::make_unique<platform::ScopedClock>(m_clock);
    }
    void cleanupTestCase() { m_scopedClock.reset(); }
    void init()
    {
        // First start: no login memory at all.
        fs::remove(GetNasContext()->IniPath());
        GetNasContext()->Reset();
        GetNasContext()->LoadLogin(nullptr);
    }
    void cleanup() { Dialog::SetModalHook({}); }

    void firstStartFindsTheDeviceAndTheAdministratorLogsIn()
    {
        QVERIFY(fs::exists(GetNasContext()->IniPath()));
        QVERIFY(GetNasContext()->m_macText.empty());
        Rig rig;
        MessageBoxRecorder boxes;
        CDiscoverNasDlg dlg(1);
        int code = Run(dlg, [&](CDiscoverNasDlg& d) {
            QCOMPARE(d.GetMode(), 1);
            QCOMPARE(d.windowTitle(), QString("NAS Discovery"));
            QCOMPARE(d.GetStatusText(), std::string("Please select a NAS to attach."));
            QCOMPARE(d.GetRowCount(), 1);
            QCOMPARE(d.GetRowImage(0), int(CDiscoverNasDlg::IMAGE_ANSWERING));
            auto* list = Item<ListCtrl>(d, CDiscoverNasDlg::IDC_DEVICE_LIST);
            QCOMPARE(list->GetItemText(0, 0), std::string("NAS-SEVEN\n198.18.1.10"));
            QVERIFY(list->isVisible());
            EXPECT_NOTHING_CUT(&d);
            QVERIFY(!Edit(d, CDiscoverNasDlg::IDC_USER)->isVisible());
            QCOMPARE(Ok(d)->text(), QString("Attach"));
            QCOMPARE(Item<QPushButton>(d, CDiscoverNasDlg::IDC_ACTION)->text(), QString("Refresh"));
            QVERIFY(!Ok(d)->isEnabled());
            // A click off the rows selects nothing; one on the row makes it attachable.
            QTest::mouseClick(list->IconView()->viewport(), Qt::LeftButton, {}, QPoint(340, 170));
            QVERIFY(!Ok(d)->isEnabled());
            // An assistive tool selects the device by its item's Toggle and
            // presses Attach.
            QVERIFY(testsupport::DoAccessibleAction(list, "NAS-SEVEN 198.18.1.10",
                                                    QAccessibleActionInterface::toggleAction()));
            QVERIFY(testsupport::AccessibleNamed(QAccessible::queryAccessibleInterface(list), "NAS-SEVEN 198.18.1.10")
                        ->state()
                        .selected);
            QVERIFY(Ok(d)->isEnabled());
            QVERIFY(testsupport::DoAccessibleAction(&d, "Attach", QAccessibleActionInterface::pressAction()));
            QTRY_COMPARE(d.GetMode(), 2); // a pressed button clicks a moment later

            // Nothing remembered: the user field is empty and focused.
            QCOMPARE(d.GetMode(), 2);
            QCOMPARE(d.windowTitle(), QString("NAS Login"));
            QCOMPARE(Item<QLabel>(d, CDiscoverNasDlg::IDC_NAME_TEXT)->text(), QString("NAS-SEVEN"));
            QCOMPARE(Item<QLabel>(d, CDiscoverNasDlg::IDC_ADDRESS_TEXT)->text(), QString("198.18.1.10"));
            QCOMPARE(Item<QLabel>(d, CDiscoverNasDlg::IDC_FIELD1_LABEL)->text(), QString("User:"));
            QCOMPARE(Item<QLabel>(d, CDiscoverNasDlg::IDC_FIELD2_LABEL)->text(), QString("Password:"));
            QCOMPARE(Ok(d)->text(), QString("Login"));
            QCOMPARE(Item<QPushButton>(d, CDiscoverNasDlg::IDC_ACTION)->text(), QString("Back"));
            QVERIFY(Edit(d, CDiscoverNasDlg::IDC_USER)->text().isEmpty());
            QCOMPARE(d.focusWidget(), static_cast<QWidget*>(Edit(d, CDiscoverNasDlg::IDC_USER)));
            QVERIFY(!Edit(d, CDiscoverNasDlg::IDC_USER)->isReadOnly());
            QVERIFY(!Item<QCheckBox>(d, CDiscoverNasDlg::IDC_REMEMBER)->isChecked());
            QVERIFY(!Ok(d)->isEnabled());
            QTest::keyClicks(Edit(d, CDiscoverNasDlg::IDC_USER), "admin");
            QVERIFY(!Ok(d)->isEnabled());
            QTest::keyClicks(Edit(d, CDiscoverNasDlg::IDC_PASSWORD), "secret");
            QVERIFY(Ok(d)->isEnabled());
            Click(Item<QCheckBox>(d, CDiscoverNasDlg::IDC_REMEMBER));
            Click(Ok(d));
        });
        QCOMPARE(code, int(platform::IDOK));
        QCOMPARE(Texts(boxes), std::vector<std::string>{});

        CNasContext* ctx = GetNasContext();
        QCOMPARE(ctx->m_deviceAddress, std::string("198.18.1.10"));
        QCOMPARE(ctx->m_macText, std::string(kMacText));
        QCOMPARE(ctx->m_user, std::string("admin"));
        QCOMPARE(ctx->m_password, std::string("secret"));
        QCOMPARE(ctx->m_community, std::string("c0mm"));
        QVERIFY(ctx->m_rememberPassword);
        QCOMPARE(std::string(ctx->m_nasInfo.name), std::string("NAS-SEVEN"));
        QCOMPARE(std::memcmp(ctx->m_nasInfo.mac, kMac, 6), 0);

        QCOMPARE(IniValue("last_login", "mac"), std::string(kMacText));
        QCOMPARE(IniValue(kMacText, "user"), std::string("admin"));
        QCOMPARE(IniValue(kMacText, "password"), Base64Encode(std::string("secret")));
        // One administrator login request, with the typed password.
        QCOMPARE(rig.Requests(4), 1);
        QCOMPARE(rig.Requests(10), 0);
        QCOMPARE(Base64Decode(rig.dev->RequestField(-1, "payload")), std::string("198.18.1.1\nsecret"));

        // The device images: three 32x32 pictures.
        QCOMPARE(dlg.GetImages().size(), size_t(3));
        for (const QPixmap& p : dlg.GetImages())
            QCOMPARE(p.size(), QSize(32, 32));
    }

    void restartWithARememberedPasswordAttachesWithoutAClick()
    {
        Rig rig;
        RememberLogin(kMacText, "admin", "secret");
        GetNasContext()->LoadLogin(nullptr);
        QCOMPARE(GetNasContext()->m_password, std::string("secret"));

        MessageBoxRecorder boxes;
        CDiscoverNasDlg dlg(1);
        bool shown = true;
        int code = Run(
            dlg, [](CDiscoverNasDlg&) {}, &shown);
        QCOMPARE(code, int(platform::IDOK));
        QVERIFY(!shown); // logged in during start-up, never waiting for a click
        QCOMPARE(boxes.Count(), size_t(0));
        QCOMPARE(GetNasContext()->m_community, std::string("c0mm"));
        QCOMPARE(rig.Requests(4), 1);

        // Without a stored password the device is only selected.
        platform::WritePrivateProfileString(kMacText, "password", "", GetNasContext()->IniPath().c_str());
        GetNasContext()->Reset();
        GetNasContext()->LoadLogin(nullptr);
        QVERIFY(GetNasContext()->m_password.empty());
        CDiscoverNasDlg second(1);
        code = Run(second, [](CDiscoverNasDlg& d) {
            QCOMPARE(d.GetMode(), 1);
            QCOMPARE(Item<ListCtrl>(d, CDiscoverNasDlg::IDC_DEVICE_LIST)->GetSelectedItem(), 0);
            QVERIFY(Ok(d)->isEnabled());
            // Esc does not close the dialog; Cancel does.
            QTest::keyClick(&d, Qt::Key_Escape);
            QVERIFY(d.isVisible());
            Click(Item<QPushButton>(d, 2));
        });
        QCOMPARE(code, int(platform::IDCANCEL));
        QCOMPARE(rig.Requests(4), 1);
    }

    void autoAttachLogsInOnlyFromTheLoginForm()
    {
        // The disks must be initialised and the remembered user is not the
        // administrator: declining the question leaves the list, no login.
        Rig rig("198.18.1.10/24", "disk1 = -2\ndisk2 = -2\n");
        RememberLogin(kMacText, "alice", "wonder");
        GetNasContext()->LoadLogin(nullptr);

        MessageBoxRecorder boxes([](const RecordedBox&) { return platform::IDNO; });
        CDiscoverNasDlg dlg(1);
        int code = Run(dlg, [](CDiscoverNasDlg& d) { QCOMPARE(d.GetMode(), 1); });
        QCOMPARE(code, kScriptEnded);
        QCOMPARE(boxes.Count(), size_t(1));
        QCOMPARE(boxes.Boxes()[0].caption, std::string("The disk on the NAS have to be initialized"));
        QCOMPARE(boxes.Boxes()[0].text, "To process the initialization, you must have the right of administration.\n" +
                                            std::string(19, ' ') + "Do you want to continue?");
        QCOMPARE(boxes.Boxes()[0].style, unsigned(platform::MB_YESNO | platform::MB_ICONQUESTION));
        QCOMPARE(rig.Requests(4) + rig.Requests(10), 0);

        // Yes: the login goes as the administrator, with a read-only user field.
        MessageBoxRecorder yes([](const RecordedBox&) { return platform::IDYES; });
        CDiscoverNasDlg again(0);
        code = Run(again, [](CDiscoverNasDlg& d) {
            OpenFirst(d);
            QCOMPARE(d.GetMode(), 2);
            QCOMPARE(Edit(d, CDiscoverNasDlg::IDC_USER)->text(), QString("admin"));
            QVERIFY(Edit(d, CDiscoverNasDlg::IDC_USER)->isReadOnly());
            // The remembered password is alice's; the box is checked for it.
            QCOMPARE(Edit(d, CDiscoverNasDlg::IDC_PASSWORD)->text(), QString("wonder"));
            QVERIFY(Item<QCheckBox>(d, CDiscoverNasDlg::IDC_REMEMBER)->isChecked());
        });
        QCOMPARE(code, kScriptEnded);
        QCOMPARE(yes.Count(), size_t(1));
    }

    void wrongAndOverlongPasswordsKeepTheOldLogin()
    {
        Rig rig;
        FillOldLogin();
        MessageBoxRecorder boxes;
        CDiscoverNasDlg dlg(0);
        int code = Run(dlg, [&](CDiscoverNasDlg& d) {
            OpenFirst(d);
            SignIn(d, "admin", "wrong");
            QCOMPARE(d.GetMode(), 2);
            QCOMPARE(boxes.LastText(), std::string(kText716));
            QCOMPARE(boxes.Boxes().back().style, unsigned(platform::MB_ICONERROR));
            QCOMPARE(Edit(d, CDiscoverNasDlg::IDC_PASSWORD)->selectedText(), QString("wrong"));
            QCOMPARE(rig.Requests(4), 1);
            ExpectOldLogin();

            // Too long for one request: refused here, never sent, same message.
            Edit(d, CDiscoverNasDlg::IDC_PASSWORD)->setText(QString(200, 'p'));
            Click(Ok(d));
            QCOMPARE(boxes.Count(), size_t(2));
            QCOMPARE(boxes.LastText(), std::string(kText716));
            QCOMPARE(rig.Requests(4), 1);

            // A plain user with a wrong password goes through the user login.
            SignIn(d, "alice", "secret");
            QCOMPARE(boxes.LastText(), std::string(kText716));
            QCOMPARE(rig.Requests(10), 1);
            ExpectOldLogin();

            // The right password, but a community that is not Base64: the
            // login fails there and then.
            QVERIFY(rig.dev->Ok("fault text c0mmunity!"));
            Edit(d, CDiscoverNasDlg::IDC_PASSWORD)->setText("wonder");
            Click(Ok(d));
            QCOMPARE(boxes.Count(), size_t(4));
            QCOMPARE(boxes.LastText(), std::string(kText716));
            QCOMPARE(d.GetMode(), 2);
            ExpectOldLogin();
            QVERIFY(rig.dev->Ok("fault text off"));

            Click(Ok(d));
        });
        QCOMPARE(code, int(platform::IDOK));
        QCOMPARE(boxes.Count(), size_t(4));
        QCOMPARE(GetNasContext()->m_user, std::string("alice"));
        QCOMPARE(GetNasContext()->m_deviceAddress, std::string("198.18.1.10"));
        // Not remembered: the user is stored, the password is not.
        QCOMPARE(IniValue(kMacText, "user"), std::string("alice"));
        QCOMPARE(IniValue(kMacText, "password"), std::string());
    }

    void silentDeviceAndEmptyScans()
    {
        Rig rig;
        MessageBoxRecorder boxes;
        CDiscoverNasDlg dlg(0);
        int code = Run(dlg, [&](CDiscoverNasDlg& d) {
            OpenFirst(d);
            QVERIFY(rig.dev->Ok("fault silent on"));
            SignIn(d, "admin", "secret");
            QCOMPARE(boxes.LastText(), std::string(kText715));
            QCOMPARE(boxes.Boxes().back().style, unsigned(platform::MB_ICONERROR));
            QCOMPARE(d.GetMode(), 2);

            // Back to the list and scan again: the row stays, drawn as silent,
            // and cannot be attached.
            Click(Item<QPushButton>(d, CDiscoverNasDlg::IDC_ACTION));
            QCOMPARE(d.GetMode(), 1);
            QVERIFY(Ok(d)->isEnabled());
            Click(Item<QPushButton>(d, CDiscoverNasDlg::IDC_ACTION));
            QCOMPARE(d.GetStatusText(), std::string("Could not detect any NAS on LAN."));
            QCOMPARE(d.GetRowCount(), 1);
            QCOMPARE(d.GetRowImage(0), int(CDiscoverNasDlg::IMAGE_SILENT));
            QVERIFY(!d.GetRowAnswering(0));
            // The state is in words too: tooltip and accessible description.
            QCOMPARE(RowState(d, 0), QString("Not answering"));
            QVERIFY(!Ok(d)->isEnabled());
            ClickRow(d, 0);
            QVERIFY(!Ok(d)->isEnabled());
            auto* list = Item<ListCtrl>(d, CDiscoverNasDlg::IDC_DEVICE_LIST);
            QTest::mouseDClick(list->IconView()->viewport(), Qt::LeftButton, {}, RowPoint(d, 0));
            QCOMPARE(d.GetMode(), 1);
            // Enter does nothing while OK is off.
            QTest::keyClick(&d, Qt::Key_Return);
            QCOMPARE(d.GetMode(), 1);

            // It answers again: same row, attachable, double click goes on.
            QVERIFY(rig.dev->Ok("fault clear"));
            Click(Item<QPushButton>(d, CDiscoverNasDlg::IDC_ACTION));
            QCOMPARE(d.GetRowCount(), 1);
            QCOMPARE(d.GetRowImage(0), int(CDiscoverNasDlg::IMAGE_ANSWERING));
            QCOMPARE(RowState(d, 0), QString("Answering"));
            QVERIFY(Ok(d)->isEnabled());
            QTest::mouseDClick(list->IconView()->viewport(), Qt::LeftButton, {}, RowPoint(d, 0));
            QCOMPARE(d.GetMode(), 2);
        });
        QCOMPARE(code, kScriptEnded);
        QCOMPARE(boxes.Count(), size_t(1));
    }

    void firmwareIsCheckedBeforeTheLoginCounts()
    {
        Rig rig("198.18.1.10/24", "", "1.99.99");
        FillOldLogin();
        MessageBoxRecorder boxes;
        CDiscoverNasDlg dlg(0);
        int code = Run(dlg, [&](CDiscoverNasDlg& d) {
            OpenFirst(d);
            SignIn(d, "admin", "secret");
            QCOMPARE(boxes.LastText(), std::string("Please upgrade NAS firmware, this is old version."));
            QCOMPARE(d.GetMode(), 1); // back to the list
            ExpectOldLogin();

            rig.SetFirmware("");
            OpenFirst(d);
            SignIn(d, "admin", "secret");
            QCOMPARE(boxes.LastText(), std::string("NAS is not ready, try again later."));
            QCOMPARE(d.GetMode(), 1);
            ExpectOldLogin();

            rig.SetFirmware("2.00.00");
            Click(Ok(d));
            SignIn(d, "admin", "secret");
        });
        QCOMPARE(code, int(platform::IDOK));
        QCOMPARE(boxes.Count(), size_t(2));
        QCOMPARE(GetNasContext()->m_community, std::string("c0mm"));
        QCOMPARE(IniValue("last_login", "mac"), std::string(kMacText));
    }

    void otherSubnetDhcpPath()
    {
        Rig rig("198.18.4.10/24", "apply_network = 1\ndhcp_address = 198.18.1.77\ndhcp_mask = 255.255.255.0\n");
        MessageBoxRecorder boxes(
            [](const RecordedBox& b) { return b.style & platform::MB_YESNO ? platform::IDYES : platform::IDOK; });
        CDiscoverNasDlg dlg(0);
        int code = Run(dlg, [&](CDiscoverNasDlg& d) {
            QCOMPARE(d.GetRowImage(0), int(CDiscoverNasDlg::IMAGE_OTHER_SUBNET));
            OpenFirst(d);
            QCOMPARE(boxes.Count(), size_t(1));
            QCOMPARE(boxes.Boxes()[0].caption, std::string("The NAS is under different subnet with yours"));
            QCOMPARE(boxes.Boxes()[0].text,
                     "The device's network configuration could be modified if you have the right of administration.\n" +
                         std::string(45, ' ') + "Do you want to continue?");
            QCOMPARE(d.GetMode(), 2);
            QCOMPARE(Edit(d, CDiscoverNasDlg::IDC_USER)->text(), QString("admin"));
            QVERIFY(Edit(d, CDiscoverNasDlg::IDC_USER)->isReadOnly());
            QTest::keyClicks(Edit(d, CDiscoverNasDlg::IDC_PASSWORD), "secret");
            Click(Ok(d));

            QCOMPARE(d.GetMode(), 3);
            QCOMPARE(d.windowTitle(), QString("NAS Network Configuration"));
            QCOMPARE(Ok(d)->text(), QString("Apply"));
            QCOMPARE(Item<QLabel>(d, CDiscoverNasDlg::IDC_FIELD1_LABEL)->text(), QString("Subnet mask:"));
            QCOMPARE(Item<QLabel>(d, CDiscoverNasDlg::IDC_FIELD2_LABEL)->text(), QString("Default gateway:"));
            QVERIFY(Item<QRadioButton>(d, CDiscoverNasDlg::IDC_AUTO_IP)->isChecked());
            QVERIFY(!Edit(d, CDiscoverNasDlg::IDC_IP)->isEnabled());
            QVERIFY(Edit(d, CDiscoverNasDlg::IDC_IP)->text().isEmpty());
            QVERIFY(Ok(d)->isEnabled());
            // Keys in the automatic choice do not take Apply away.
            QTest::keyClick(&d, Qt::Key_Tab);
            QVERIFY(Ok(d)->isEnabled());
            Click(Ok(d));
        });
        QCOMPARE(code, int(platform::IDOK));
        QCOMPARE(boxes.Count(), size_t(1));
        // The set-network request asked for DHCP.
        for (int i = 0;; ++i) {
            QVERIFY(i < 100);
            if (rig.dev->RequestField(i, "op") == "2") {
                QCOMPARE(rig.dev->RequestField(i, "ip"), std::string("0.0.0.0"));
                QCOMPARE(Base64Decode(rig.dev->RequestField(i, "payload")), std::string("198.18.1.1\nsecret"));
                break;
            }
        }
        CNasContext* ctx = GetNasContext();
        QCOMPARE(ctx->m_deviceAddress, std::string("198.18.1.77"));
        QCOMPARE(ctx->m_user, std::string("admin"));
        QCOMPARE(ctx->m_password, std::string("secret"));
        QCOMPARE(ctx->m_community, std::string("c0mm"));
        QVERIFY(ctx->m_nasInfo.IsSameSubnet());
        QCOMPARE(IniValue("last_login", "mac"), std::string(kMacText));
    }

    void otherSubnetStaticPath()
    {
        Rig rig("198.18.4.10/24", "apply_network = 1\n");
        MessageBoxRecorder boxes([](const RecordedBox&) { return platform::IDYES; });
        // A remembered administrator login: no subnet question.
        const char* ini = GetNasContext()->IniPath().c_str();
        platform::WritePrivateProfileString(kMacText, "user", "admin", ini);
        platform::WritePrivateProfileString(kMacText, "password", Base64Encode(std::string("secret")).c_str(), ini);
        CDiscoverNasDlg dlg(0);
        int code = Run(dlg, [&](CDiscoverNasDlg& d) {
            OpenFirst(d);
            QCOMPARE(boxes.Count(), size_t(0));
            QCOMPARE(d.GetMode(), 2);
            QVERIFY(Ok(d)->isEnabled());
            Click(Ok(d));
            QCOMPARE(d.GetMode(), 3);

            Click(Item<QRadioButton>(d, CDiscoverNasDlg::IDC_STATIC_IP));
            QVERIFY(!Ok(d)->isEnabled());
            QCOMPARE(Edit(d, CDiscoverNasDlg::IDC_IP)->text(), QString("198.18.1.0"));
            QCOMPARE(Edit(d, CDiscoverNasDlg::IDC_MASK)->text(), QString("255.255.255.0"));
            QCOMPARE(Edit(d, CDiscoverNasDlg::IDC_GATEWAY)->text(), QString("198.18.1.254"));
            // A host part of 0, a gateway outside the PC's network: refused.
            TypeAddress(d, CDiscoverNasDlg::IDC_IP, "198.18.1.0");
            QVERIFY(!Ok(d)->isEnabled());
            TypeAddress(d, CDiscoverNasDlg::IDC_IP, "198.18.1.20");
            QVERIFY(Ok(d)->isEnabled());
            TypeAddress(d, CDiscoverNasDlg::IDC_GATEWAY, "198.18.2.254");
            QVERIFY(!Ok(d)->isEnabled());
            TypeAddress(d, CDiscoverNasDlg::IDC_GATEWAY, "198.18.1.0");
            QVERIFY(!Ok(d)->isEnabled());
            TypeAddress(d, CDiscoverNasDlg::IDC_IP, "198.18.3.20");
            TypeAddress(d, CDiscoverNasDlg::IDC_GATEWAY, "198.18.1.254");
            QVERIFY(!Ok(d)->isEnabled());
            TypeAddress(d, CDiscoverNasDlg::IDC_IP, "198.18.1.20");
            QVERIFY(Ok(d)->isEnabled());
            Click(Ok(d));
        });
        QCOMPARE(code, int(platform::IDOK));
        int last = std::stoi(rig.dev->Command("requests").substr(3)) - 1;
        int setNet = -1;
        for (int i = last; i >= 0 && setNet < 0; --i)
            if (rig.dev->RequestField(i, "op") == "2")
                setNet = i;
        QVERIFY(setNet >= 0);
        QCOMPARE(rig.dev->RequestField(setNet, "ip"), std::string("198.18.1.20"));
        QCOMPARE(rig.dev->RequestField(setNet, "mask"), std::string("255.255.255.0"));
        QCOMPARE(rig.dev->RequestField(setNet, "gateway"), std::string("198.18.1.254"));
        QCOMPARE(GetNasContext()->m_deviceAddress, std::string("198.18.1.20"));
        QCOMPARE(GetNasContext()->m_community, std::string("c0mm"));
        // The device really moved into the PC's subnet.
        bool moved = false;
        for (int i = 0; i < 200 && !moved; ++i) {
            moved = rig.net.HostAddresses(rig.host) == std::vector<std::string>{"198.18.1.20/24"};
            if (!moved)
                QTest::qWait(10);
        }
        QVERIFY(moved);
    }

    void otherSubnetWithoutDhcpAndAChangedPassword()
    {
        // DHCP gets nothing: the device stays away and 717 is shown.
        Rig rig("198.18.4.10/24", "apply_network = 1\n");
        MessageBoxRecorder boxes(
            [](const RecordedBox& b) { return b.style & platform::MB_YESNO ? platform::IDYES : platform::IDOK; });
        CDiscoverNasDlg dlg(0);
        int code = Run(dlg, [&](CDiscoverNasDlg& d) {
            OpenFirst(d);
            Edit(d, CDiscoverNasDlg::IDC_PASSWORD)->setText("secret");
            Click(Ok(d));
            QCOMPARE(d.GetMode(), 3);
            Click(Ok(d));
            QCOMPARE(boxes.LastText(), std::string(kText717));
            QCOMPARE(boxes.Boxes().back().style, unsigned(platform::MB_ICONERROR));
            QCOMPARE(d.GetMode(), 3);

            // The password changed on the device meanwhile: back to the login form.
            QVERIFY(rig.dev->Ok("set user admin:other:15"));
            Click(Ok(d));
            QCOMPARE(boxes.LastText(), std::string(kText716));
            QCOMPARE(d.GetMode(), 2);
            QCOMPARE(Edit(d, CDiscoverNasDlg::IDC_PASSWORD)->selectedText(), QString("secret"));

            // A silent device after the login: 715.
            Edit(d, CDiscoverNasDlg::IDC_PASSWORD)->setText("other");
            Click(Ok(d));
            QCOMPARE(d.GetMode(), 3);
            QVERIFY(rig.dev->Ok("fault silent on"));
            Click(Ok(d));
            QCOMPARE(boxes.LastText(), std::string(kText715));

            // Back goes to the list.
            Click(Item<QPushButton>(d, CDiscoverNasDlg::IDC_ACTION));
            QCOMPARE(d.GetMode(), 1);
        });
        QCOMPARE(code, kScriptEnded);
        QVERIFY(GetNasContext()->m_macText.empty());
        QCOMPARE(rig.net.HostAddresses(rig.host), std::vector<std::string>{"198.18.4.10/24"});

        // Declining the subnet question stays in the list.
        QVERIFY(rig.dev->Ok("fault clear"));
        MessageBoxRecorder no([](const RecordedBox&) { return platform::IDNO; });
        CDiscoverNasDlg again(0);
        code = Run(again, [](CDiscoverNasDlg& d) {
            OpenFirst(d);
            QCOMPARE(d.GetMode(), 1);
        });
        QCOMPARE(code, kScriptEnded);
        QCOMPARE(no.Count(), size_t(1));
    }

    void changeUserLooksOnlyForTheCurrentDevice()
    {
        Rig rig;
        // Another device answers too; change-user mode never lists it.
        int other = rig.net.AddHost(rig.lan, "198.18.1.11/24");
        QVERIFY(rig.net.StartEmulator(other, "name = OTHER\nmac = 02:00:00:00:07:02\n"));
        CNasContext* ctx = GetNasContext();
        ctx->m_macText = kMacText;
        ctx->m_deviceAddress = "198.18.1.10";
        ctx->m_user = "admin";
        // A remembered login is not offered when changing the user.
        platform::WritePrivateProfileString(kMacText, "user", "admin", ctx->IniPath().c_str());

        MessageBoxRecorder boxes;
        CDiscoverNasDlg dlg(2);
        int code = Run(dlg, [&](CDiscoverNasDlg& d) {
            QCOMPARE(d.GetMode(), 2);
            QVERIFY(!Item<QPushButton>(d, CDiscoverNasDlg::IDC_ACTION)->isVisible());
            QCOMPARE(d.GetRowCount(), 0);
            QVERIFY(Edit(d, CDiscoverNasDlg::IDC_USER)->text().isEmpty());
            // Opened straight in the login form: the focus is in its first field.
            QCOMPARE(d.focusWidget(), static_cast<QWidget*>(Edit(d, CDiscoverNasDlg::IDC_USER)));
            QCOMPARE(Item<QLabel>(d, CDiscoverNasDlg::IDC_NAME_TEXT)->text(), QString("NAS-SEVEN"));
            SignIn(d, "alice", "wonder");
        });
        QCOMPARE(code, int(platform::IDOK));
        QCOMPARE(boxes.Count(), size_t(0));
        QCOMPARE(ctx->m_user, std::string("alice"));
        QCOMPARE(ctx->m_password, std::string("wonder"));
        QCOMPARE(rig.dev->RequestField(0, "mac"), std::string(kMacText));

        // The device is gone: 715 and the dialog cancels itself unseen.
        QVERIFY(rig.dev->Ok("fault silent on"));
        CDiscoverNasDlg gone(2);
        bool shown = true;
        code = Run(
            gone, [](CDiscoverNasDlg&) {}, &shown);
        QCOMPARE(code, int(platform::IDCANCEL));
        QVERIFY(!shown);
        QCOMPARE(boxes.LastText(), std::string(kText715));
        QCOMPARE(ctx->m_user, std::string("alice"));

        // No disk at all: the disk message, then cancelled.
        QVERIFY(rig.dev->Ok("fault clear"));
        QVERIFY(rig.dev->Ok("set disk1 0"));
        CDiscoverNasDlg noDisk(2);
        code = Run(
            noDisk, [](CDiscoverNasDlg&) {}, &shown);
        QCOMPARE(code, int(platform::IDCANCEL));
        QVERIFY(!shown);
        QCOMPARE(boxes.LastText(), std::string("You must have at least one disk on the NAS for usage."));
        QCOMPARE(boxes.Boxes().back().caption, std::string("Could not detect the presence of disk"));
    }

    void aDeviceStartingUpIsWaitedFor()
    {
        Rig rig("198.18.1.10/24", "disk1 = -10\n");
        MessageBoxRecorder boxes;
        CDiscoverNasDlg dlg(0);
        int code = Run(dlg, [&](CDiscoverNasDlg& d) {
            ClickRow(d, 0);
            QVERIFY(d.GetRowRecord(0).disk1State == -10);
            // The device becomes ready while the wait-ready worker asks.
            std::thread later([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                rig.dev->Command("set disk1 2");
            });
            Click(Ok(d));
            later.join();
            QCOMPARE(d.GetMode(), 2);
            QCOMPARE(d.GetRowRecord(0).disk1State, 2);
        });
        QCOMPARE(code, kScriptEnded);
        QCOMPARE(boxes.Count(), size_t(0));
    }

    void doubleNextStartsOneWorker()
    {
        Rig rig;
        // Late enough that the login is still running when the popup shows, and
        // well inside its 3 s, which the test's clock runs in 375 ms.
        QVERIFY(rig.dev->Ok("fault delay 120"));
        MessageBoxRecorder boxes;
        CDiscoverNasDlg dlg(0);
        int workersBefore = 0;
        bool checkedInPopup = false;
        int code = Run(
            dlg,
            [&](CDiscoverNasDlg& d) {
                OpenFirst(d);
                Edit(d, CDiscoverNasDlg::IDC_USER)->setText("admin");
                Edit(d, CDiscoverNasDlg::IDC_PASSWORD)->setText("secret");
                workersBefore = d.GetWorkerCount();
                // Two clicks queued at once, as a quick double click leaves them:
                // the second arrives while the first one's login runs.
                QPushButton* ok = Ok(d);
                const QPointF at = QPointF(ok->rect().center());
                for (int i = 0; i < 2; ++i) {
                    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                        QCoreApplication::postEvent(
                            ok, new QMouseEvent(type, at, ok->mapToGlobal(at), Qt::LeftButton,
                                                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                Qt::NoModifier));
                }
                QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 30000);
            },
            nullptr,
            [&](CPopDlg&) {
                if (dlg.GetMode() != 2 || checkedInPopup)
                    return;
                checkedInPopup = true;
                // While the login runs nothing starts a second one or closes the dialog.
                QVERIFY(dlg.IsWorkerRunning());
                QVERIFY(!Ok(dlg)->isEnabled());
                QVERIFY(!Item<QPushButton>(dlg, 2)->isEnabled());
                Ok(dlg)->click();
                QTest::keyClick(&dlg, Qt::Key_Return);
                Item<QPushButton>(dlg, 2)->click();
                dlg.close();
                QMetaObject::invokeMethod(&dlg, "accept");
                QMetaObject::invokeMethod(&dlg, "reject");
                QVERIFY(dlg.isVisible());
            });
        QCOMPARE(code, int(platform::IDOK));
        QVERIFY(checkedInPopup);
        QCOMPARE(dlg.GetWorkerCount(), workersBefore + 1);
        QCOMPARE(rig.Requests(4), 1);
        QCOMPARE(boxes.Count(), size_t(0));
    }

    void messageServiceAndModeMessages()
    {
        Rig rig;
        MessageBoxRecorder boxes;
        CDiscoverNasDlg dlg(0);
        int code = Run(dlg, [&](CDiscoverNasDlg& d) {
            // A text carried along (the worker box service) is shown as it is.
            d.SendMessage(WM_SHOW_MESSAGE, platform::MB_ICONWARNING, 0, std::string("plain text"));
            QCOMPARE(boxes.LastText(), std::string("plain text"));
            QCOMPARE(boxes.Boxes().back().style, unsigned(platform::MB_ICONWARNING));

            ClickRow(d, 0);
            d.SendMessage(CDiscoverNasDlg::WM_SWITCH_MODE, 2, 0);
            QCOMPARE(d.GetMode(), 2);
            d.SendMessage(CDiscoverNasDlg::WM_SWITCH_MODE, 3);
            QCOMPARE(d.GetMode(), 3);
            QVERIFY(Item<QWidget>(d, CDiscoverNasDlg::IDC_NET_GROUP)->isVisible());
            QVERIFY(Item<QLabel>(d, CDiscoverNasDlg::IDC_ADDRESS_LABEL)->isVisible());
            QVERIFY(!Item<QLabel>(d, CDiscoverNasDlg::IDC_ADDRESS_TEXT)->isVisible());
            d.SendMessage(CDiscoverNasDlg::WM_SWITCH_MODE, 1);
            QCOMPARE(d.GetMode(), 1);
            QVERIFY(!Item<QWidget>(d, CDiscoverNasDlg::IDC_NET_GROUP)->isVisible());
        });
        QCOMPARE(code, kScriptEnded);
    }
};

int main(int argc, char** argv)
{
    // The login memory lies beside the program.
    testsupport::RunFromPrivateProgramFolder(argc, argv);
    QApplication app(argc, argv);
    TestDiscoverDlg test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_discover_dlg.moc"
