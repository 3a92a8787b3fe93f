#pragma once
// The list control: rows of texts in columns, shown as large icons, small
// icons, a list or a report with a header. Rows are numbered from 0. Clicks
// and double clicks, left or right, report the row under the mouse, -1 off
// the rows; a row that becomes selected is reported as well. A row
// the user unselects (Ctrl+Space) is a click off the rows; the
// Menu key and Shift+F10 are the right click of the keyboard, on the
// selected row (-1 when none). The control passes its focus to the view it
// shows.
#include <QIcon>
#include <QModelIndex>
#include <QPixmap>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QAbstractItemView;
class QListView;
class QStackedLayout;
class QStandardItem;
class QStandardItemModel;
class QTreeView;

namespace platform::gui {

class ListCtrl : public QWidget {
    Q_OBJECT
public:
    enum View { Icon, SmallIcon, List, Report };

    struct Notify {
        std::function<void(int row)> onClick;
        std::function<void(int row)> onRClick;
        std::function<void(int row)> onDblClk;
        std::function<void(int row)> onItemSelected;
    };

    explicit ListCtrl(QWidget* parent = nullptr);
    ~ListCtrl() override;

    void SetNotify(Notify notify) { m_notify = std::move(notify); }

    void SetView(View view);
    View GetView() const { return m_view; }

    // Columns. align is a Qt::Alignment flag (left, centre, right).
    int InsertColumn(int column, const std::string& heading, int align = Qt::AlignLeft, int width = 100);
    bool DeleteColumn(int column);
    int GetColumnCount() const;
    void SetColumnWidth(int column, int width);
    int GetColumnWidth(int column) const;

    // Rows. InsertItem returns the new row's index (a row past the end is
    // appended), -1 for a negative row.
    int InsertItem(int row, const std::string& text, int image = -1);
    bool SetItemText(int row, int column, const std::string& text);
    std::string GetItemText(int row, int column) const;
    bool SetItemImage(int row, int image);
    // A row's state in words, for what its image alone says: its tooltip
    // and its accessible description.
    bool SetItemDescription(int row, const std::string& text);
    // The list's accessible name, on the list and both of its views.
    void SetAccessibleName(const QString& name);
    // The first column shows only images: assistive tools read heading as
    // its heading and a row's image, where the row has no text there, by its
    // name (names[image]).
    void SetImageColumn(const std::string& heading, std::vector<std::string> names);
    int GetItemImage(int row) const;
    virtual bool DeleteItem(int row);
    virtual bool DeleteAllItems();
    int GetItemCount() const;
    bool SetItemData(int row, uintptr_t data);
    uintptr_t GetItemData(int row) const;

    // Selection (single selection).
    int GetSelectedItem() const; // -1 when none
    bool SetItemSelected(int row, bool selected);
    void ClearSelection();
    int GetSelectionMark() const { return m_selectionMark; }
    void SetSelectionMark(int row) { m_selectionMark = row; }
    void EnsureVisible(int row);
    // What a click on a row does (it becomes the selected row, then the click
    // is reported) and what a double click does (the same, then the double
    // click is reported from the event loop): the actions assistive tools
    // find on the rows.
    void ClickRow(int row);
    void DoubleClickRow(int row);

    // Image lists: large icons (icon view), small icons (other views).
    void SetImageLists(std::vector<QPixmap> large, std::vector<QPixmap> small);
    int GetLargeImageCount() const { return static_cast<int>(m_large.size()); }
    int GetSmallImageCount() const { return static_cast<int>(m_small.size()); }

    void SetFullRowSelect(bool on);
    void SetRedraw(bool on);

    // Where a menu that the last right click asked for shows, on the screen:
    // at the mouse, or, asked for by the keys, on the selected row (else at
    // the view's corner).
    QPoint PopupPoint() const;

    // Row under a point of this widget, -1 when none.
    int HitTest(const QPoint& point) const;

    QAbstractItemView* CurrentView() const;
    QTreeView* ReportView() const { return m_report; }
    QListView* IconView() const { return m_icons; }
    QStandardItemModel* Model() const { return m_model; }
    QModelIndex ModelIndex(int row, int column) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The item of a cell, created when missing.
    QStandardItem* Cell(int row, int column) const;

private:
    // The keys act where the focus is: the list's focus is its shown view's,
    // and a focused view has a current row (the selected one, else the
    // first); a list of one row has it selected, so that Enter opens it.
    void EnsureCurrentItem(bool selectSingle);
    void EnsureCurrentItemLater();
    // The right click of the keyboard, on the selected row.
    void RightClickByKeys();
    void ApplyImage(int row);
    // What an image-only first cell says to assistive tools.
    void ApplyImageName(int row);
    int RowAt(QAbstractItemView* view, const QPoint& viewportPoint) const;

    QStandardItemModel* m_model;
    QListView* m_icons;
    QTreeView* m_report;
    QStackedLayout* m_stack;
    View m_view = Icon;
    std::vector<int> m_align;
    std::vector<QPixmap> m_large;
    std::vector<QPixmap> m_small;
    std::vector<std::string> m_imageNames;
    int m_selectionMark = -1;
    bool m_ensurePending = false;
    bool m_menuByKeys = false;
    QPoint m_keysMenuAt;
    Notify m_notify;
};

} // namespace platform::gui
