#pragma once
// The task panel: captioned groups of link and text items on a blue rounded
// area, as in an explorer side bar. Groups and links are identified by string
// ids whose string-table texts are their captions. A click on a link calls the
// link handler with the link's id. Groups and items may be changed from
// worker threads: those calls run on the GUI thread while the worker waits.
// Groups taller than the panel scroll within it (its own scroll bar, inside
// the blue area); texts wrap to its width. Assistive tools find the links as
// buttons and every caption and text line as readable text.
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAbstractButton;
class QScrollBar;

namespace platform::gui {

class TaskPanel;

class TaskPanelItem {
public:
    TaskPanelItem(unsigned id, std::string caption, bool link, int icon)
        : m_id(id)
        , m_caption(std::move(caption))
        , m_link(link)
        , m_icon(icon)
    {}
    unsigned GetID() const { return m_id; }
    const std::string& GetCaption() const { return m_caption; }
    bool IsLink() const { return m_link; }
    int GetIconIndex() const { return m_icon; }
    void SetBold(bool bold) { m_bold = bold; }
    bool IsBold() const { return m_bold; }
    // Where the item is drawn in the panel (scrolled with it, so it may lie
    // outside); empty while its group is folded.
    QRect GetRect() const { return m_rect; }

private:
    friend class TaskPanel;
    bool m_bold = false;
    std::vector<QRect> m_lines; // each line of a text item's caption
    unsigned m_id;
    std::string m_caption;
    bool m_link;
    int m_icon;
    QRect m_rect;
};

class TaskPanelGroup {
public:
    TaskPanelGroup(TaskPanel* panel, unsigned id, int icon);
    unsigned GetID() const { return m_id; }
    const std::string& GetCaption() const { return m_caption; }
    int GetIconIndex() const { return m_icon; }

    // A link whose caption is the text of string id.
    TaskPanelItem* AddLinkItem(unsigned id, int icon = -1);
    // A plain text line.
    TaskPanelItem* AddTextItem(const std::string& text);
    void RemoveAllItems();
    int GetItemCount() const { return static_cast<int>(m_items.size()); }
    TaskPanelItem* GetItem(int index) const;
    TaskPanelItem* FindItem(unsigned id) const;

    void SetExpanded(bool expanded);
    bool IsExpanded() const { return m_expanded; }
    void SetExpandable(bool expandable) { m_expandable = expandable; }
    bool IsExpandable() const { return m_expandable; }

private:
    friend class TaskPanel;
    TaskPanel* m_panel;
    unsigned m_id;
    std::string m_caption;
    int m_icon;
    bool m_expanded = true;
    bool m_expandable = true;
    std::vector<std::unique_ptr<TaskPanelItem>> m_items;
    QRect m_captionRect;
    QRect m_bodyRect;
};

class TaskPanel : public QWidget {
    Q_OBJECT
public:
    explicit TaskPanel(QWidget* parent = nullptr);
    ~TaskPanel() override;

    TaskPanelGroup* AddGroup(unsigned id, int icon = -1);
    TaskPanelGroup* FindGroup(unsigned id) const;
    void RemoveGroup(unsigned id);
    void RemoveAllGroups();
    int GetGroupCount() const { return static_cast<int>(m_groups.size()); }
    TaskPanelGroup* GetGroup(int index) const;

    // Group and item icons: the images of a strip bitmap, or given pictures.
    void SetIconsFromBitmap(unsigned bitmapId, int size);
    void SetImages(std::vector<QPixmap> images);
    int GetImageCount() const { return static_cast<int>(m_images.size()); }

    void SetSingleSelection(bool on) { m_singleSelection = on; }
    void SetSelectItemOnFocus(bool on) { m_selectOnFocus = on; }

    // Height the groups need.
    int GetClientHeight() const;
    // The panel's own scroll bar, shown while the groups are taller than it.
    QScrollBar* VerticalScrollBar() const { return m_bar; }
    // Scrolls so that rect (panel coordinates) is in view, its top first.
    void EnsureVisible(const QRect& rect);

    // The texts as a screen reader reads them, in order: each group's
    // caption and each line of its text items, with where each is drawn.
    struct TextLine {
        QString text;
        QRect rect;
        bool caption;
    };
    std::vector<TextLine> TextLines() const;

    void SetLinkHandler(std::function<void(unsigned id)> handler) { m_onLink = std::move(handler); }
    // Where a link (or text item) is drawn; empty when it is not shown.
    QRect ItemRect(unsigned id) const;
    QRect GroupCaptionRect(unsigned id) const;
    // The part of a group's caption band its text is drawn in.
    QRect CaptionTextRect(unsigned id) const;

    // Theme colours (RGB).
    static QColor BackgroundColour(); // the blue area
    static QColor CaptionColour();    // group captions and links
    static QColor HotColour();        // a link under the mouse

    // Called by groups after a change.
    void Relayout();

    // As wide as the widest caption and link need beside the scroll bar (at
    // least the minimum width), as tall as the groups; any height will do.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The links' keyboard buttons, in the links' order.
    std::vector<QAbstractButton*> LinkButtons() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct LinkButtonEntry {
        unsigned id;
        QAbstractButton* button;
    };
    const TaskPanelItem* LinkAt(const QPoint& point) const;
    // The links of the expanded groups, in the panel's order.
    std::vector<const TaskPanelItem*> ShownLinks() const;
    // Where a link takes clicks and its keyboard button sits: its caption's
    // width from the item's left.
    QRect LinkArea(const TaskPanelItem& link) const;
    QRect CaptionTextRect(const TaskPanelGroup& group) const;
    int NeededWidth() const;
    // Places the groups and items for a body width, scrolled up by offset;
    // returns the height of the whole content.
    int LayOut(int width, int offset);
    void UpdateLinkButtons();
    void PlaceLinkButtons();
    // What a click or a press on link id does: its handler runs, unless a
    // modal window stands in front of the panel.
    void ActivateLink(unsigned id);
    std::vector<LinkButtonEntry> m_linkButtons;
    std::vector<std::unique_ptr<TaskPanelGroup>> m_groups;
    std::vector<QPixmap> m_images;
    std::function<void(unsigned)> m_onLink;
    const TaskPanelItem* m_hot = nullptr;
    bool m_singleSelection = false;
    bool m_selectOnFocus = true;
    int m_contentHeight = 0;
    QScrollBar* m_bar = nullptr;
    int m_bodyWidth = 60;
};

} // namespace platform::gui
