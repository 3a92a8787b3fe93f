#pragma once
// Command bars: a menu bar and toolbars built from tables of command ids,
// fixed in place (they cannot float or move), rebuildable at any time, and
// popup menus shown at a screen point. Every chosen command reaches the
// owner's command handler as its id, once the click, key or assistive tool's
// action that chose it has been answered: a command that opens a modal window
// never keeps its caller waiting. A command chosen again while it waits or
// runs (a double click) is not run twice.
#include <QObject>
#include <QPoint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Resources.h"

class QMenu;
class QMenuBar;
class QToolBar;
class QVBoxLayout;
class QWidget;

namespace platform::gui {

class CommandBars : public QObject {
    Q_OBJECT
public:
    using CommandHandler = std::function<void(unsigned id)>;
    // Shown or hidden bar, and whether it is now visible.
    using VisibilityHandler = std::function<void(QWidget* bar, bool visible)>;

    CommandBars(QWidget* site, CommandHandler onCommand);
    ~CommandBars() override;

    // The strip that holds the bars; the site puts it at the top of its layout.
    QWidget* BarArea() const { return m_area; }

    void RemoveAll();
    // Menu bar from menu resource id (false when there is none) or a table.
    bool SetMenu(const std::string& title, unsigned menuId);
    void SetMenu(const std::string& title, const Menu& menu);
    // A toolbar docked at the top from toolbar resource id with its icons.
    QToolBar* AddToolBar(const std::string& title, unsigned toolBarId);
    QToolBar* AddToolBar(const std::string& title, const std::vector<unsigned>& commands);

    QMenuBar* GetMenuBar() const { return m_menuBar; }
    const std::vector<QToolBar*>& GetToolBars() const { return m_toolBars; }

    void SetVisibilityHandler(VisibilityHandler handler) { m_onVisibility = std::move(handler); }

    // Runs a command as if it had been chosen, now.
    void Execute(unsigned id);
    // What choosing a command on a bar does: runs it from the event loop,
    // unless a command of the bars is still waiting or running.
    void Choose(unsigned id);

private:
    // Takes a bar out of the window and deletes it later.
    void Retire(QWidget* bar);
    // A chosen command, run from the event loop.
    void RunChosen(unsigned id);

    QWidget* m_site;
    QWidget* m_area;
    QVBoxLayout* m_layout;
    QMenuBar* m_menuBar = nullptr;
    std::vector<QToolBar*> m_toolBars;
    CommandHandler m_onCommand;
    VisibilityHandler m_onVisibility;
    bool m_busy = false; // a chosen command waits or runs
};

// Fills a QMenu with items; each command calls onCommand with its id.
void FillMenu(QMenu* menu, const Menu& items, const std::function<void(unsigned)>& onCommand);

// Shows a popup menu at a screen point (right-button tracking) and returns the
// chosen command id, 0 when nothing was chosen. On a platform without a
// display, and with no recorder, nothing is chosen.
unsigned TrackPopupMenu(const Menu& items, const QPoint& screenPos, QWidget* owner);

// Test hook: while one exists every popup menu is recorded and answered by
// the chooser (by default: nothing chosen) instead of being shown.
class PopupMenuRecorder {
public:
    using Chooser = std::function<unsigned(const Menu&)>;
    explicit PopupMenuRecorder(Chooser chooser = {});
    ~PopupMenuRecorder();
    PopupMenuRecorder(const PopupMenuRecorder&) = delete;
    PopupMenuRecorder& operator=(const PopupMenuRecorder&) = delete;

    std::vector<Menu> Menus() const;
    // Where each menu was asked to show, on the screen.
    std::vector<QPoint> Points() const;
    std::size_t Count() const;
    unsigned Record(const Menu& menu, const QPoint& screenPos = {});

    // Command ids of a menu and its submenus, in order (for checks).
    static std::vector<unsigned> CommandIds(const Menu& menu);

private:
    mutable std::mutex m_lock;
    std::vector<Menu> m_menus;
    std::vector<QPoint> m_points;
    Chooser m_chooser;
    PopupMenuRecorder* m_previous;
};

} // namespace platform::gui
