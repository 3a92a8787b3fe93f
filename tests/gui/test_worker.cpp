// The window layer's worker helper: results by value on the GUI thread, the
// busy popup around a job, periodic ticks that skip while busy, and stops
// that never let a late result reach a window that is gone.
#include <QDialog>
#include <QtTest>
#include <atomic>
#include <thread>

#include "Clock.h"
#include "MessageBoxes.h"
#include "MessageTarget.h"
#include "PopDlg.h"
#include "Worker.h"

using namespace platform::gui;

class TestWorker : public QObject {
    Q_OBJECT

private slots:
    void resultAndProgressArriveOnTheGuiThread()
    {
        Worker worker;
        std::vector<std::string> texts;
        bool progressOnGui = true;
        std::string result;
        bool doneOnGui = false;
        std::atomic<bool> jobOnGui{true};
        QVERIFY(worker.Start<std::string>(
            [&](const platform::JobControl& job) {
                jobOnGui = IsGuiThread();
                job.Report(50, "half");
                job.Say("nearly");
                return std::string("values");
            },
            [&](std::string r) {
                result = std::move(r);
                doneOnGui = IsGuiThread();
            },
            [&](int, const std::string& text) {
                texts.push_back(text);
                progressOnGui = progressOnGui && IsGuiThread();
            }));
        QVERIFY(worker.Busy());
        // One job at a time.
        QVERIFY(!worker.Start([](const platform::JobControl&) {}));
        QVERIFY(worker.Wait(10000));
        QCOMPARE(result, std::string("values"));
        QVERIFY(doneOnGui);
        QVERIFY(!jobOnGui.load());
        QCOMPARE(texts, (std::vector<std::string>{"half", "nearly"}));
        QVERIFY(progressOnGui);
        // A job that throws ends the run without a result: the window is told
        // first, then the user, and done never sees a made-up result.
        platform::MessageBoxRecorder boxes;
        bool delivered = false;
        std::vector<std::string> told; // what the window heard, and how many boxes were up by then
        worker.SetFailureReport("Reading", nullptr,
                                [&](const std::string& what) { told.push_back(what + std::to_string(boxes.Count())); });
        QVERIFY(worker.Start<int>([](const platform::JobControl&) -> int { throw std::runtime_error("device gone"); },
                                  [&](int) { delivered = true; }));
        QVERIFY(worker.Wait(10000));
        QVERIFY(!delivered);
        QVERIFY(worker.Failed());
        QCOMPARE(told, std::vector<std::string>{"device gone0"});
        QCOMPARE(boxes.Texts(), std::vector<std::string>{"Reading failed: device gone"});
        // Unattended: told in a notice that nothing waits for.
        worker.SetFailureReport("Checking", nullptr, {}, true);
        QVERIFY(worker.Start<int>([](const platform::JobControl&) -> int { throw std::runtime_error("no thread"); },
                                  [&](int) { delivered = true; }));
        QVERIFY(worker.Wait(10000));
        QVERIFY(!delivered);
        QCOMPARE(boxes.Count(), size_t(2));
        QCOMPARE(boxes.Boxes().back().caption + " | " + boxes.LastText() +
                     (boxes.Boxes().back().waited ? " waited" : ""),
                 std::string("Checking | Checking failed: no thread"));
        worker.SetFailureReport("Reading", nullptr,
                                [&](const std::string& what) { told.push_back(what + std::to_string(boxes.Count())); });
        // The same behind the busy popup, which returns no result of the job's.
        CPopDlg popup;
        QCOMPARE(worker.RunModal<int>(popup, [](const platform::JobControl&) -> int { throw 1; }), 0);
        QVERIFY(worker.Failed());
        QCOMPARE(boxes.LastText(), std::string("Reading failed: unknown error"));
        QCOMPARE(worker.RunModal<int>(popup, [](const platform::JobControl&) { return 5; }), 5);
        QVERIFY(!worker.Failed());
    }

    void stopAsksTheJobAndDropsItsResult()
    {
        bool delivered = false;
        {
            Worker worker;
            QVERIFY(worker.Start<int>([](const platform::JobControl& job) { return job.Pause(60'000) ? 1 : 2; },
                                      [&](int) { delivered = true; }));
            QVERIFY(worker.Stop(5000)); // the pause honours the stop
            QVERIFY(!worker.Busy());
        }
        // A job that does not listen: the wait is bounded, the job is left to
        // end alone, and its result goes nowhere.
        std::atomic<bool> release{false};
        std::atomic<bool> ended{false};
        QElapsedTimer timer;
        timer.start();
        {
            auto worker = std::make_unique<Worker>();
            QVERIFY(worker->Start<int>(
                [&](const platform::JobControl&) {
                    while (!release)
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    ended = true;
                    return 7;
                },
                [&](int) { delivered = true; }));
            worker.reset(); // the window goes
        }
        QVERIFY(timer.elapsed() < 5000);
        release = true;
        QVERIFY(QTest::qWaitFor([&] { return ended.load(); }, 10000));
        QTest::qWait(20);
        QVERIFY(!delivered);
    }

    void periodicTicksSkipWhileAJobRuns()
    {
        platform::FastClock fast(50);
        platform::ScopedClock scoped(fast);
        Worker worker;
        std::atomic<bool> release{false};
        int ticks = 0;
        int started = 0;
        worker.StartPeriodic(5000, [&] { // 100 real ms
            ++ticks;
            if (worker.Start([&](const platform::JobControl&) {
                    while (!release)
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }))
                ++started;
        });
        QVERIFY(QTest::qWaitFor([&] { return ticks == 1; }, 10000));
        QTest::qWait(450); // several intervals while the job runs
        QCOMPARE(ticks, 1);
        release = true;
        QVERIFY(QTest::qWaitFor([&] { return ticks >= 2; }, 10000));
        worker.StopPeriodic();
        QVERIFY(worker.Wait(10000));
        QCOMPARE(started, ticks);
    }

    void aModalJobRunsBehindTheBusyPopup()
    {
        Worker worker;
        CPopDlg popup;
        std::atomic<bool> jobOnGui{true};
        // The popup shows the job's text and ends with the job.
        const int value = worker.RunModal<int>(popup, [&](const platform::JobControl& job) {
            jobOnGui = IsGuiThread();
            job.Say("Please wait..");
            return 42;
        });
        QCOMPARE(value, 42);
        QVERIFY(!jobOnGui.load());
        QVERIFY(!popup.IsInModalRun());
        QCOMPARE(popup.GetShownText(), std::string("Please wait.."));
    }

    // A job that asks something mid-way: the popup goes before the box shows,
    // the job goes on after the answer and its result still comes back.
    void aBoxOfTheJobEndsItsBusyPopupFirst()
    {
        QWidget owner;
        owner.setGeometry(100, 80, 500, 400);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        Worker worker;
        // Its own dialog is not on screen yet (a dialog's set-up): the popup
        // goes over the window that is.
        QDialog unseen(&owner);
        CPopDlg popup(&unseen);
        std::vector<bool> popupShownAtBox;
        QPoint popupCentre;
        MessageBoxRecorder boxes([&](const RecordedBox& box) {
            popupShownAtBox.push_back(popup.isVisible());
            return box.style == platform::MB_YESNO ? IDYES : IDOK;
        });
        const int value = worker.RunModal<int>(popup, [&](const platform::JobControl& job) {
            job.Say("Please wait..");
            CallOnGuiThread([&] { popupCentre = popup.frameGeometry().center(); });
            const int first = ShowMessageBox(nullptr, "Go on?", platform::MB_YESNO);
            const int second = ShowMessageBox(nullptr, "Remove success", platform::MB_OK);
            return first == IDYES && second == IDOK ? 7 : 0;
        });
        QCOMPARE(value, 7);
        QCOMPARE(popupShownAtBox, (std::vector<bool>{false, false}));
        QVERIFY(!popup.IsInModalRun());
        // The popup was placed in the middle of the visible owner.
        QVERIFY2((popupCentre - owner.frameGeometry().center()).manhattanLength() <= 2,
                 qPrintable(QString("%1,%2").arg(popupCentre.x()).arg(popupCentre.y())));
    }
};

QTEST_MAIN(TestWorker)
#include "test_worker.moc"
