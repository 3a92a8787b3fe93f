#pragma once
// The notification-area icon of a window. Where the desktop has no
// notification area, "minimise to tray" minimises the window instead, so the
// user can always get it back from the task bar.
#include <QIcon>
#include <QObject>
#include <functional>
#include <string>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace platform::gui {

class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // Icon with a tool tip caption, the owner window, the menu of menu
    // resource menuId (its first popup) and the command the icon's default
    // action (a click) runs. Commands go to onCommand.
    bool Create(const std::string& caption, QWidget* owner, const QIcon& icon, unsigned menuId, unsigned defaultCommand,
                std::function<void(unsigned)> onCommand);

    // Hides the owner and keeps the icon (minimises it without a tray).
    void MinimizeToTray();
    // Shows the owner maximised and activates it.
    void MaximizeFromTray();

    // Whether the desktop shows notification-area icons.
    static bool IsAvailable();
    bool IsCreated() const { return m_owner != nullptr; }
    // Runs the default command, as a click on the icon does.
    void Activate();

private:
    QWidget* m_owner = nullptr;
    QSystemTrayIcon* m_icon = nullptr;
    QMenu* m_menu = nullptr;
    unsigned m_defaultCommand = 0;
    std::function<void(unsigned)> m_onCommand;
};

} // namespace platform::gui
