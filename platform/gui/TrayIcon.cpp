#include "TrayIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

#include "CommandBars.h"

namespace platform::gui {

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {}

TrayIcon::~TrayIcon()
{
    delete m_icon;
    delete m_menu;
}

bool TrayIcon::IsAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

bool TrayIcon::Create(const std::string& caption, QWidget* owner, const QIcon& icon, unsigned menuId,
                      unsigned defaultCommand, std::function<void(unsigned)> onCommand)
{
    if (owner == nullptr)
        return false;
    m_owner = owner;
    m_defaultCommand = defaultCommand;
    m_onCommand = std::move(onCommand);
    delete m_menu;
    m_menu = new QMenu();
    Menu menu;
    if (LoadMenu(menuId, menu) && !menu.empty()) {
        const Menu& items = menu.front().popup ? menu.front().items : menu;
        FillMenu(m_menu, items, [this](unsigned id) {
            if (m_onCommand)
                m_onCommand(id);
        });
    }
    delete m_icon;
    m_icon = new QSystemTrayIcon(icon);
    m_icon->setToolTip(QString::fromStdString(caption));
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            Activate();
    });
    if (IsAvailable())
        m_icon->show();
    return true;
}

void TrayIcon::Activate()
{
    if (m_onCommand && m_defaultCommand != 0)
        m_onCommand(m_defaultCommand);
}

void TrayIcon::MinimizeToTray()
{
    if (m_owner == nullptr)
        return;
    if (IsAvailable())
        m_owner->hide();
    else
        m_owner->showMinimized();
}

void TrayIcon::MaximizeFromTray()
{
    if (m_owner == nullptr)
        return;
    m_owner->showMaximized();
    m_owner->raise();
    m_owner->activateWindow();
}

} // namespace platform::gui
