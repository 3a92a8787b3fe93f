#pragma once
// The busy popup: a small modal window with an animation and one line of
// text, no buttons, shown while a worker thread talks to the device. The
// worker changes the text with SetMessage and ends the popup with Close(code);
// the modal run returns that code. Neither call ever touches the window from
// the worker, and a Close that comes before the window exists still ends the
// run (at once, without showing).
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "Dialog.h"
#include "Worker.h"

class CAVICtrl;
namespace Ui {
class PopDlg;
}

class CPopDlg : public platform::gui::Dialog, public platform::gui::BusyIndicator {
    Q_OBJECT
public:
    explicit CPopDlg(QWidget* parent = nullptr);
    ~CPopDlg() override;

    // Any thread.
    void SetMessage(const std::string& text) override;
    void Close(int code) override;
    int DoModal() override { return Dialog::DoModal(); }
    void Dismiss() override;

    // The text the popup shows now.
    std::string GetShownText() const;
    CAVICtrl* GetAnimation() const { return m_animation; }

protected:
    bool OnInitDialog() override;
    // Esc, Enter and the window's close never end the popup.
    void OnOK() override {}
    void OnCancel() override {}
    void paintEvent(QPaintEvent* event) override;

private:
    intptr_t OnSetText(const platform::gui::Message& message);
    intptr_t OnClosePopup(const platform::gui::Message& message);
    // Ends the run when a Close is pending; on the GUI thread.
    void EndIfClosed();

    std::unique_ptr<Ui::PopDlg> m_ui;
    CAVICtrl* m_animation = nullptr;
    mutable std::mutex m_lock;
    std::string m_message;
    bool m_closePending = false;
    int m_closeCode = 0;
};

// Runs job on worker behind a busy popup over parent that says "Please
// wait..", and gives back what the job returned; nothing when the job ended
// by an exception (the worker has told the user), so that the caller leaves
// the window as it was and goes no further.
template <class Job, class R = std::decay_t<std::invoke_result_t<Job&, const platform::JobControl&>>>
std::optional<R> RunBehindPopup(QWidget* parent, platform::gui::Worker& worker, Job job)
{
    CPopDlg popup(parent);
    R result = worker.RunModal<R>(popup, [&job](const platform::JobControl& control) {
        control.Say("Please wait..");
        return job(control);
    });
    if (worker.Failed())
        return std::nullopt;
    return result;
}
