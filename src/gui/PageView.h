#pragma once
// The base of the pages of the main window: a task panel on the left, a title
// band with the page title across the top of the right side and a list below
// it. The panel's link clicks, the list's notifications and every command
// that reaches the page become seven hooks the pages override.
#include <QWidget>
#include <memory>
#include <string>

#include "MessageTarget.h"
#include "Resources.h"

namespace platform::gui {
class ListCtrl;
class TaskPanel;
} // namespace platform::gui
namespace Ui {
class PageView;
}

class CPageView : public QWidget, public platform::gui::MessageTarget {
    Q_OBJECT
public:
    explicit CPageView(QWidget* parent = nullptr);
    ~CPageView() override;

    // Creates the page hidden on rect of parent and runs its initial update.
    bool CreatePage(const QRect& rect, QWidget* parent);

    void SetTitle(const std::string& title);
    std::string GetTitle() const;

    // Shows the first popup of menu resource menuId (or the given items) at
    // the cursor; the chosen command reaches OnCommand.
    void ShowPopupMenu(unsigned menuId);
    void ShowPopupMenu(const platform::gui::Menu& items);

    platform::gui::TaskPanel* GetTaskPanel() const;
    platform::gui::ListCtrl* GetListCtrl() const;

    // A command reaching the page (menus, popups, WM_COMMAND).
    bool OnCommand(unsigned id);

    // The hooks, empty here.
    virtual void Refresh() {}
    // Ends the page's jobs that read the device for the current login (the
    // login is about to change); true when one was cut short. Work that keeps
    // its own copy of the login, a backup run, goes on.
    virtual bool StopRefresh() { return false; }
    virtual void OnTaskPanelLink(unsigned id) { (void)id; }
    virtual void OnListRClick(int item) { (void)item; }
    virtual void OnListItemSelected(int item) { (void)item; }
    virtual void OnListDblClk(int item) { (void)item; }
    virtual void OnListClick(int item) { (void)item; }
    virtual void OnPageCommand(unsigned id) { (void)id; }

    // The title band colour (RGB of 0xD28039) and the title text colour.
    static QColor TitleBandColour();

protected:
    // Pages set their picture ids here (or in their constructor).
    virtual void DoDataExchange() {}
    virtual void OnInitialUpdate();
    void paintEvent(QPaintEvent* event) override;
    intptr_t OnMessage(const platform::gui::Message& message) override;
    QWidget* OwnerWidget() override { return this; }

    unsigned m_largeIconId = 0;     // 64 x 64 list icons
    unsigned m_smallIconId = 0;     // 32 x 32 list icons (only with large ones)
    unsigned m_taskPanelIconId = 0; // 32 x 32 panel pictures
    QRect m_createRect;

private:
    std::unique_ptr<Ui::PageView> m_ui;
};
