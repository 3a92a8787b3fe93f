#include "TaskPanel.h"

#include "Dialog.h"
#include "LeafAccessible.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

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
constexpr int kBarGap = 2;       // between the groups and the scroll bar
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

// Lays a paragraph out wrapped to width: at word boundaries where it can,
// anywhere in a word too long for a line. Returns its height.
int WrapParagraph(QTextLayout& layout, int width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    return std::max(QFontMetrics(layout.font()).height(), static_cast<int>(std::ceil(y)));
}

// A caption or text line of the panel as assistive tools read it.
class TaskTextAccessible : public LeafAccessible<TaskPanel> {
public:
    TaskTextAccessible(TaskPanel* panel, int index) : LeafAccessible(panel), m_index(index) {}
    bool isValid() const override { return m_owner && m_index < static_cast<int>(m_owner->TextLines().size()); }
    QAccessible::Role role() const override
    {
        return isValid() && Line().caption ? QAccessible::Heading : QAccessible::StaticText;
    }
    QString text(QAccessible::Text t) const override
    {
        return isValid() && t == QAccessible::Name ? Line().text : QString();
    }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = Line().rect;
        return {m_owner->mapToGlobal(r.topLeft()), r.size()};
    }
    QAccessible::State state() const override
    {
        QAccessible::State st;
        st.readOnly = true;
        if (isValid()) {
            st.invisible = !m_owner->isVisible();
            st.offscreen = !m_owner->rect().contains(Line().rect); // scrolled out of view
        }
        return st;
    }

private:
    TaskPanel::TextLine Line() const { return m_owner->TextLines()[static_cast<size_t>(m_index)]; }

    int m_index;
};

// The panel: its widgets (the links' buttons, the scroll bar), then its
// captions and text lines.
class TaskPanelAccessible : public QAccessibleWidget {
public:
    explicit TaskPanelAccessible(TaskPanel* panel) : QAccessibleWidget(panel, QAccessible::Pane) {}
    ~TaskPanelAccessible() override
    {
        for (QAccessible::Id id : m_lines)
            QAccessible::deleteAccessibleInterface(id);
    }
    TaskPanelAccessible(const TaskPanelAccessible&) = delete;
    TaskPanelAccessible& operator=(const TaskPanelAccessible&) = delete;

    int childCount() const override
    {
        return QAccessibleWidget::childCount() + static_cast<int>(Panel()->TextLines().size());
    }
    QAccessibleInterface* child(int index) const override
    {
        const int widgets = QAccessibleWidget::childCount();
        if (index < widgets)
            return QAccessibleWidget::child(index);
        const int line = index - widgets;
        if (line >= static_cast<int>(Panel()->TextLines().size()))
            return nullptr;
        // One interface per line number, made when first asked for.
        while (static_cast<int>(m_lines.size()) <= line)
            m_lines.push_back(QAccessible::registerAccessibleInterface(
                new TaskTextAccessible(Panel(), static_cast<int>(m_lines.size()))));
        return QAccessible::accessibleInterface(m_lines[static_cast<size_t>(line)]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const int lines = static_cast<int>(Panel()->TextLines().size());
        for (size_t i = 0; i < m_lines.size() && static_cast<int>(i) < lines; ++i)
            if (QAccessible::accessibleInterface(m_lines[i]) == child)
                return QAccessibleWidget::childCount() + static_cast<int>(i);
        return QAccessibleWidget::indexOfChild(child);
    }

private:
    TaskPanel* Panel() const { return static_cast<TaskPanel*>(widget()); }

    mutable std::vector<QAccessible::Id> m_lines;
};

// A link's button as assistive tools see it: a push button named by the
// link, pressed as a click presses it, and off-screen while the panel has
// scrolled the link wholly out of view.
class LinkAccessible : public QAccessibleWidget {
public:
    explicit LinkAccessible(QAbstractButton* button) : QAccessibleWidget(button, QAccessible::PushButton) {}
    QAccessible::State state() const override
    {
        QAccessible::State st = QAccessibleWidget::state();
        const QWidget* panel = widget()->parentWidget();
        st.offscreen = panel != nullptr && !panel->rect().intersects(widget()->geometry());
        return st;
    }
    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString& action) override
    {
        if (action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (widget()->isEnabled())
            static_cast<QAbstractButton*>(widget())->animateClick();
    }
};

QAccessibleInterface* TaskPanelFactory(const QString&, QObject* object)
{
    if (auto* panel = qobject_cast<TaskPanel*>(object))
        return new TaskPanelAccessible(panel);
    if (auto* link = dynamic_cast<LinkButton*>(object))
        return new LinkAccessible(link);
    return nullptr;
}

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
    static const bool factory = (QAccessible::installFactory(TaskPanelFactory), true);
    (void)factory;
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumWidth(120);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    m_bar = new QScrollBar(Qt::Vertical, this);
    m_bar->setFocusPolicy(Qt::TabFocus); // the keyboard scrolls the texts too
    m_bar->setAccessibleName("Scroll the tasks");
    m_bar->hide();
    connect(m_bar, &QScrollBar::valueChanged, this, [this] {
        LayOut(m_bodyWidth, m_bar->value());
        m_hot = nullptr;
        PlaceLinkButtons();
        update();
    });
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

void TaskPanel::EnsureVisible(const QRect& rect)
{
    if (!m_bar->isVisibleTo(this))
        return;
    int value = m_bar->value();
    if (rect.bottom() >= height() - kMargin)
        value += rect.bottom() - height() + kMargin + 1;
    if (rect.top() - (value - m_bar->value()) < kMargin)
        value += rect.top() - (value - m_bar->value()) - kMargin;
    m_bar->setValue(value);
}

std::vector<TaskPanel::TextLine> TaskPanel::TextLines() const
{
    std::vector<TextLine> lines;
    for (const auto& group : m_groups) {
        const QString caption = QString::fromStdString(group->m_caption).simplified();
        if (!caption.isEmpty())
            lines.push_back({caption, CaptionTextRect(*group), true});
        if (!group->m_expanded)
            continue;
        for (const auto& item : group->m_items) {
            if (item->IsLink())
                continue;
            const QStringList paragraphs = QString::fromStdString(item->GetCaption()).split('\n');
            for (qsizetype i = 0; i < paragraphs.size() && i < static_cast<qsizetype>(item->m_lines.size()); ++i)
                if (!paragraphs[i].trimmed().isEmpty())
                    lines.push_back({paragraphs[i].simplified(), item->m_lines[static_cast<size_t>(i)], false});
        }
    }
    return lines;
}

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
    // Room for the scroll bar is always kept, so that the panel keeps its
    // width when the bar comes and goes.
    return width + 2 * kMargin + m_bar->sizeHint().width() + kBarGap;
}

QSize TaskPanel::minimumSizeHint() const { return {std::max(minimumWidth(), NeededWidth()), 0}; }

QSize TaskPanel::sizeHint() const { return {minimumSizeHint().width(), m_contentHeight}; }

int TaskPanel::LayOut(int width, int offset)
{
    QFont bold = font();
    bold.setBold(true);
    int y = kMargin - offset;
    for (const auto& group : m_groups) {
        y += kGroupGap - kMargin / 2;
        group->m_captionRect = QRect(kMargin, y, width, kCaptionHeight);
        y += kCaptionHeight;
        int bodyTop = y;
        for (const auto& item : group->m_items) {
            item->m_rect = QRect();
            item->m_lines.clear();
        }
        if (group->m_expanded) {
            y += kBodyPad;
            for (const auto& item : group->m_items) {
                const int textWidth = width - 2 * kBodyPad;
                int height = kItemHeight;
                if (!item->IsLink()) {
                    // Each line of the text wrapped to the panel's width,
                    // the whole centred in the item.
                    std::vector<int> heights;
                    int total = 0;
                    for (const QString& paragraph : QString::fromStdString(item->GetCaption()).split('\n')) {
                        QTextLayout layout(paragraph, item->IsBold() ? bold : font());
                        heights.push_back(WrapParagraph(layout, textWidth));
                        total += heights.back();
                    }
                    height = std::max(kItemHeight, total + 4);
                    int top = y + (height - total) / 2;
                    for (int h : heights) {
                        item->m_lines.emplace_back(kMargin + kBodyPad, top, textWidth, h);
                        top += h;
                    }
                }
                item->m_rect = QRect(kMargin + kBodyPad, y, textWidth, height);
                y += height;
            }
            y += kBodyPad;
        }
        group->m_bodyRect = QRect(kMargin, bodyTop, width, y - bodyTop);
    }
    return y + kMargin + offset;
}

void TaskPanel::Relayout()
{
    m_hot = nullptr;
    // The groups as wide as the panel; when they are then taller than it,
    // narrower by the scroll bar, which scrolls them.
    const int full = std::max(60, width() - 2 * kMargin);
    const int bar = m_bar->sizeHint().width();
    m_bodyWidth = full;
    int content = LayOut(m_bodyWidth, 0);
    const bool scroll = content > height();
    if (scroll) {
        m_bodyWidth = std::max(60, full - bar - kBarGap);
        content = LayOut(m_bodyWidth, 0);
    }
    {
        const QSignalBlocker quiet(m_bar);
        m_bar->setRange(0, scroll ? content - height() : 0);
        m_bar->setPageStep(std::max(1, height() - kCaptionHeight));
        m_bar->setSingleStep(kItemHeight);
        m_bar->setGeometry(width() - bar - 3, 3, bar, std::max(0, height() - 6));
        m_bar->setVisible(scroll);
    }
    if (m_bar->value() != 0)
        LayOut(m_bodyWidth, m_bar->value());
    const QSize before = sizeHint();
    m_contentHeight = content;
    if (sizeHint() != before)
        updateGeometry();
    UpdateLinkButtons();
    update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&event);
    }
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
    // A link still shown keeps its button, so that its focus, its place in
    // a reader's tree and a press still under way (an assistive tool's press
    // clicks a moment later) survive a rebuild; the others go, and new links
    // get buttons, all in the links' order.
    std::vector<LinkButtonEntry> old = std::move(m_linkButtons);
    m_linkButtons.clear();
    QWidget* previous = nullptr;
    for (const TaskPanelItem* item : ShownLinks()) {
        const QString text = QString::fromStdString(item->GetCaption());
        const unsigned id = item->GetID();
        auto kept = std::find_if(old.begin(), old.end(), [id](const LinkButtonEntry& e) { return e.id == id; });
        QAbstractButton* button = nullptr;
        if (kept != old.end()) {
            button = kept->button;
            old.erase(kept);
            button->setText(text);
            button->setAccessibleName(text);
        } else {
            button = new LinkButton(this, text);
            button->installEventFilter(this); // a link the keyboard reaches scrolls into view
            connect(button, &QAbstractButton::clicked, this, [this, id] { ActivateLink(id); });
        }
        if (previous != nullptr)
            setTabOrder(previous, button);
        previous = button;
        m_linkButtons.push_back({id, button});
    }
    for (const LinkButtonEntry& entry : old) {
        entry.button->hide();
        entry.button->deleteLater(); // it may be the one being pressed
    }
    if (previous != nullptr)
        setTabOrder(previous, m_bar);
    PlaceLinkButtons();
    for (const LinkButtonEntry& entry : m_linkButtons)
        entry.button->show();
}

void TaskPanel::PlaceLinkButtons()
{
    // Each button over its link's caption, where the link is drawn now.
    const std::vector<const TaskPanelItem*> links = ShownLinks();
    for (size_t i = 0; i < links.size() && i < m_linkButtons.size(); ++i)
        m_linkButtons[i].button->setGeometry(LinkArea(*links[i]));
}

std::vector<const TaskPanelItem*> TaskPanel::ShownLinks() const
{
    std::vector<const TaskPanelItem*> links;
    for (const auto& group : m_groups) {
        if (!group->m_expanded)
            continue;
        for (const auto& item : group->m_items)
            if (item->IsLink())
                links.push_back(item.get());
    }
    return links;
}

QRect TaskPanel::LinkArea(const TaskPanelItem& link) const
{
    // The caption's own width, as for a hyperlink.
    const QRect r = link.m_rect;
    const int left = r.left() + (link.GetIconIndex() >= 0 ? 20 : 0);
    return {r.left(), r.top(),
            left - r.left() + QFontMetrics(font()).horizontalAdvance(QString::fromStdString(link.GetCaption())) + 4,
            r.height()};
}

bool TaskPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn)
        if (auto* button = qobject_cast<QAbstractButton*>(watched); button != nullptr && button->parentWidget() == this)
            EnsureVisible(button->geometry());
    return QWidget::eventFilter(watched, event);
}

void TaskPanel::wheelEvent(QWheelEvent* event)
{
    if (m_bar->isVisibleTo(this))
        QCoreApplication::sendEvent(m_bar, event);
    else
        event->ignore();
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
    for (const TaskPanelItem* item : ShownLinks())
        if (LinkArea(*item).contains(point))
            return item;
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
    if (const TaskPanelItem* link = LinkAt(point))
        ActivateLink(link->GetID());
}

void TaskPanel::ActivateLink(unsigned id)
{
    if (m_onLink && !BlockedByModal(this))
        m_onLink(id); // the handler may rebuild the panel
}

void TaskPanel::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect area = rect();
    p.fillRect(area, palette().color(QPalette::Button));
    // The blue rounded area; the groups scroll inside it.
    QRectF blue(0.5, 0.5, area.width() - 1.0, area.height() - 1.0);
    p.setPen(QPen(palette().color(QPalette::Dark), 1));
    p.setBrush(BackgroundColour());
    p.drawRoundedRect(blue, 5, 5);
    p.setClipRect(area.adjusted(1, 1, -1, -1));

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
                p.setFont(itemFont);
                p.setPen(colour);
                p.drawText(QRect(left, r.top(), r.right() - left, r.height()), Qt::AlignVCenter | Qt::AlignLeft,
                           QString::fromStdString(item->GetCaption()));
                continue;
            }
            // Each line as it was laid out, wrapped to the item's width.
            p.setPen(colour);
            const QStringList paragraphs = QString::fromStdString(item->GetCaption()).split('\n');
            for (qsizetype i = 0; i < paragraphs.size() && i < static_cast<qsizetype>(item->m_lines.size()); ++i) {
                const QRect line = item->m_lines[static_cast<size_t>(i)];
                QTextLayout layout(paragraphs[i], itemFont);
                WrapParagraph(layout, line.width());
                layout.draw(&p, QPointF(line.left() + (left - r.left()), line.top()));
            }
        }
    }
}

} // namespace platform::gui
