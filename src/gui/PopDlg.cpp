#include "PopDlg.h"

#include <QPainter>

#include "AVICtrl.h"
#include "ui_PopDlg.h"

using namespace platform::gui;

CPopDlg::CPopDlg(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::PopDlg>())
{
    m_ui->setupUi(this);
    IgnoreEscAndEnter();
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    // No title bar shows it, but a screen reader announces the window by its
    // title, then the text that has the focus.
    setWindowTitle("Please wait");
    m_ui->message->setFocusPolicy(Qt::StrongFocus);
    QFont font = m_ui->message->font();
    font.setPointSize(8);
    m_ui->message->setFont(font);
    m_animation = new CAVICtrl(this);
    SetMessageHandler(WM_POP_SETTEXT, [this](const Message& m) { return OnSetText(m); });
    SetMessageHandler(WM_POP_CLOSE, [this](const Message& m) { return OnClosePopup(m); });
}

CPopDlg::~CPopDlg() { Detach(); }

void CPopDlg::SetMessage(const std::string& text)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_message = text;
    }
    PostMessage(WM_POP_SETTEXT);
}

void CPopDlg::Close(int code)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closeCode = code;
        m_closePending = true;
    }
    PostMessage(WM_POP_CLOSE, 0, code);
}

void CPopDlg::Dismiss()
{
    if (!IsInModalRun())
        return;
    m_animation->Close();
    EndDialog(0);
}

std::string CPopDlg::GetShownText() const { return m_ui->message->text().toStdString(); }

bool CPopDlg::OnInitDialog()
{
    m_animation->Attach(m_ui->animation);
    m_animation->OpenFromResource(255, AVC_CENTERAVI | AVC_AUTOPLAY | AVC_FIRSTFRAMETRANSPARENT, RGB(0, 255, 0));
    OnSetText({});
    m_ui->message->setFocus();
    EndIfClosed();
    return true;
}

intptr_t CPopDlg::OnSetText(const Message&)
{
    std::string text;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        text = m_message;
    }
    m_ui->message->setText(QString::fromStdString(text));
    return 0;
}

intptr_t CPopDlg::OnClosePopup(const Message&)
{
    // The code travels in the member: a stale message from an earlier run
    // finds nothing pending and does nothing.
    EndIfClosed();
    return 0;
}

void CPopDlg::EndIfClosed()
{
    if (!IsInModalRun())
        return;
    int code;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_closePending)
            return;
        m_closePending = false;
        code = m_closeCode;
    }
    m_animation->Close();
    EndDialog(code);
}

void CPopDlg::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0xFF, 0xFF, 0xFF));
    p.setPen(QColor(0x00, 0x3C, 0x74));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}
