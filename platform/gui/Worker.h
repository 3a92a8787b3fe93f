#pragma once
// The one way windows run work off the GUI thread.
//
// A Worker belongs to one window (a page, a dialog) and runs at most one job
// at a time on a thread of its own:
//  - Start: the job runs on the worker thread with a JobControl (stop request,
//    progress); its result comes back by value to `done` on the GUI thread.
//  - StartWithUpdates: the same, with a typed channel for what the job has to
//    show while it runs (values, in order, on the GUI thread).
//  - RunModal: the job runs behind a modal busy indicator (the busy popup),
//    which shows the job's texts; the result is returned when it ends.
//  - StartPeriodic: a tick on the program's clock that is skipped while the
//    previous job still runs.
//  - Stop (and the destructor): asks the job to stop, waits a bounded time and
//    drops its result, so a late job never touches a window that is gone.
//  - A job that ends by an exception has no result: the user is told
//    ("<action> failed: <what>") and the window keeps what it showed.
// Windows hand jobs only values; jobs never touch widgets.
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "Job.h"

class QTimer;
class QWidget;

namespace platform::gui {

// Something that shows "busy" modally while a job runs.
class BusyIndicator {
public:
    virtual ~BusyIndicator() = default;
    virtual void SetMessage(const std::string& text) = 0; // any thread
    virtual void Close(int code) = 0;                     // any thread
    virtual int DoModal() = 0;                            // GUI thread
    // GUI thread: ends the modal run and takes the indicator off the screen
    // now, although the job goes on (a box of the job is about to show).
    virtual void Dismiss() = 0;
};

// GUI thread: dismisses the busy indicators of every RunModal under way, so
// that no busy popup stays beside a message box. The runs go on waiting for
// their jobs without them.
void DismissBusyIndicators();

class Worker {
public:
    using Progress = std::function<void(int percent, const std::string& text)>;
    // How long the destructor waits for a job before leaving it to end alone.
    static constexpr int kDefaultStopWaitMs = 500;

    Worker();
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // GUI thread: a job was started and its result has not been delivered.
    bool Busy() const { return m_busy; }

    // What happens when a job ends by an exception. Such a job delivers no
    // result: done does not run. On the GUI thread, failed(what) runs first
    // (the window puts back what it showed, records the failure), then a box
    // owned by owner says "<action> failed: <what>". RunModal shows the same
    // box and returns R{}; Failed() tells that apart from a real result.
    // Unattended work (a periodic job) is told in a notice (platform::Notice,
    // keyed by the action) that nothing waits for, in place of the box.
    void SetFailureReport(std::string action, QWidget* owner = nullptr,
                          std::function<void(const std::string& what)> failed = {}, bool unattended = false);
    // GUI thread: the last job that ended (Start or RunModal) ended by an
    // exception.
    bool Failed() const { return m_failed; }

    // Starts job; done(result) runs on the GUI thread when it ends unless the
    // worker was stopped first; progress reports run on the GUI thread too.
    // False (nothing started) while another job is busy.
    template <class R>
    bool Start(std::function<R(const JobControl&)> job, std::function<void(R)> done, const Progress& progress = {})
    {
        auto result = std::make_shared<R>();
        return StartJob(
            [job = std::move(job), result](const JobControl& control, const Poster&) { *result = job(control); },
            [done = std::move(done), result]() {
                if (done)
                    done(std::move(*result));
            },
            progress);
    }
    bool Start(std::function<void(const JobControl&)> job, std::function<void()> done = {}, Progress progress = {})
    {
        return StartJob([job = std::move(job)](const JobControl& control, const Poster&) { job(control); },
                        std::move(done), std::move(progress));
    }

    // Start with a typed channel for what the job has to show besides texts:
    // each value the job sends reaches update on the GUI thread, in order and
    // before done, unless the worker was stopped first.
    template <class R, class U>
    bool StartWithUpdates(std::function<R(const JobControl&, const std::function<void(U)>& send)> job,
                          std::function<void(U)> update, std::function<void(R)> done = {},
                          const Progress& progress = {})
    {
        auto result = std::make_shared<R>();
        auto shared = std::make_shared<std::function<void(U)>>(std::move(update));
        return StartJob(
            [job = std::move(job), result, shared](const JobControl& control, const Poster& post) {
                const std::function<void(U)> send = [&post, shared](U value) {
                    post([shared, value = std::move(value)]() mutable { (*shared)(std::move(value)); });
                };
                *result = job(control, send);
            },
            [done = std::move(done), result]() {
                if (done)
                    done(std::move(*result));
            },
            progress);
    }

    // Runs job behind the busy indicator's modal run and returns its result.
    // The indicator shows the job's texts and closes when the job has ended.
    template <class R> R RunModal(BusyIndicator& busy, std::function<R(const JobControl&)> job)
    {
        R result{};
        RunModalJob(busy, [&result, &job](const JobControl& control) { result = job(control); });
        return result;
    }

    // Test seam: fault runs on the job's thread before each RunModal job of
    // every worker; what it throws ends that job as the job's own exception
    // would. Empty (the default): jobs run as they are.
    static void SetModalFault(std::function<void()> fault);

    // tick runs every intervalMs on the program's clock, except while a job
    // is busy or the box of a failed one is up. Starting again replaces the interval and the tick.
    void StartPeriodic(int64_t intervalMs, std::function<void()> tick);
    void StopPeriodic();
    bool IsPeriodic() const;

    // Asks a running job to stop and waits up to waitMs for it, running the
    // GUI's events meanwhile (a job may be waiting for a box). Its result is
    // dropped. True when no job runs any more.
    bool Stop(int waitMs = kDefaultStopWaitMs);

    // Waits up to waitMs for the running job to end and its result to be
    // delivered, running the GUI's events meanwhile. True when not busy.
    bool Wait(int waitMs);

private:
    struct Run;
    // Runs a call on the GUI thread unless the job's result was dropped.
    using Poster = std::function<void(std::function<void()>)>;
    bool StartJob(std::function<void(const JobControl&, const Poster&)> job, std::function<void()> done,
                  Progress progress);
    void RunModalJob(BusyIndicator& busy, const std::function<void(const JobControl&)>& job);
    void ReportFailure(const std::string& what);

    struct FailureReport;
    bool m_busy = false;
    bool m_failed = false;
    std::shared_ptr<FailureReport> m_failure;
    std::shared_ptr<Run> m_run;
    std::shared_ptr<Run> m_modal; // the RunModal job under way, if any
    std::unique_ptr<QTimer> m_timer;
    std::function<void()> m_tick;
};

} // namespace platform::gui
