#include "Dialog.h"

#include <QKeyEvent>
#include <QTimer>

namespace platform::gui {
namespace {
Dialog::ModalHook g_modalHook;
}

Dialog::Dialog(QWidget* parent) : QDialog(parent) { SetWindowExists(false); }

Dialog::~Dialog() { Detach(); }

Dialog::ModalHook Dialog::SetModalHook(ModalHook hook)
{
    ModalHook old = std::move(g_modalHook);
    g_modalHook = std::move(hook);
    return old;
}

void Dialog::EndDialog(int code)
{
    m_code = code;
    m_ended = true;
    if (m_inExec)
        QDialog::done(code);
}

int Dialog::DoModal()
{
    m_ended = false;
    m_code = 0;
    m_inModal = true;
    SetWindowExists(true);
    OnInitDialog();
    if (!m_ended) {
        if (g_modalHook) {
            QTimer::singleShot(0, this, [this] {
                if (m_inModal && !m_ended && g_modalHook)
                    g_modalHook(*this);
            });
        }
        setModal(true);
        m_inExec = true;
        QDialog::exec();
        m_inExec = false;
    }
    m_inModal = false;
    SetWindowExists(false);
    hide();
    // An ended dialog gives its window back, so that it leaves the
    // application's accessibility tree; the next run makes a new one.
    destroy();
    return m_code;
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
