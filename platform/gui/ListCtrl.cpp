#include "ListCtrl.h"

#include "Dialog.h"
#include "LeafAccessible.h"
#include "MessageTarget.h"

#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QCursor>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPointer>
#include <QStackedLayout>
#include <QStyleOptionHeader>
#include <QStandardItemModel>
#include <QTreeView>
#include <algorithm>

namespace platform::gui {
namespace {
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kDataRole = Qt::UserRole + 2;
// A heading as drawn, where it differs from its words (the heading's text,
// which is what assistive tools read).
constexpr int kDrawnHeadingRole = Qt::UserRole + 3;
constexpr const char* kIconViewProperty = "tolvaneIconView";

// The icon view shows one column of a model that has several (the report
// view's): to assistive tools it is a list of one item per row, named by
// that row's shown text and placed where the item is drawn. Its actions are
// the mouse's: Toggle selects the row as a click does, Press opens it as a
// double click does.
class IconItemAccessible : public LeafAccessible<QListView>, public QAccessibleActionInterface {
public:
    IconItemAccessible(QListView* view, int row) : LeafAccessible(view), m_row(row) {}
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }
    QStringList actionNames() const override { return {toggleAction(), pressAction()}; }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
    void doAction(const QString& name) override
    {
        auto* list = m_owner ? qobject_cast<ListCtrl*>(m_owner->parentWidget()) : nullptr;
        if (list == nullptr || !isValid())
            return;
        if (name == toggleAction())
            list->ClickRow(m_row);
        else if (name == pressAction())
            list->DoubleClickRow(m_row);
    }
    bool isValid() const override
    {
        return m_owner && m_owner->model() && m_row < m_owner->model()->rowCount(m_owner->rootIndex());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        if (t == QAccessible::Name)
            return Index().data(Qt::DisplayRole).toString().simplified();
        if (t == QAccessible::Description)
            return Index().data(Qt::AccessibleDescriptionRole).toString();
        return {};
    }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = m_owner->visualRect(Index());
        return {m_owner->viewport()->mapToGlobal(r.topLeft()), r.size()};
    }
    QAccessible::State state() const override
    {
        QAccessible::State st;
        if (!isValid())
            return st;
        st.selectable = true;
        st.focusable = true;
        st.selected = m_owner->selectionModel() && m_owner->selectionModel()->isSelected(Index());
        st.focused = m_owner->hasFocus() && m_owner->currentIndex() == Index();
        st.invisible = !m_owner->isVisible() || !m_owner->viewport()->rect().intersects(m_owner->visualRect(Index()));
        return st;
    }

private:
    QModelIndex Index() const { return m_owner->model()->index(m_row, m_owner->modelColumn(), m_owner->rootIndex()); }

    int m_row;
};

class IconListAccessible : public QAccessibleWidget {
public:
    explicit IconListAccessible(QListView* view) : QAccessibleWidget(view, QAccessible::List) {}
    ~IconListAccessible() override
    {
        for (QAccessible::Id id : m_items)
            QAccessible::deleteAccessibleInterface(id);
    }
    IconListAccessible(const IconListAccessible&) = delete;
    IconListAccessible& operator=(const IconListAccessible&) = delete;

    int childCount() const override
    {
        const QListView* v = View();
        return v->model() ? v->model()->rowCount(v->rootIndex()) : 0;
    }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        // One interface per row number, made when first asked for.
        while (static_cast<int>(m_items.size()) <= index)
            m_items.push_back(QAccessible::registerAccessibleInterface(
                new IconItemAccessible(View(), static_cast<int>(m_items.size()))));
        return QAccessible::accessibleInterface(m_items[static_cast<size_t>(index)]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (size_t i = 0; i < m_items.size(); ++i)
            if (QAccessible::accessibleInterface(m_items[i]) == child)
                return static_cast<int>(i);
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QListView* v = View();
        const QModelIndex index = v->indexAt(v->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? child(index.row()) : nullptr;
    }

private:
    QListView* View() const { return static_cast<QListView*>(widget()); }

    mutable std::vector<QAccessible::Id> m_items;
};

// The rows' selection, which both views share. A change asked while a modal
// window stands in front of the list (an assistive tool's Toggle on a row of
// the report view) is refused, as a click could not reach the row; the
// list's own changes pass.
class RowSelection : public QItemSelectionModel {
public:
    RowSelection(QAbstractItemModel* model, QWidget* list) : QItemSelectionModel(model, list), m_list(list) {}
    void select(const QModelIndex& index, SelectionFlags command) override
    {
        if (Allowed())
            QItemSelectionModel::select(index, command);
    }
    void select(const QItemSelection& selection, SelectionFlags command) override
    {
        if (Allowed())
            QItemSelectionModel::select(selection, command);
    }
    int m_own = 0; // changes under way that the list itself makes

private:
    bool Allowed() const { return m_own > 0 || !BlockedByModal(m_list); }

    QWidget* m_list;
};

// While one lives, the selection changes are the list's own.
class OwnChange {
public:
    explicit OwnChange(QItemSelectionModel* selection) : m_selection(static_cast<RowSelection*>(selection))
    {
        ++m_selection->m_own;
    }
    ~OwnChange() { --m_selection->m_own; }
    OwnChange(const OwnChange&) = delete;
    OwnChange& operator=(const OwnChange&) = delete;

private:
    RowSelection* m_selection;
};

// The report view's header draws each heading as it was given: with the
// blanks that set it off, or none over the icon column.
class ListHeader : public QHeaderView {
public:
    explicit ListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logical) const override
    {
        QHeaderView::initStyleOptionForIndex(option, logical);
        option->text = Drawn(logical, option->text);
    }
    QSize sectionSizeFromContents(int logical) const override
    {
        QSize size = QHeaderView::sectionSizeFromContents(logical);
        const QString words = model() ? model()->headerData(logical, orientation()).toString() : QString();
        const QFontMetrics metrics(font());
        size.rwidth() += metrics.horizontalAdvance(Drawn(logical, words)) - metrics.horizontalAdvance(words);
        return size;
    }

private:
    QString Drawn(int logical, const QString& words) const
    {
        const QVariant drawn = model() ? model()->headerData(logical, orientation(), kDrawnHeadingRole) : QVariant();
        return drawn.isValid() ? drawn.toString() : words;
    }
};

// A list control holds both views and shows one: to assistive tools it has
// only the one shown, so that no rows are found where none are drawn.
class ListCtrlAccessible : public QAccessibleWidget {
public:
    explicit ListCtrlAccessible(ListCtrl* list) : QAccessibleWidget(list) {}
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(List()->CurrentView()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child != nullptr && child->object() == List()->CurrentView() ? 0 : -1;
    }

private:
    ListCtrl* List() const { return static_cast<ListCtrl*>(widget()); }
};

QAccessibleInterface* IconListFactory(const QString&, QObject* object)
{
    auto* view = qobject_cast<QListView*>(object);
    if (view != nullptr && view->property(kIconViewProperty).toBool())
        return new IconListAccessible(view);
    if (auto* list = qobject_cast<ListCtrl*>(object))
        return new ListCtrlAccessible(list);
    return nullptr;
}
} // namespace

ListCtrl::ListCtrl(QWidget* parent) : QWidget(parent)
{
    m_model = new QStandardItemModel(this);
    m_icons = new QListView(this);
    static const bool iconFactory = (QAccessible::installFactory(IconListFactory), true);
    (void)iconFactory;
    m_icons->setProperty(kIconViewProperty, true);
    m_report = new QTreeView(this);
    m_report->setHeader(new ListHeader(m_report));
    m_icons->setModel(m_model);
    m_report->setModel(m_model);
    QItemSelectionModel* made = m_icons->selectionModel();
    m_icons->setSelectionModel(new RowSelection(m_model, this));
    delete made;
    m_report->setSelectionModel(m_icons->selectionModel());

    m_icons->setViewMode(QListView::IconMode);
    m_icons->setMovement(QListView::Static);
    m_icons->setResizeMode(QListView::Adjust);
    m_icons->setWrapping(true);
    m_icons->setUniformItemSizes(true);
    m_icons->setWordWrap(true);
    m_icons->setTextElideMode(Qt::ElideNone);
    m_icons->setSpacing(6);
    m_icons->setIconSize(QSize(64, 64));
    m_icons->setGridSize(QSize(110, 100));

    m_report->setRootIsDecorated(false);
    m_report->setItemsExpandable(false);
    m_report->setUniformRowHeights(true);
    m_report->setAllColumnsShowFocus(true);
    m_report->setIconSize(QSize(16, 16));
    m_report->header()->setStretchLastSection(true);
    m_report->header()->setSectionsMovable(false);

    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(m_icons), static_cast<QAbstractItemView*>(m_report)}) {
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->viewport()->installEventFilter(this);
        view->installEventFilter(this);
    }

    m_stack = new QStackedLayout(this);
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->addWidget(m_icons);
    m_stack->addWidget(m_report);
    m_stack->setCurrentWidget(m_icons);
    setFocusProxy(m_icons);
    // Rows that come or go under the focus leave it on a current row.
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] { EnsureCurrentItemLater(); });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] { EnsureCurrentItemLater(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { EnsureCurrentItemLater(); });

    connect(m_icons->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                std::vector<int> rows;
                for (const QModelIndex& index : selected.indexes())
                    if (index.column() == 0)
                        rows.push_back(index.row());
                for (int row : rows) {
                    m_selectionMark = row;
                    if (m_notify.onItemSelected)
                        m_notify.onItemSelected(row);
                }
                // A row unselected by the user (Ctrl+Space, Ctrl+click)
                // leaves nothing selected, as a click off the rows does, and
                // is told as that click.
                auto* selection = static_cast<RowSelection*>(m_icons->selectionModel());
                if (selected.isEmpty() && !deselected.isEmpty() && !selection->hasSelection() &&
                    selection->m_own == 0 && m_notify.onClick)
                    m_notify.onClick(-1);
            });
}

ListCtrl::~ListCtrl() = default;

void ListCtrl::SetView(View view)
{
    const bool focused = CurrentView()->hasFocus();
    m_view = view;
    switch (view) {
    case Icon:
        m_icons->setViewMode(QListView::IconMode);
        m_icons->setIconSize(QSize(64, 64));
        m_icons->setGridSize(QSize(110, 100));
        m_stack->setCurrentWidget(m_icons);
        break;
    case SmallIcon:
        m_icons->setViewMode(QListView::IconMode);
        m_icons->setIconSize(QSize(32, 32));
        m_icons->setGridSize(QSize(100, 64));
        m_stack->setCurrentWidget(m_icons);
        break;
    case List:
        m_icons->setViewMode(QListView::ListMode);
        m_icons->setIconSize(QSize(16, 16));
        m_icons->setGridSize(QSize());
        m_stack->setCurrentWidget(m_icons);
        break;
    case Report: m_stack->setCurrentWidget(m_report); break;
    }
    setFocusProxy(CurrentView());
    if (focused)
        CurrentView()->setFocus();
}

void ListCtrl::EnsureCurrentItem(bool selectSingle)
{
    const int count = GetItemCount();
    if (count == 0)
        return;
    const int selected = GetSelectedItem();
    if (selected < 0 && count == 1 && selectSingle) {
        SetItemSelected(0, true);
        return;
    }
    QItemSelectionModel* selection = m_icons->selectionModel();
    const int current = selection->currentIndex().row();
    if (selected >= 0 ? current != selected : current < 0)
        selection->setCurrentIndex(m_model->index(std::max(selected, 0), 0), QItemSelectionModel::NoUpdate);
}

void ListCtrl::EnsureCurrentItemLater()
{
    // Once the rows of a refresh are all in.
    if (m_ensurePending)
        return;
    m_ensurePending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_ensurePending = false;
            if (CurrentView()->hasFocus())
                EnsureCurrentItem(true);
        },
        Qt::QueuedConnection);
}

QAbstractItemView* ListCtrl::CurrentView() const
{
    return m_view == Report ? static_cast<QAbstractItemView*>(m_report) : static_cast<QAbstractItemView*>(m_icons);
}

int ListCtrl::InsertColumn(int column, const std::string& heading, int align, int width)
{
    const int count = GetColumnCount();
    if (column < 0)
        return -1;
    if (column > count)
        column = count;
    m_model->insertColumn(column);
    const QString drawn = QString::fromStdString(heading);
    auto* header = new QStandardItem(drawn.simplified());
    header->setTextAlignment(static_cast<Qt::Alignment>(align) | Qt::AlignVCenter);
    if (drawn != header->text())
        header->setData(drawn, kDrawnHeadingRole);
    m_model->setHorizontalHeaderItem(column, header);
    m_align.insert(m_align.begin() + column, align);
    if (width >= 0)
        m_report->setColumnWidth(column, width);
    return column;
}

bool ListCtrl::DeleteColumn(int column)
{
    if (column < 0 || column >= GetColumnCount())
        return false;
    m_model->removeColumn(column);
    m_align.erase(m_align.begin() + column);
    return true;
}

int ListCtrl::GetColumnCount() const { return m_model->columnCount(); }

void ListCtrl::SetColumnWidth(int column, int width) { m_report->setColumnWidth(column, width); }

int ListCtrl::GetColumnWidth(int column) const { return m_report->columnWidth(column); }

QStandardItem* ListCtrl::Cell(int row, int column) const
{
    if (row < 0 || row >= GetItemCount() || column < 0)
        return nullptr;
    if (column >= m_model->columnCount())
        return nullptr;
    QStandardItem* item = m_model->item(row, column);
    if (item == nullptr) {
        item = new QStandardItem();
        if (column < static_cast<int>(m_align.size()) && !(m_align[static_cast<size_t>(column)] & Qt::AlignLeft))
            item->setTextAlignment(static_cast<Qt::Alignment>(m_align[static_cast<size_t>(column)]) | Qt::AlignVCenter);
        m_model->setItem(row, column, item);
    }
    return item;
}

int ListCtrl::InsertItem(int row, const std::string& text, int image)
{
    RequireGuiThread("ListCtrl::InsertItem");
    if (row < 0)
        return -1;
    if (m_model->columnCount() == 0)
        m_model->setColumnCount(1);
    const int count = GetItemCount();
    if (row > count)
        row = count;
    auto* item = new QStandardItem(QString::fromStdString(text));
    item->setData(image, kImageRole);
    item->setData(QVariant::fromValue<qulonglong>(0), kDataRole);
    // Left is the views' own default (and icon views centre their labels).
    if (!m_align.empty() && !(m_align[0] & Qt::AlignLeft))
        item->setTextAlignment(static_cast<Qt::Alignment>(m_align[0]) | Qt::AlignVCenter);
    m_model->insertRow(row, QList<QStandardItem*>{item});
    if (m_selectionMark >= row)
        ++m_selectionMark;
    ApplyImage(row);
    return row;
}

bool ListCtrl::SetItemText(int row, int column, const std::string& text)
{
    RequireGuiThread("ListCtrl::SetItemText");
    QStandardItem* item = Cell(row, column);
    if (item == nullptr)
        return false;
    item->setText(QString::fromStdString(text));
    if (column == 0)
        ApplyImageName(row);
    return true;
}

std::string ListCtrl::GetItemText(int row, int column) const
{
    RequireGuiThread("ListCtrl::GetItemText");
    if (row < 0 || row >= GetItemCount() || column < 0 || column >= m_model->columnCount())
        return {};
    QStandardItem* item = m_model->item(row, column);
    return item ? item->text().toStdString() : std::string();
}

bool ListCtrl::SetItemImage(int row, int image)
{
    RequireGuiThread("ListCtrl::SetItemImage");
    QStandardItem* item = Cell(row, 0);
    if (item == nullptr)
        return false;
    item->setData(image, kImageRole);
    ApplyImage(row);
    return true;
}

bool ListCtrl::SetItemDescription(int row, const std::string& text)
{
    RequireGuiThread("ListCtrl::SetItemDescription");
    QStandardItem* item = Cell(row, 0);
    if (item == nullptr)
        return false;
    item->setData(QString::fromStdString(text), Qt::ToolTipRole);
    item->setData(QString::fromStdString(text), Qt::AccessibleDescriptionRole);
    return true;
}

void ListCtrl::SetAccessibleName(const QString& name)
{
    setAccessibleName(name);
    m_report->setAccessibleName(name);
    m_icons->setAccessibleName(name);
}

int ListCtrl::GetItemImage(int row) const
{
    if (row < 0 || row >= GetItemCount())
        return -1;
    return m_model->item(row, 0)->data(kImageRole).toInt();
}

void ListCtrl::SetImageColumn(const std::string& heading, std::vector<std::string> names)
{
    m_imageNames = std::move(names);
    if (QStandardItem* header = m_model->horizontalHeaderItem(0)) {
        if (!header->data(kDrawnHeadingRole).isValid())
            header->setData(header->text(), kDrawnHeadingRole);
        header->setText(QString::fromStdString(heading));
    }
    for (int row = 0; row < GetItemCount(); ++row)
        ApplyImageName(row);
}

void ListCtrl::ApplyImageName(int row)
{
    QStandardItem* item = m_model->item(row, 0);
    if (item == nullptr)
        return;
    const int image = item->data(kImageRole).toInt();
    if (item->text().isEmpty() && image >= 0 && image < static_cast<int>(m_imageNames.size()))
        item->setData(QString::fromStdString(m_imageNames[static_cast<size_t>(image)]), Qt::AccessibleTextRole);
    else
        item->setData(QVariant(), Qt::AccessibleTextRole);
}

void ListCtrl::ApplyImage(int row)
{
    ApplyImageName(row);
    QStandardItem* item = m_model->item(row, 0);
    if (item == nullptr)
        return;
    int image = item->data(kImageRole).toInt();
    QIcon icon;
    if (image >= 0 && image < GetLargeImageCount())
        icon.addPixmap(m_large[static_cast<size_t>(image)]);
    if (image >= 0 && image < GetSmallImageCount())
        icon.addPixmap(m_small[static_cast<size_t>(image)]);
    item->setIcon(icon);
}

bool ListCtrl::DeleteItem(int row)
{
    RequireGuiThread("ListCtrl::DeleteItem");
    if (row < 0 || row >= GetItemCount())
        return false;
    // The views would move the selection to a neighbour; a deleted row just
    // takes its selection with it.
    QItemSelectionModel* selection = m_icons->selectionModel();
    const OwnChange own(selection);
    if (selection->currentIndex().row() == row || selection->isRowSelected(row, QModelIndex()))
        selection->clear();
    m_model->removeRow(row);
    if (m_selectionMark == row)
        m_selectionMark = -1;
    else if (m_selectionMark > row)
        --m_selectionMark;
    return true;
}

bool ListCtrl::DeleteAllItems()
{
    RequireGuiThread("ListCtrl::DeleteAllItems");
    const OwnChange own(m_icons->selectionModel());
    m_icons->selectionModel()->clear();
    m_model->removeRows(0, m_model->rowCount());
    m_selectionMark = -1;
    return true;
}

int ListCtrl::GetItemCount() const
{
    RequireGuiThread("ListCtrl::GetItemCount");
    return m_model->rowCount();
}

bool ListCtrl::SetItemData(int row, uintptr_t data)
{
    RequireGuiThread("ListCtrl::SetItemData");
    if (row < 0 || row >= GetItemCount())
        return false;
    m_model->item(row, 0)->setData(QVariant::fromValue<qulonglong>(data), kDataRole);
    return true;
}

uintptr_t ListCtrl::GetItemData(int row) const
{
    RequireGuiThread("ListCtrl::GetItemData");
    if (row < 0 || row >= GetItemCount())
        return 0;
    return static_cast<uintptr_t>(m_model->item(row, 0)->data(kDataRole).toULongLong());
}

int ListCtrl::GetSelectedItem() const
{
    RequireGuiThread("ListCtrl::GetSelectedItem");
    const QModelIndexList rows = m_icons->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

bool ListCtrl::SetItemSelected(int row, bool selected)
{
    RequireGuiThread("ListCtrl::SetItemSelected");
    if (row < 0 || row >= GetItemCount())
        return false;
    QItemSelectionModel* model = m_icons->selectionModel();
    const OwnChange own(model);
    if (selected) {
        model->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        model->select(m_model->index(row, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    }
    return true;
}

void ListCtrl::ClearSelection()
{
    const OwnChange own(m_icons->selectionModel());
    m_icons->selectionModel()->clearSelection();
}

void ListCtrl::EnsureVisible(int row)
{
    if (row >= 0 && row < GetItemCount())
        CurrentView()->scrollTo(m_model->index(row, 0));
}

void ListCtrl::SetImageLists(std::vector<QPixmap> large, std::vector<QPixmap> small)
{
    m_large = std::move(large);
    m_small = std::move(small);
    if (!m_small.empty())
        m_report->setIconSize(QSize(m_small.front().width() > 16 ? 20 : 16, m_small.front().width() > 16 ? 20 : 16));
    for (int row = 0; row < GetItemCount(); ++row)
        ApplyImage(row);
}

void ListCtrl::SetFullRowSelect(bool on)
{
    m_report->setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    m_report->setAllColumnsShowFocus(on);
}

void ListCtrl::SetRedraw(bool on)
{
    RequireGuiThread("ListCtrl::SetRedraw");
    setUpdatesEnabled(on);
    if (on)
        update();
}

void ListCtrl::ClickRow(int row)
{
    if (BlockedByModal(this) || !SetItemSelected(row, true))
        return;
    if (m_notify.onClick)
        m_notify.onClick(row);
}

void ListCtrl::DoubleClickRow(int row)
{
    if (BlockedByModal(this))
        return;
    ClickRow(row);
    // What the double click opens is often a modal window: it opens once
    // the caller has been answered, and not when another double click's
    // window has opened meanwhile.
    QMetaObject::invokeMethod(
        this,
        [this, row] {
            if (row < GetItemCount() && m_notify.onDblClk && !BlockedByModal(this))
                m_notify.onDblClk(row);
        },
        Qt::QueuedConnection);
}

void ListCtrl::RightClickByKeys()
{
    if (BlockedByModal(this) || !m_notify.onRClick)
        return;
    const int row = GetSelectedItem();
    QAbstractItemView* view = CurrentView();
    QPoint at(0, 0);
    if (row >= 0) {
        view->scrollTo(m_model->index(row, 0));
        const QRect shown = view->visualRect(m_model->index(row, 0)).intersected(view->viewport()->rect());
        if (!shown.isEmpty())
            at = shown.center();
    }
    m_keysMenuAt = view->viewport()->mapToGlobal(at);
    const QPointer<ListCtrl> self(this);
    m_menuByKeys = true;
    m_notify.onRClick(row);
    if (self)
        m_menuByKeys = false;
}

QPoint ListCtrl::PopupPoint() const { return m_menuByKeys ? m_keysMenuAt : QCursor::pos(); }

int ListCtrl::RowAt(QAbstractItemView* view, const QPoint& viewportPoint) const
{
    QModelIndex index = view->indexAt(viewportPoint);
    return index.isValid() ? index.row() : -1;
}

int ListCtrl::HitTest(const QPoint& point) const
{
    QAbstractItemView* view = CurrentView();
    return RowAt(view, view->viewport()->mapFrom(this, point));
}

QModelIndex ListCtrl::ModelIndex(int row, int column) const { return m_model->index(row, column); }

bool ListCtrl::eventFilter(QObject* watched, QEvent* event)
{
    // Enter on a selected row does what a double click on it does.
    if ((watched == m_icons || watched == m_report) && event->type() == QEvent::FocusIn)
        EnsureCurrentItem(static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason);
    if ((watched == m_icons || watched == m_report) && event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() != QContextMenuEvent::Mouse) {
        event->accept();
        RightClickByKeys();
        return true;
    }
    if ((watched == m_icons || watched == m_report) && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Menu && key->modifiers() == Qt::NoModifier) ||
            (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier)) {
            event->accept();
            RightClickByKeys();
            return true;
        }
        const int row = GetSelectedItem();
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->modifiers() == Qt::NoModifier &&
            row >= 0 && m_notify.onDblClk) {
            event->accept();
            m_notify.onDblClk(row);
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    QAbstractItemView* view = nullptr;
    if (watched == m_icons->viewport())
        view = m_icons;
    else if (watched == m_report->viewport())
        view = m_report;
    if (view == nullptr)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        // A press off the rows drops the selection, as list views do.
        if (RowAt(view, mouse->position().toPoint()) < 0)
            ClearSelection();
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        int row = RowAt(view, mouse->position().toPoint());
        if (mouse->button() == Qt::LeftButton && m_notify.onClick)
            m_notify.onClick(row);
        else if (mouse->button() == Qt::RightButton && m_notify.onRClick)
            m_notify.onRClick(row);
        break;
    }
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && m_notify.onDblClk)
            m_notify.onDblClk(RowAt(view, mouse->position().toPoint()));
        break;
    }
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace platform::gui
