#include "Worker.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "MessageBox.h"
#include "MessageBoxes.h"
#include "MessageTarget.h"

namespace platform::gui {

struct Worker::Run {
    std::stop_source stop;
    std::mutex lock;
    std::condition_variable ended;
    bool finished = false; // the thread has done its last step
    bool dropped = false;  // GUI thread only: nobody wants the result any more
    std::thread thread;
    Worker* owner = nullptr; // valid while !dropped (both on the GUI thread)

    void Finish()
    {
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
        ended.notify_all();
    }
    bool WaitFinished(int waitMs)
    {
        // The job may be waiting for the GUI thread (a box, a sent message),
        // so the GUI's events keep running while we wait.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(lock);
                if (ended.wait_for(guard, std::chrono::milliseconds(5), [this] { return finished; }))
                    return true;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            if (IsGuiThread())
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
    }
};

namespace {

// The indicators of the RunModal runs under way, innermost last (GUI thread).
std::vector<BusyIndicator*> g_modalIndicators;

std::mutex g_modalFaultLock;
std::function<void()> g_modalFault; // see Worker::SetModalFault

void RunModalFault()
{
    std::function<void()> fault;
    {
        std::lock_guard<std::mutex> guard(g_modalFaultLock);
        fault = g_modalFault;
    }
    if (fault)
        fault();
}

void DebugTraceWorker(const std::string& what)
{
    if (std::getenv("TOLVANE_DEBUG") != nullptr)
        std::fprintf(stderr, "worker: job ended by an exception: %s\n", what.c_str());
}

// Runs the job; what it threw, if anything.
std::optional<std::string> RunGuarded(const std::function<void(const JobControl&)>& job, const JobControl& control)
{
    std::optional<std::string> failure;
    try {
        job(control);
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "unknown error";
    }
    if (failure)
        DebugTraceWorker(*failure);
    return failure;
}

} // namespace

struct Worker::FailureReport {
    std::string action = "The background job";
    QPointer<QWidget> owner;
    std::function<void(const std::string&)> failed;
    bool unattended = false; // told in a notice, not a box
    bool showing = false;    // the box is up (GUI thread)
};

Worker::Worker() : m_failure(std::make_shared<FailureReport>()) {}

void Worker::SetFailureReport(std::string action, QWidget* owner, std::function<void(const std::string&)> failed,
                              bool unattended)
{
    m_failure->unattended = unattended;
    m_failure->action = std::move(action);
    m_failure->owner = owner;
    m_failure->failed = std::move(failed);
}

void Worker::ReportFailure(const std::string& what)
{
    // The window may go while the box is up (and the worker with it): the
    // report works on its own reference.
    std::shared_ptr<FailureReport> report = m_failure;
    if (report->failed)
        report->failed(what);
    if (report->unattended) {
        platform::Notice(report->action, report->action + " failed: " + what);
        return;
    }
    report->showing = true;
    ShowMessageBox(report->owner, report->action + " failed: " + what, MB_ICONERROR);
    report->showing = false;
}

Worker::~Worker()
{
    StopPeriodic();
    Stop();
}

bool Worker::StartJob(std::function<void(const JobControl&, const Poster&)> job, std::function<void()> done,
                      Progress progress)
{
    if (m_busy)
        return false;
    if (m_run && m_run->thread.joinable())
        m_run->thread.join(); // the previous job delivered its result already
    auto run = std::make_shared<Run>();
    run->owner = this;

    JobControl control;
    control.stop = run->stop.get_token();
    if (progress) {
        control.progress = [run, progress = std::move(progress)](int percent, const std::string& text) {
            RunOnGuiThread([run, progress, percent, text] {
                if (!run->dropped)
                    progress(percent, text);
            });
        };
    }
    m_busy = true;
    m_run = run;
    try {
        run->thread = std::thread([run, job = std::move(job), done = std::move(done), control] {
            const Poster post = [run](std::function<void()> fn) {
                RunOnGuiThread([run, fn = std::move(fn)] {
                    if (!run->dropped)
                        fn();
                });
            };
            std::optional<std::string> failure =
                RunGuarded([&job, &post](const JobControl& c) { job(c, post); }, control);
            RunOnGuiThread([run, done, failure = std::move(failure)] {
                if (run->dropped)
                    return;
                Worker* owner = run->owner;
                owner->m_busy = false;
                owner->m_failed = failure.has_value();
                if (failure)
                    owner->ReportFailure(*failure);
                else if (done)
                    done();
            });
            run->Finish();
        });
    } catch (const std::system_error&) {
        m_busy = false;
        m_run.reset();
        return false;
    }
    return true;
}

void Worker::RunModalJob(BusyIndicator& busy, const std::function<void(const JobControl&)>& job)
{
    auto run = std::make_shared<Run>();
    JobControl control;
    control.stop = run->stop.get_token();
    control.progress = [&busy](int, const std::string& text) { busy.SetMessage(text); };
    m_modal = run;
    std::optional<std::string> failure;
    run->thread = std::thread([run, &busy, &job, control, &failure] {
        failure = RunGuarded(
            [&job](const JobControl& c) {
                RunModalFault();
                job(c);
            },
            control);
        busy.Close(0);
        run->Finish();
    });
    g_modalIndicators.push_back(&busy);
    busy.DoModal();
    g_modalIndicators.erase(std::find(g_modalIndicators.begin(), g_modalIndicators.end(), &busy));
    // The indicator ends with the job's last step, or earlier when a box of the
    // job dismissed it: then the job goes on (the box is still open) and the
    // window stays as modal as with the indicator until it ends.
    {
        std::unique_lock<std::mutex> guard(run->lock);
        if (!run->finished) {
            guard.unlock();
            run->WaitFinished(std::numeric_limits<int>::max());
        }
    }
    // The thread is gone a moment later, and with it the last use of the
    // indicator.
    run->thread.join();
    m_modal.reset();
    m_failed = failure.has_value();
    if (failure)
        ReportFailure(*failure);
}

void Worker::SetModalFault(std::function<void()> fault)
{
    std::lock_guard<std::mutex> guard(g_modalFaultLock);
    g_modalFault = std::move(fault);
}

void DismissBusyIndicators()
{
    // Dismissing may run events: work on a copy.
    const std::vector<BusyIndicator*> indicators = g_modalIndicators;
    for (BusyIndicator* busy : indicators)
        busy->Dismiss();
}

void Worker::StartPeriodic(int64_t intervalMs, std::function<void()> tick)
{
    m_tick = std::move(tick);
    if (!m_timer) {
        m_timer = std::make_unique<QTimer>();
        QObject::connect(m_timer.get(), &QTimer::timeout, [this] {
            // A periodic job whose failure is still on the screen waits for
            // the user to have seen it.
            if (!m_busy && !m_failure->showing && m_tick)
                m_tick();
        });
    }
    m_timer->start(static_cast<int>(RealMs(intervalMs)));
}

void Worker::StopPeriodic()
{
    if (m_timer)
        m_timer->stop();
}

bool Worker::IsPeriodic() const { return m_timer && m_timer->isActive(); }

bool Worker::Stop(int waitMs)
{
    if (m_modal)
        m_modal->stop.request_stop();
    std::shared_ptr<Run> run = std::move(m_run);
    m_busy = false;
    if (!run)
        return true;
    run->dropped = true;
    run->stop.request_stop();
    if (!run->thread.joinable())
        return true;
    if (run->WaitFinished(waitMs)) {
        run->thread.join();
        return true;
    }
    // Still waiting for the device: it ends on its own, with its own
    // reference to what it shares, and its result goes nowhere.
    run->thread.detach();
    return false;
}

bool Worker::Wait(int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (m_busy) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (m_busy)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace platform::gui
