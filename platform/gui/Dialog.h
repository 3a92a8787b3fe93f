#pragma once
// Modal dialogs. DoModal creates the window (the widget is shown only for the
// run), calls OnInitDialog and runs the dialog's own event loop until
// EndDialog; it returns the code given to EndDialog, any int. A dialog that
// ends itself during OnInitDialog returns at once without ever showing.
#include <QDialog>
#include <functional>

#include "MessageTarget.h"

class QAbstractButton;

namespace platform::gui {

class Dialog : public QDialog, public MessageTarget {
    Q_OBJECT
public:
    explicit Dialog(QWidget* parent = nullptr);
    ~Dialog() override;

    virtual int DoModal();
    // Ends the modal run with code (from the GUI thread; workers post).
    void EndDialog(int code);
    bool IsInModalRun() const { return m_inModal; }
    // Takes the window off the screen, and out of the accessibility tree,
    // while another window stands in its place; StepBack shows it again. The
    // modal run goes on meanwhile.
    void StepAside();
    void StepBack();

    // Called by the test hook below right after the dialog shows.
    using ModalHook = std::function<void(Dialog&)>;
    // Test hook: runs each time any dialog's modal loop has started (on the
    // GUI thread); tests end the dialog from it. Returns the old hook.
    static ModalHook SetModalHook(ModalHook hook);

    // The width a window needs for a window manager's title bar to show
    // title whole: the title in bold, beside the window's icon and buttons.
    static int TitleBarWidth(const QString& title);

protected:
    // Set-up of the window; false is the framework's "focus set by the
    // dialog". May call EndDialog.
    virtual bool OnInitDialog() { return true; }
    // Default buttons: IDOK / IDCANCEL.
    virtual void OnOK() { EndDialog(1); }
    virtual void OnCancel() { EndDialog(2); }
    QWidget* OwnerWidget() override { return this; }
    // Runs handler each time button becomes checked: by a click, the
    // keyboard, an assistive tool's Toggle or the program itself.
    void OnChecked(QAbstractButton* button, std::function<void()> handler);

    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

    // Windows whose Esc and Enter keys must never end them (busy popup,
    // main window, set-up wizard) turn those keys off here.
    void IgnoreEscAndEnter() { m_ignoreEscAndEnter = true; }
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Centres the window on the window it belongs to (or the screen).
    void PlaceOverOwner();

    QPoint m_placedAt;
    bool m_placed = false;
    bool m_inModal = false;
    bool m_inExec = false;
    bool m_ended = false;
    bool m_resume = false; // back from StepAside: the run goes on
    int m_code = 0;
    bool m_ignoreEscAndEnter = false;
};

// Whether a modal window that widget's window does not own stands in front
// of it: the mouse and the keys cannot reach widget then, and nothing a tool
// asks of it (a link's or an item's action) may act either.
bool BlockedByModal(const QWidget* widget);

} // namespace platform::gui
