#include "TaskPanel.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QPainter>
#include <QPainterPath>

#include "MessageTarget.h"
#include "Resources.h"

namespace platform::gui {
namespace {
constexpr int kMargin = 10;   // around the groups
constexpr int kGroupGap = 14; // above each group (room for its icon)
constexpr int kCaptionHeight = 25;
constexpr int kItemHeight = 20;
constexpr int kBodyPad = 8;
constexpr int kIconOverhang = 7; // the group icon rises above the caption
// The keyboard and accessibility side of a painted link: a button over the
// link that takes the focus (Tab), is pressed with Space or Enter and shows
// itself to assistive tools as a button named by the link's text. The panel
// paints the link and handles the mouse; the button draws only its focus.
class LinkButton : public QAbstractButton {
public:
    LinkButton(QWidget* parent, const QString& text) : QAbstractButton(parent)
    {
        setText(text);
        setAccessibleName(text);
        setFocusPolicy(Qt::StrongFocus);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!hasFocus())
            return;
        QPainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            click();
            return;
        }
        QAbstractButton::keyPressEvent(event);
    }
};

} // namespace

TaskPanelGroup::TaskPanelGroup(TaskPanel* panel, unsigned id, int icon)
    : m_panel(panel)
    , m_id(id)
    , m_caption(LoadString(id))
    , m_icon(icon)
{}

TaskPanelItem* TaskPanelGroup::AddLinkItem(unsigned id, int icon)
{
    RequireGuiThread("TaskPanelGroup::AddLinkItem");
    m_items.push_back(std::make_unique<TaskPanelItem>(id, LoadString(id), true, icon));
    m_panel->Relayout();
    return m_items.back().get();
}

TaskPanelItem* TaskPanelGroup::AddTextItem(const std::string& text)
{
    RequireGuiThread("TaskPanelGroup::AddTextItem");
    m_items.push_back(std::make_unique<TaskPanelItem>(0, text, false, -1));
    m_panel->Relayout();
    return m_items.back().get();
}

void TaskPanelGroup::RemoveAllItems()
{
    RequireGuiThread("TaskPanelGroup::RemoveAllItems");
    m_items.clear();
    m_panel->Relayout();
}

TaskPanelItem* TaskPanelGroup::GetItem(int index) const
{
    if (index < 0 || index >= GetItemCount())
        return nullptr;
    return m_items[static_cast<size_t>(index)].get();
}

TaskPanelItem* TaskPanelGroup::FindItem(unsigned id) const
{
    for (const auto& item : m_items)
        if (item->GetID() == id)
            return item.get();
    return nullptr;
}

void TaskPanelGroup::SetExpanded(bool expanded)
{
    RequireGuiThread("TaskPanelGroup::SetExpanded");
    m_expanded = expanded;
    m_panel->Relayout();
}

TaskPanel::TaskPanel(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumWidth(120);
}

TaskPanel::~TaskPanel() = default;

QColor TaskPanel::BackgroundColour() { return QColor(0x39, 0x80, 0xD2); }
QColor TaskPanel::CaptionColour() { return QColor(0x21, 0x5D, 0xC6); }
QColor TaskPanel::HotColour() { return QColor(0x42, 0x8E, 0xFF); }

TaskPanelGroup* TaskPanel::AddGroup(unsigned id, int icon)
{
    RequireGuiThread("TaskPanel::AddGroup");
    m_groups.push_back(std::make_unique<TaskPanelGroup>(this, id, icon));
    Relayout();
    return m_groups.back().get();
}

TaskPanelGroup* TaskPanel::FindGroup(unsigned id) const
{
    RequireGuiThread("TaskPanel::FindGroup");
    for (const auto& group : m_groups)
        if (group->GetID() == id)
            return group.get();
    return nullptr;
}

TaskPanelGroup* TaskPanel::GetGroup(int index) const
{
    if (index < 0 || index >= GetGroupCount())
        return nullptr;
    return m_groups[static_cast<size_t>(index)].get();
}

void TaskPanel::RemoveGroup(unsigned id)
{
    RequireGuiThread("TaskPanel::RemoveGroup");
    for (auto it = m_groups.begin(); it != m_groups.end(); ++it) {
        if ((*it)->GetID() == id) {
            m_groups.erase(it);
            break;
        }
    }
    Relayout();
}

void TaskPanel::RemoveAllGroups()
{
    RequireGuiThread("TaskPanel::RemoveAllGroups");
    m_groups.clear();
    Relayout();
}

void TaskPanel::SetIconsFromBitmap(unsigned bitmapId, int size) { SetImages(LoadImageStrip(bitmapId, size)); }

void TaskPanel::SetImages(std::vector<QPixmap> images)
{
    m_images = std::move(images);
    Relayout();
}

int TaskPanel::GetClientHeight() const { return m_contentHeight; }

int TaskPanel::NeededWidth() const
{
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics plain(font()), strong(bold);
    int width = 0;
    for (const auto& group : m_groups) {
        // The caption's text area is the band less its icon and button.
        const int band = CaptionTextRect(*group).width();
        const int around = group->m_captionRect.width() - band;
        width = std::max(width, strong.horizontalAdvance(QString::fromStdString(group->m_caption)) + around + 2);
        for (const auto& item : group->m_items)
            if (item->IsLink())
                width = std::max(width, plain.horizontalAdvance(QString::fromStdString(item->GetCaption())) +
                                            (item->GetIconIndex() >= 0 ? 20 : 0) + 2 * kBodyPad + 4);
    }
    return width + 2 * kMargin;
}

QSize TaskPanel::minimumSizeHint() const { return {std::max(minimumWidth(), NeededWidth()), m_contentHeight}; }

QSize TaskPanel::sizeHint() const { return minimumSizeHint(); }

void TaskPanel::Relayout()
{
    m_hot = nullptr;
    const int width = std::max(60, this->width() - 2 * kMargin);
    QFont plain = font();
    QFontMetrics metrics(plain);
    int y = kMargin;
    for (const auto& group : m_groups) {
        y += kGroupGap - kMargin / 2;
        group->m_captionRect = QRect(kMargin, y, width, kCaptionHeight);
        y += kCaptionHeight;
        int bodyTop = y;
        if (group->m_expanded) {
            y += kBodyPad;
            for (const auto& item : group->m_items) {
                int textWidth = width - 2 * kBodyPad;
                int height = kItemHeight;
                if (!item->IsLink()) {
                    QRect bound = metrics.boundingRect(QRect(0, 0, textWidth, 1000), Qt::TextWordWrap,
                                                       QString::fromStdString(item->GetCaption()));
                    height = std::max(kItemHeight, bound.height() + 4);
                }
                item->m_rect = QRect(kMargin + kBodyPad, y, textWidth, height);
                y += height;
            }
            y += kBodyPad;
        } else {
            for (const auto& item : group->m_items)
                item->m_rect = QRect();
        }
        group->m_bodyRect = QRect(kMargin, bodyTop, width, y - bodyTop);
    }
    const QSize before = minimumSizeHint();
    m_contentHeight = y + kMargin;
    if (minimumSizeHint() != before)
        updateGeometry();
    UpdateLinkButtons();
    update();
}

std::vector<QAbstractButton*> TaskPanel::LinkButtons() const
{
    std::vector<QAbstractButton*> buttons;
    for (const LinkButtonEntry& entry : m_linkButtons)
        buttons.push_back(entry.button);
    return buttons;
}

void TaskPanel::UpdateLinkButtons()
{
    // The links change with every rebuild: new buttons in the links' order,
    // the focus kept on the link that had it.
    unsigned focusedId = 0;
    bool hadFocus = false;
    for (const LinkButtonEntry& entry : m_linkButtons) {
        if (entry.button->hasFocus()) {
            focusedId = entry.id;
            hadFocus = true;
        }
    }
    for (const LinkButtonEntry& entry : m_linkButtons) {
        entry.button->hide();
        entry.button->deleteLater(); // it may be the one being pressed
    }
    m_linkButtons.clear();
    QFontMetrics metrics(font());
    for (const auto& group : m_groups) {
        if (!group->m_expanded)
            continue;
        for (const auto& item : group->m_items) {
            if (!item->IsLink())
                continue;
            const QString text = QString::fromStdString(item->GetCaption());
            auto* button = new LinkButton(this, text);
            const int left = item->m_rect.left() + (item->GetIconIndex() >= 0 ? 20 : 0);
            button->setGeometry(item->m_rect.left(), item->m_rect.top(),
                                left - item->m_rect.left() + metrics.horizontalAdvance(text) + 4,
                                item->m_rect.height());
            const unsigned id = item->GetID();
            connect(button, &QAbstractButton::clicked, this, [this, id] {
                if (m_onLink)
                    m_onLink(id); // the handler may rebuild the panel
            });
            button->show();
            m_linkButtons.push_back({id, button});
            if (hadFocus && id == focusedId)
                button->setFocus();
        }
    }
}

QRect TaskPanel::ItemRect(unsigned id) const
{
    for (const auto& group : m_groups)
        if (TaskPanelItem* item = group->FindItem(id))
            return item->m_rect;
    return {};
}

QRect TaskPanel::GroupCaptionRect(unsigned id) const
{
    TaskPanelGroup* group = FindGroup(id);
    return group ? group->m_captionRect : QRect();
}

QRect TaskPanel::CaptionTextRect(const TaskPanelGroup& group) const
{
    const QRect cap = group.m_captionRect;
    int textLeft = cap.left() + 10;
    if (group.m_icon >= 0 && group.m_icon < GetImageCount())
        textLeft = cap.left() + m_images[static_cast<size_t>(group.m_icon)].size().boundedTo(QSize(32, 32)).width() + 8;
    return {textLeft, cap.top(), cap.right() - textLeft - (group.m_expandable ? 24 : 6), cap.height()};
}

QRect TaskPanel::CaptionTextRect(unsigned id) const
{
    TaskPanelGroup* group = FindGroup(id);
    return group ? CaptionTextRect(*group) : QRect();
}

const TaskPanelItem* TaskPanel::LinkAt(const QPoint& point) const
{
    for (const auto& group : m_groups) {
        if (!group->m_expanded)
            continue;
        for (const auto& item : group->m_items) {
            if (!item->IsLink())
                continue;
            // The hit area is the caption's own width, as for a hyperlink.
            QFontMetrics metrics(font());
            int textWidth = metrics.horizontalAdvance(QString::fromStdString(item->GetCaption()));
            int left = item->m_rect.left() + (item->GetIconIndex() >= 0 ? 20 : 0);
            QRect hit(item->m_rect.left(), item->m_rect.top(), left - item->m_rect.left() + textWidth + 4,
                      item->m_rect.height());
            if (hit.contains(point))
                return item.get();
        }
    }
    return nullptr;
}

void TaskPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Relayout();
}

void TaskPanel::mouseMoveEvent(QMouseEvent* event)
{
    const TaskPanelItem* hot = LinkAt(event->position().toPoint());
    if (hot != m_hot) {
        m_hot = hot;
        setCursor(hot ? Qt::PointingHandCursor : Qt::ArrowCursor);
        update();
    }
}

void TaskPanel::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    if (m_hot) {
        m_hot = nullptr;
        update();
    }
}

void TaskPanel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint point = event->position().toPoint();
    for (const auto& group : m_groups) {
        if (group->m_expandable && group->m_captionRect.contains(point)) {
            group->SetExpanded(!group->m_expanded);
            return;
        }
    }
    if (const TaskPanelItem* link = LinkAt(point)) {
        unsigned id = link->GetID();
        if (m_onLink)
            m_onLink(id); // the handler may rebuild the panel
    }
}

void TaskPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect area = rect();
    p.fillRect(area, palette().color(QPalette::Button));
    // The blue rounded area, as tall as the content needs at least.
    QRectF blue(0.5, 0.5, area.width() - 1.0, std::max(area.height(), m_contentHeight) - 1.0);
    p.setPen(QPen(palette().color(QPalette::Dark), 1));
    p.setBrush(BackgroundColour());
    p.drawRoundedRect(blue, 5, 5);

    QFont captionFont = font();
    captionFont.setBold(true);
    for (const auto& group : m_groups) {
        const QRect cap = group->m_captionRect;
        // Caption band: white into pale blue, round upper corners.
        QPainterPath band;
        band.addRoundedRect(QRectF(cap).adjusted(0, 0, 0, 6), 5, 5);
        QLinearGradient gradient(cap.topLeft(), cap.topRight());
        gradient.setColorAt(0.0, QColor(0xFF, 0xFF, 0xFF));
        gradient.setColorAt(1.0, QColor(0xC6, 0xD3, 0xF7));
        p.save();
        p.setClipRect(cap);
        p.setPen(Qt::NoPen);
        p.setBrush(gradient);
        p.drawPath(band);
        p.restore();

        if (group->m_icon >= 0 && group->m_icon < GetImageCount()) {
            const QPixmap& icon = m_images[static_cast<size_t>(group->m_icon)];
            QSize size = icon.size().boundedTo(QSize(32, 32));
            p.drawPixmap(QRect(cap.left() + 3, cap.bottom() + 1 - size.height() + kIconOverhang - 6, size.width(),
                               size.height()),
                         icon);
        }
        p.setFont(captionFont);
        p.setPen(CaptionColour());
        const QRect textRect = CaptionTextRect(*group);
        p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                   QFontMetrics(captionFont)
                       .elidedText(QString::fromStdString(group->m_caption), Qt::ElideRight, textRect.width()));
        if (group->m_expandable) {
            // Round button with a chevron.
            QPointF c(cap.right() - 13, cap.center().y() + 0.5);
            p.setPen(QPen(QColor(0xB0, 0xBE, 0xE8), 1));
            p.setBrush(Qt::white);
            p.drawEllipse(c, 8, 8);
            p.setPen(QPen(CaptionColour(), 1.6));
            const double d = group->m_expanded ? -1.0 : 1.0;
            for (double off : {-2.5, 1.5}) {
                QPointF a(c.x() - 3.5, c.y() + off - d * 1.5), m(c.x(), c.y() + off + d * 1.5),
                    b(c.x() + 3.5, c.y() + off - d * 1.5);
                p.drawPolyline(QPolygonF({a, m, b}));
            }
        }
        if (!group->m_expanded)
            continue;
        const QRect body = group->m_bodyRect;
        p.setPen(QPen(Qt::white, 1));
        p.setBrush(QColor(0xD6, 0xDF, 0xF7));
        p.drawRect(QRectF(body).adjusted(0.5, 0, -0.5, -0.5));
        for (const auto& item : group->m_items) {
            QRect r = item->m_rect;
            int left = r.left();
            if (item->GetIconIndex() >= 0 && item->GetIconIndex() < GetImageCount()) {
                p.drawPixmap(QRect(left, r.top() + (r.height() - 16) / 2, 16, 16),
                             m_images[static_cast<size_t>(item->GetIconIndex())]);
                left += 20;
            }
            QFont itemFont = font();
            itemFont.setBold(item->IsBold());
            QColor colour(0x21, 0x3B, 0x80);
            if (item->IsLink()) {
                colour = item.get() == m_hot ? HotColour() : CaptionColour();
                itemFont.setUnderline(item.get() == m_hot);
            }
            p.setFont(itemFont);
            p.setPen(colour);
            p.drawText(QRect(left, r.top(), r.right() - left, r.height()),
                       Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap, QString::fromStdString(item->GetCaption()));
        }
    }
}

} // namespace platform::gui
