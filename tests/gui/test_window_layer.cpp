// The window layer: messages between threads, timers, modal runs, boxes,
// resources, command bars, popup menus, the tray icon and the skin.
#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QThread>
#include <QToolBar>
#include <QtTest>
#include <atomic>
#include <map>
#include <thread>

#include "GuiTestSupport.h"
#include "Application.h"
#include "CommandBars.h"
#include "ListCtrl.h"
#include "Dialog.h"
#include "MessageBoxes.h"
#include "MessageTarget.h"
#include "PostMessageBox.h"
#include "Resources.h"
#include "Skin.h"
#include "TrayIcon.h"
#include "Worker.h"

using namespace platform::gui;

namespace {

// A window that records what reaches it.
class Recorder : public MessageTarget {
public:
    std::vector<intptr_t> values;
    std::vector<bool> onGui;
    std::vector<unsigned> timers;
    std::function<void(unsigned)> onTimer;

    Recorder()
    {
        SetMessageHandler(WM_USER + 50, [this](const Message& m) {
            values.push_back(m.lParam);
            onGui.push_back(IsGuiThread());
            return m.lParam * 2;
        });
    }

protected:
    void OnTimer(unsigned id) override
    {
        timers.push_back(id);
        if (onTimer)
            onTimer(id);
    }
};

class EndsInSetup : public Dialog {
public:
    bool shown = false;

protected:
    bool OnInitDialog() override
    {
        EndDialog(-42);
        return true;
    }
    void showEvent(QShowEvent* e) override
    {
        shown = true;
        Dialog::showEvent(e);
    }
};

} // namespace

class TestWindowLayer : public QObject {
    Q_OBJECT
private slots:
    void postedMessagesArriveInOrderOnTheGuiThread()
    {
        Recorder target;
        std::thread worker([&] {
            for (int i = 0; i < 200; ++i)
                QVERIFY(target.PostMessage(WM_USER + 50, 0, i));
        });
        worker.join();
        QVERIFY(target.values.empty()); // nothing runs until the loop does
        QVERIFY(WaitFor([&] { return target.values.size() == 200; }));
        for (int i = 0; i < 200; ++i) {
            QCOMPARE(target.values[static_cast<size_t>(i)], intptr_t(i));
            QVERIFY(target.onGui[static_cast<size_t>(i)]);
        }
    }

    void postedDataTravelsByValue()
    {
        MessageTarget target;
        std::string got;
        target.SetMessageHandler(WM_SHOW_MESSAGE, [&](const Message& m) {
            got = *Payload<WM_SHOW_MESSAGE>(m);
            return 1;
        });
        {
            std::string text = "backup finished";
            target.PostMessage(WM_SHOW_MESSAGE, 1, 0, text);
            text = "changed afterwards";
        }
        QVERIFY(WaitFor([&] { return !got.empty(); }));
        QCOMPARE(got, std::string("backup finished"));
        // Each message carries the one payload type it names.
        QVERIFY(PayloadMatches(WM_SHOW_MESSAGE, std::any{}));
        QVERIFY(!PayloadMatches(WM_SHOW_MESSAGE, std::any{42}));
        QVERIFY(PayloadMatches(WM_USER + 50, std::any{42})); // names none
    }

    void sentMessageBlocksTheWorkerUntilHandled()
    {
        Recorder target;
        std::atomic<bool> returned{false};
        std::atomic<intptr_t> result{0};
        bool handledBeforeReturn = false;
        target.SetMessageHandler(WM_USER + 51, [&](const Message& m) {
            handledBeforeReturn = !returned.load();
            return m.lParam + 1;
        });
        std::thread worker([&] {
            result = target.SendMessage(WM_USER + 51, 0, 41);
            returned = true;
        });
        QVERIFY(WaitFor([&] { return returned.load(); }));
        worker.join();
        QVERIFY(handledBeforeReturn);
        QCOMPARE(result.load(), intptr_t(42));
    }

    void sendingToItselfIsADirectCall()
    {
        Recorder target;
        QCOMPARE(target.SendMessage(WM_USER + 50, 0, 5), intptr_t(10));
        QCOMPARE(target.values.size(), size_t(1));
    }

    void messagesToAGoneWindowAreDropped()
    {
        auto seen = std::make_shared<int>(0);
        auto target = std::make_unique<MessageTarget>();
        target->SetMessageHandler(WM_USER + 50, [seen](const Message&) { return ++*seen; });
        QVERIFY(target->PostMessage(WM_USER + 50, 0, 1));
        target.reset(); // the queued call must find nothing
        Recorder later; // and must not reach a new window in its place
        QVERIFY(later.PostMessage(WM_USER + 50, 0, 7));
        QVERIFY(WaitFor([&] { return !later.values.empty(); }));
        QCOMPARE(*seen, 0);
        QCOMPARE(later.values, std::vector<intptr_t>{7});
    }

    void timersFireWithTheirIdsAndStop()
    {
        Recorder target;
        QCOMPARE(target.SetTimer(TIMER_DEVICE_INFO, 1), TIMER_DEVICE_INFO);
        QVERIFY(target.HasTimer(TIMER_DEVICE_INFO));
        // A timer killed from its own callback.
        target.onTimer = [&](unsigned id) { target.KillTimer(id); };
        QVERIFY(WaitFor([&] { return !target.timers.empty(); }));
        QCOMPARE(target.timers.front(), TIMER_DEVICE_INFO);
        QVERIFY(!target.HasTimer(TIMER_DEVICE_INFO));
        QVERIFY(!target.KillTimer(TIMER_DEVICE_INFO));
        size_t fired = target.timers.size();
        QTest::qWait(20);
        QCOMPARE(target.timers.size(), fired);
        QCOMPARE(target.SetTimer(0, 10), 0u);
    }

    void dialogEndingInSetupReturnsWithoutShowing()
    {
        EndsInSetup dialog;
        QCOMPARE(dialog.DoModal(), -42);
        QVERIFY(!dialog.shown);
        QVERIFY(!dialog.IsWindow());
    }

    void modalRunReturnsAnyCode()
    {
        Dialog dialog;
        bool existedDuringRun = false;
        Dialog::ModalHook old = Dialog::SetModalHook([&](Dialog& d) {
            existedDuringRun = d.IsWindow() && d.isVisible();
            // A worker ends it through a posted message.
            std::thread([&d] { d.PostMessage(WM_USER + 60, 0, 30001); }).detach();
        });
        dialog.SetMessageHandler(WM_USER + 60, [&](const Message& m) {
            dialog.EndDialog(static_cast<int>(m.lParam));
            return 0;
        });
        QCOMPARE(dialog.DoModal(), 30001);
        Dialog::SetModalHook(old);
        QVERIFY(existedDuringRun);
        QVERIFY(!dialog.isVisible());
    }

    void boxesFromWorkersAreShownOnTheGuiThread()
    {
        InstallMessageBoxHandler();
        MessageBoxRecorder boxes([](const RecordedBox& box) {
            return (box.style & platform::MB_TYPEMASK) == platform::MB_YESNO ? IDNO : IDOK;
        });
        std::atomic<int> answer{0};
        std::atomic<bool> done{false};
        std::thread worker([&] {
            answer = platform::MessageBox("Delete it?", platform::MB_YESNO | platform::MB_ICONQUESTION);
            done = true;
        });
        QVERIFY(WaitFor([&] { return done.load(); }));
        worker.join();
        QCOMPARE(answer.load(), int(IDNO));
        QCOMPARE(boxes.Count(), size_t(1));
        RecordedBox box = boxes.Boxes().front();
        QCOMPARE(box.text, std::string("Delete it?"));
        QCOMPARE(box.caption, std::string("Tolvane"));
        QVERIFY(box.onGuiThread);
        QCOMPARE(box.style, unsigned(platform::MB_YESNO | platform::MB_ICONQUESTION));
    }

    // Notices belong to the main window: a wizard open when one comes does
    // not take it along when it closes. Closed notices are forgotten.
    void noticesWaitForNobodyOnePerKey()
    {
        InstallMessageBoxHandler();
        Dialog main;
        SetMainWindow(&main);
        main.show();
        auto* wizard = new QDialog(&main);
        wizard->show();
        wizard->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(wizard));
        std::thread worker([] {
            platform::Notice("Nightly", "Nightly: first");
            platform::Notice("Nightly", "Nightly: second");
            platform::Notice("Weekly", "Weekly: third");
        });
        worker.join(); // returned without anyone answering
        auto shown = [] {
            std::map<QString, QMessageBox*> boxes;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                    boxes[box->text()] = box;
            return boxes;
        };
        QVERIFY(WaitFor([&] { return shown().size() == 2; }));
        QCOMPARE(shown().count("Nightly: second") + shown().count("Weekly: third"), size_t(2));
        QVERIFY(!shown().begin()->second->isModal());
        QCOMPARE(OpenNoticeCount(), size_t(2));
        for (const auto& [text, box] : shown())
            QCOMPARE(box->parentWidget(), static_cast<QWidget*>(&main));
        delete wizard;
        QCOMPARE(shown().size(), size_t(2));
        for (const auto& [text, box] : shown())
            box->close();
        QVERIFY(WaitFor([&] { return shown().empty() && OpenNoticeCount() == 0; }));
        // A key whose notice was closed gets a new one.
        platform::Notice("Nightly", "Nightly: again");
        QVERIFY(WaitFor([&] { return shown().count("Nightly: again") == 1; }));
        QCOMPARE(OpenNoticeCount(), size_t(1));
        shown().begin()->second->close();
        QVERIFY(WaitFor([&] { return OpenNoticeCount() == 0; }));
        SetMainWindow(nullptr);
    }

    // A job that reaches a widget stops the program, naming the call. A
    // copy of this test program makes the call and must die of it.
    void aJobReachingAWidgetStopsTheProgram()
    {
        if (qEnvironmentVariableIsSet("TOLVANE_CALL_OFF_GUI_THREAD")) {
            ListCtrl list;
            Worker worker;
            QVERIFY(worker.Start([&list](const platform::JobControl&) { list.InsertItem(0, "row"); }));
            QVERIFY(worker.Wait(10000));
            return; // still here: the copy ends well, which is the fault
        }
        QProcess copy;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TOLVANE_CALL_OFF_GUI_THREAD", "1");
        env.insert("QTEST_DISABLE_CORE_DUMP", "1");
        env.insert("QTEST_DISABLE_STACK_DUMP", "1");
        copy.setProcessEnvironment(env);
        copy.setProcessChannelMode(QProcess::MergedChannels);
        copy.start(QCoreApplication::applicationFilePath(), {"aJobReachingAWidgetStopsTheProgram"});
        QVERIFY(copy.waitForFinished(60000));
        const QByteArray out = copy.readAll();
        QVERIFY2(copy.exitStatus() == QProcess::CrashExit, out.constData());
        QVERIFY2(out.contains("ListCtrl::InsertItem called off the GUI thread"), out.constData());
    }

    void unrecordedBoxesOffscreenTakeTheirDefault()
    {
        // No recorder and no display: the box answers at once.
        QCOMPARE(ShowMessageBox(nullptr, "x", platform::MB_YESNO | platform::MB_DEFBUTTON2), int(IDNO));
        QCOMPARE(ShowMessageBox(nullptr, "x", platform::MB_OKCANCEL), int(IDOK));
    }

    void postMessageBoxGoesThroughTheWindow()
    {
        MessageBoxRecorder boxes;
        MessageTarget main;
        std::vector<unsigned> styles;
        main.SetMessageHandler(WM_SHOW_MESSAGE, [&](const Message& m) {
            styles.push_back(static_cast<unsigned>(m.wParam));
            return intptr_t(
                ShowMessageBox(nullptr, std::any_cast<std::string>(m.data), static_cast<unsigned>(m.wParam)));
        });
        SetMainWindow(&main);
        std::atomic<bool> done{false};
        std::thread worker([&] {
            PostMessageBox("Socket Create Fail!!", platform::MB_ICONERROR);
            done = true;
        });
        QVERIFY(WaitFor([&] { return done.load(); }));
        worker.join();
        QCOMPARE(styles, std::vector<unsigned>{platform::MB_ICONERROR});
        QCOMPARE(boxes.LastText(), std::string("Socket Create Fail!!"));

        // A window without its own handler shows the box itself.
        MessageTarget other;
        PostMessageBox("to another window", platform::MB_OK, &other);
        QCOMPARE(boxes.LastText(), std::string("to another window"));

        // No main window: a plain box.
        SetMainWindow(nullptr);
        PostMessageBox("no window", platform::MB_OK);
        QCOMPARE(boxes.LastText(), std::string("no window"));
        QCOMPARE(boxes.Count(), size_t(3));
    }

    void resourcesLoad()
    {
        QCOMPARE(LoadString(715), std::string("Could not receive the response form NAS."));
        QCOMPARE(LoadString(728),
                 std::string(
                     "Could not detect the network configuration on your system.\nPlease reconfigure then try again."));
        QCOMPARE(LoadString(99999), std::string());
        Menu admin, user, tray;
        QVERIFY(LoadMenu(127, admin));
        QVERIFY(LoadMenu(261, user));
        QVERIFY(LoadMenu(128, tray));
        QVERIFY(!LoadMenu(4242, tray));
        QCOMPARE(admin.front().text, std::string("&File"));
        QCOMPARE(user.front().text, std::string("File"));
        auto adminIds = PopupMenuRecorder::CommandIds(admin);
        auto userIds = PopupMenuRecorder::CommandIds(user);
        QVERIFY(std::count(adminIds.begin(), adminIds.end(), 40007u) == 1);
        QVERIFY(std::count(adminIds.begin(), adminIds.end(), 40012u) == 1);
        QVERIFY(std::count(userIds.begin(), userIds.end(), 40007u) == 0);
        QVERIFY(std::count(userIds.begin(), userIds.end(), 40012u) == 0);
        QCOMPARE(PopupMenuRecorder::CommandIds(tray), std::vector<unsigned>{57665});
        QCOMPARE(LoadToolBar(244), (std::vector<unsigned>{40006, 40007, 40010, 40008, 40021, 40012, 40030, 40027}));
        QCOMPARE(LoadToolBar(262), (std::vector<unsigned>{40006, 40010, 40008, 40021, 40030, 40027}));
        for (unsigned id : LoadToolBar(244))
            QVERIFY2(!LoadCommandIcon(id).isNull(), std::to_string(id).c_str());
        QCOMPARE(LoadImageStrip(253, 64).size(), size_t(6));
        QCOMPARE(LoadImageStrip(263, 32).size(), size_t(6));
        QCOMPARE(LoadImageStrip(247, 64).size(), size_t(3));
        QCOMPARE(LoadImageStrip(267, 32).size(), size_t(4));
        QCOMPARE(LoadImageStrip(271, 32).size(), size_t(2));
        // White is the mask colour.
        QImage first = LoadImageStrip(253, 64).front().toImage();
        QCOMPARE(qAlpha(first.pixel(0, 0)), 0);
        QVERIFY(!LoadIcon(125).isNull());
        QVERIFY(!LoadResource("AVI", 255).isEmpty());
        QVERIFY(LoadResource("AVI", 256).isEmpty());
    }

    void commandBarsBuildFromTablesAndRebuild()
    {
        QWidget site;
        std::vector<unsigned> commands;
        CommandBars bars(&site, [&](unsigned id) { commands.push_back(id); });
        QVERIFY(bars.SetMenu("NAS Menu Bar", 127));
        QToolBar* toolbar = bars.AddToolBar("NAS Tool Bar", 244);
        QVERIFY(!toolbar->isMovable());
        QVERIFY(!toolbar->isFloatable());
        std::vector<unsigned> buttons;
        for (QAction* a : toolbar->actions())
            buttons.push_back(a->data().toUInt());
        QCOMPARE(buttons, LoadToolBar(244));
        // A chosen command runs once the trigger has returned.
        toolbar->actions().at(1)->trigger();
        QVERIFY(commands.empty());
        QCoreApplication::processEvents();
        QCOMPARE(commands, std::vector<unsigned>{40007});
        // A menu command.
        QMenu* file = bars.GetMenuBar()->actions().front()->menu();
        QVERIFY(file != nullptr);
        file->actions().front()->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(commands.back(), 40006u);

        // Shown / hidden bars are reported.
        std::vector<bool> visibility;
        bars.SetVisibilityHandler([&](QWidget* bar, bool visible) {
            QCOMPARE(bar, static_cast<QWidget*>(toolbar));
            visibility.push_back(visible);
        });
        site.show();
        toolbar->hide();
        QVERIFY(!visibility.empty());
        QCOMPARE(visibility.back(), false);

        // Rebuilt for a plain user.
        bars.RemoveAll();
        QVERIFY(bars.GetMenuBar() == nullptr);
        QVERIFY(bars.GetToolBars().empty());
        QVERIFY(bars.SetMenu("NAS Menu Bar", 261));
        bars.AddToolBar("NAS Tool Bar", 262);
        QCOMPARE(bars.GetToolBars().front()->actions().size(), qsizetype(6));
        QVERIFY(!bars.SetMenu("x", 9999));
    }

    void popupMenusAreRecordedAndAnswered()
    {
        Menu menu = {MenuItem::Command(40015, "&Delete Task"), MenuItem::Separator(),
                     MenuItem::Popup("Restore Now", {MenuItem::Command(40024, "Restore to &original")})};
        {
            PopupMenuRecorder recorder([](const Menu& m) { return PopupMenuRecorder::CommandIds(m).back(); });
            QCOMPARE(TrackPopupMenu(menu, QPoint(10, 10), nullptr), 40024u);
            QCOMPARE(recorder.Count(), size_t(1));
        }
        // Offscreen without a recorder nothing is chosen and nothing blocks.
        QCOMPARE(TrackPopupMenu(menu, QPoint(10, 10), nullptr), 0u);
    }

    void trayIconRunsItsDefaultCommand()
    {
        QWidget owner;
        owner.show();
        TrayIcon tray;
        std::vector<unsigned> commands;
        QVERIFY(tray.Create("NAS", &owner, LoadIcon(125), 128, 102, [&](unsigned id) { commands.push_back(id); }));
        tray.Activate();
        QCOMPARE(commands, std::vector<unsigned>{102});
        tray.MinimizeToTray();
        if (TrayIcon::IsAvailable())
            QVERIFY(!owner.isVisible());
        else
            QVERIFY(owner.isMinimized());
        tray.MaximizeFromTray();
        QVERIFY(owner.isVisible());
        QVERIFY(owner.windowState() & Qt::WindowMaximized);
    }

    void skinIsOptional()
    {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        app->setStyleSheet("");
        QVERIFY(!LoadSkin("/nonexistent/Styles/WinXP.Royale.cjstyles"));
        QVERIFY(app->styleSheet().isEmpty());
        QVERIFY(SkinPath().find("Styles/WinXP.Royale.cjstyles") != std::string::npos);
        QVERIFY(LoadSkin((QCoreApplication::applicationDirPath() + "/Styles/WinXP.Royale.cjstyles").toStdString()));
        QVERIFY(app->styleSheet().contains("QMenuBar"));
        app->setStyleSheet("");
    }
};

QTEST_MAIN(TestWindowLayer)
#include "test_window_layer.moc"
