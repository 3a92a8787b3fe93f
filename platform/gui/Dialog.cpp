#include "Dialog.h"

#include <utility>
#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <algorithm>

namespace platform::gui {
namespace {
Dialog::ModalHook g_modalHook;

// Whether window is owner or a window that owner owns (however deep).
bool OwnedBy(const QWidget* window, const QWidget* owner)
{
    for (const QWidget* w = window; w != nullptr; w = w->parentWidget() ? w->parentWidget()->window() : nullptr)
        if (w == owner)
            return true;
    return false;
}
} // namespace

bool BlockedByModal(const QWidget* widget)
{
    const QWidget* modal = QApplication::activeModalWidget();
    if (widget == nullptr || modal == nullptr)
        return false;
    const QWidget* window = widget->window();
    if (OwnedBy(window, modal))
        return false; // the modal window itself, or a window it owns
    if (modal->windowModality() == Qt::WindowModal)
        return OwnedBy(modal, window); // it blocks only the windows that own it
    return true;
}

Dialog::Dialog(QWidget* parent) : QDialog(parent) { SetWindowExists(false); }

Dialog::~Dialog() { Detach(); }

Dialog::ModalHook Dialog::SetModalHook(ModalHook hook) { return std::exchange(g_modalHook, std::move(hook)); }

void Dialog::EndDialog(int code)
{
    m_code = code;
    m_ended = true;
    if (m_inExec)
        QDialog::done(code);
}

void Dialog::StepAside()
{
    hide();
    destroy(); // a window that exists is in the tree even when hidden
}

void Dialog::StepBack()
{
    m_resume = m_inExec;
    show();
}

int Dialog::DoModal()
{
    // What had the keys before the run has them again after it: the window
    // that owns the dialog (its parent's, else the one active when it
    // opened) is made active, as a window manager may leave none active, and
    // the control that opened the dialog takes the focus back.
    const QPointer<QWidget> opener = QApplication::focusWidget();
    const QPointer<QWidget> ownerWindow =
        parentWidget() != nullptr ? parentWidget()->window() : QApplication::activeWindow();
    m_ended = false;
    m_code = 0;
    m_inModal = true;
    SetWindowExists(true);
    OnInitDialog();
    if (!m_ended) {
        if (g_modalHook) {
            QTimer::singleShot(0, this, [this] {
                // A copy runs: the hook may put another one in its place.
                if (const ModalHook hook = g_modalHook; m_inModal && !m_ended && hook)
                    hook(*this);
            });
        }
        setModal(true);
        PlaceOverOwner();
        m_inExec = true;
        // Hiding a dialog ends its loop; one that stepped aside and came back
        // runs on.
        do {
            m_resume = false;
            QDialog::exec();
        } while (m_resume && !m_ended);
        m_inExec = false;
    }
    m_inModal = false;
    SetWindowExists(false);
    // The keys go back only when they were with this dialog (or nowhere).
    const bool hadKeys = QApplication::activeWindow() == nullptr || QApplication::activeWindow() == this;
    hide();
    // An ended dialog gives its window back, so that it leaves the
    // application's accessibility tree; the next run makes a new one.
    destroy();
    if (hadKeys && ownerWindow && ownerWindow != this && ownerWindow->isVisible() && !ownerWindow->isMinimized()) {
        ownerWindow->activateWindow();
        if (opener && opener->window() == ownerWindow && opener->isVisible() && opener->isEnabled())
            opener->setFocus(Qt::OtherFocusReason);
    }
    return m_code;
}

void Dialog::OnChecked(QAbstractButton* button, std::function<void()> handler)
{
    connect(button, &QAbstractButton::toggled, this, [handler = std::move(handler)](bool on) {
        if (on)
            handler();
    });
}

int Dialog::TitleBarWidth(const QString& title)
{
    // The window's icon and its three buttons, and the bar's margins.
    constexpr int kIconAndButtons = 150;
    QFont bold = QApplication::font();
    bold.setBold(true);
    return QFontMetrics(bold).horizontalAdvance(title) + kIconAndButtons;
}

void Dialog::PlaceOverOwner()
{
    // A dialog that was moved by someone else keeps its place.
    if (testAttribute(Qt::WA_Moved) && (!m_placed || pos() != m_placedAt))
        return;
    ensurePolished();
    if (!testAttribute(Qt::WA_Resized))
        adjustSize();
    // Over the nearest visible window it belongs to, else over the active
    // window, else in the middle of the screen.
    QWidget* over = nullptr;
    for (QWidget* w = parentWidget(); w != nullptr && over == nullptr; w = w->window()->parentWidget())
        if (w->window()->isVisible() && !w->window()->isMinimized())
            over = w->window();
    if (over == nullptr) {
        QWidget* active = QApplication::activeWindow();
        if (active != nullptr && active != this && active->isVisible() && !active->isMinimized())
            over = active;
    }
    QScreen* screen = over != nullptr ? over->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect available = screen->availableGeometry();
    const QRect area = over != nullptr ? over->frameGeometry() : available;
    QRect frame(QPoint(0, 0), frameGeometry().size().expandedTo(size()));
    frame.moveCenter(area.center());
    // Whole on the screen where it can be.
    frame.moveLeft(std::max(available.left(), std::min(frame.left(), available.right() + 1 - frame.width())));
    frame.moveTop(std::max(available.top(), std::min(frame.top(), available.bottom() + 1 - frame.height())));
    move(frame.topLeft());
    m_placedAt = pos();
    m_placed = true;
}

void Dialog::keyPressEvent(QKeyEvent* event)
{
    if (m_ignoreEscAndEnter) {
        switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter: event->accept(); return;
        default: break;
        }
    }
    QDialog::keyPressEvent(event);
}

} // namespace platform::gui
