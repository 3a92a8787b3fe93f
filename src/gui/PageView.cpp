#include "PageView.h"

#include <QPainter>
#include <QPainterPath>

#include "CommandBars.h"
#include "ListCtrl.h"
#include "TaskPanel.h"
#include "ui_PageView.h"

using namespace platform::gui;

CPageView::CPageView(QWidget* parent) : QWidget(parent), m_ui(std::make_unique<Ui::PageView>())
{
    m_ui->setupUi(this);
    m_ui->title->setStyleSheet("color: #FFFFFF; background: transparent;");
}

CPageView::~CPageView() { Detach(); }

QColor CPageView::TitleBandColour() { return QColor(0x39, 0x80, 0xD2); }

TaskPanel* CPageView::GetTaskPanel() const { return m_ui->taskPanel; }

ListCtrl* CPageView::GetListCtrl() const { return m_ui->list; }

bool CPageView::CreatePage(const QRect& rect, QWidget* parent)
{
    m_createRect = rect;
    setParent(parent);
    setGeometry(rect);
    hide();
    OnInitialUpdate();
    return true;
}

void CPageView::OnInitialUpdate()
{
    DoDataExchange();
    TaskPanel* panel = GetTaskPanel();
    panel->SetLinkHandler([this](unsigned id) { OnTaskPanelLink(id); });
    if (m_taskPanelIconId != 0)
        panel->SetIconsFromBitmap(m_taskPanelIconId, 32);

    ListCtrl* list = GetListCtrl();
    if (m_largeIconId != 0) {
        std::vector<QPixmap> large = LoadImageStrip(m_largeIconId, 64);
        std::vector<QPixmap> small;
        if (m_smallIconId != 0)
            small = LoadImageStrip(m_smallIconId, 32);
        list->SetImageLists(std::move(large), std::move(small));
    }
    list->SetFullRowSelect(true);
    if (!m_ui->title->text().isEmpty())
        list->SetAccessibleName(m_ui->title->text());
    else if (list->accessibleName().isEmpty())
        list->SetAccessibleName(objectName().isEmpty() ? QString("Items") : objectName());
    ListCtrl::Notify notify;
    notify.onClick = [this](int item) { OnListClick(item); };
    notify.onRClick = [this](int item) { OnListRClick(item); };
    notify.onDblClk = [this](int item) { OnListDblClk(item); };
    notify.onItemSelected = [this](int item) { OnListItemSelected(item); };
    list->SetNotify(std::move(notify));

    // Title: bold, antialiased, as tall as its line.
    QFont font = m_ui->title->font();
    font.setBold(true);
    font.setPixelSize(15);
    font.setStyleStrategy(QFont::PreferAntialias);
    m_ui->title->setFont(font);
}

void CPageView::SetTitle(const std::string& title)
{
    m_ui->title->setText(QString::fromStdString(title));
    // The page's list is named by the page.
    GetListCtrl()->SetAccessibleName(QString::fromStdString(title));
}

std::string CPageView::GetTitle() const { return m_ui->title->text().toStdString(); }

void CPageView::ShowPopupMenu(unsigned menuId)
{
    Menu menu;
    if (!LoadMenu(menuId, menu) || menu.empty())
        return;
    ShowPopupMenu(menu.front().popup ? menu.front().items : menu);
}

void CPageView::ShowPopupMenu(const Menu& items)
{
    unsigned id = TrackPopupMenu(items, GetListCtrl()->PopupPoint(), this);
    if (id != 0)
        OnCommand(id);
}

bool CPageView::OnCommand(unsigned id)
{
    OnPageCommand(id);
    return true;
}

intptr_t CPageView::OnMessage(const Message& message)
{
    if (message.id == WM_COMMAND) {
        OnCommand(static_cast<unsigned>(message.wParam & 0xFFFF));
        return 0;
    }
    return MessageTarget::OnMessage(message);
}

void CPageView::paintEvent(QPaintEvent*)
{
    // The title band: round upper corners, square lower ones.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF band = QRectF(m_ui->titleBand->geometry()).adjusted(0.5, 0.5, -0.5, 0.5);
    QPainterPath path;
    path.addRoundedRect(band, 5, 5);
    QPainterPath lower;
    lower.addRect(band.adjusted(0, band.height() - 5, 0, 0));
    path = path.united(lower);
    p.setPen(QPen(palette().color(QPalette::Dark), 1));
    p.setBrush(TitleBandColour());
    p.drawPath(path.simplified());
}
