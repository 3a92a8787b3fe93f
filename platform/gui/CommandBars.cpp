#include "CommandBars.h"

#include "Dialog.h"

#include <QAction>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

namespace platform::gui {
namespace {

// The button a bar shows for what does not fit has only a chevron.
void NameOverflowButton(QWidget* bar, const char* name)
{
    for (QWidget* child : bar->findChildren<QWidget*>())
        if (child->objectName() == "qt_toolbar_ext_button" || child->objectName() == "qt_menubar_ext_button")
            child->setAccessibleName(name);
}

// A tool button's caption on two lines, broken after the blank or slash that
// makes the wider line narrowest, so that every command of a bar fits beside
// the others; a caption without one stays whole.
QString TwoLineCaption(const QString& text, const QFontMetrics& metrics)
{
    QString best = text;
    int bestWidth = metrics.horizontalAdvance(text);
    for (int i = 1; i + 1 < text.size(); ++i) {
        if (text[i] != ' ' && text[i] != '/')
            continue;
        const QString first = text[i] == ' ' ? text.left(i) : text.left(i + 1);
        const QString second = text.mid(i + 1);
        const int width = std::max(metrics.horizontalAdvance(first), metrics.horizontalAdvance(second));
        if (width < bestWidth) {
            bestWidth = width;
            best = first + '\n' + second;
        }
    }
    return best;
}

} // namespace
namespace {
std::mutex g_popupLock;
PopupMenuRecorder* g_popupRecorder = nullptr;

QString MenuText(const std::string& text)
{
    // "\t" separates an accelerator text in menu resources.
    return QString::fromStdString(text);
}
} // namespace

void FillMenu(QMenu* menu, const Menu& items, const std::function<void(unsigned)>& onCommand)
{
    for (const MenuItem& item : items) {
        if (item.separator) {
            menu->addSeparator();
        } else if (item.popup) {
            QMenu* sub = menu->addMenu(MenuText(item.text));
            FillMenu(sub, item.items, onCommand);
        } else {
            QAction* action = menu->addAction(MenuText(item.text));
            action->setData(item.id);
            action->setEnabled(item.enabled);
            if (item.checked) {
                action->setCheckable(true);
                action->setChecked(true);
            }
            unsigned id = item.id;
            QObject::connect(action, &QAction::triggered, menu, [onCommand, id] {
                if (onCommand)
                    onCommand(id);
            });
        }
    }
}

CommandBars::CommandBars(QWidget* site, CommandHandler onCommand)
    : QObject(site)
    , m_site(site)
    , m_onCommand(std::move(onCommand))
{
    m_area = new QWidget(site);
    m_area->setObjectName("commandBars");
    m_layout = new QVBoxLayout(m_area);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
}

CommandBars::~CommandBars() = default;

void CommandBars::Execute(unsigned id)
{
    if (m_onCommand)
        m_onCommand(id);
}

void CommandBars::Choose(unsigned id)
{
    // A command chosen while one waits or runs is dropped: the second click
    // of a double click, or an assistive tool's press while the first one's
    // modal window is open (the mouse cannot reach the bars then). So is one
    // chosen while any other modal window stands in front of the bars.
    if (m_busy || BlockedByModal(m_site))
        return;
    m_busy = true;
    QMetaObject::invokeMethod(
        this, [this, id] { RunChosen(id); }, Qt::QueuedConnection);
}

void CommandBars::RunChosen(unsigned id)
{
    const QPointer<CommandBars> self(this);
    Execute(id);
    if (self)
        self->m_busy = false;
}

void CommandBars::RemoveAll()
{
    // The command that rebuilds the bars was most likely chosen from one of
    // them: its button or menu is still handling the mouse. The old bars leave
    // the window now and are deleted once that handling is over.
    Retire(m_menuBar);
    m_menuBar = nullptr;
    for (QToolBar* bar : m_toolBars)
        Retire(bar);
    m_toolBars.clear();
}

void CommandBars::Retire(QWidget* bar)
{
    if (bar == nullptr)
        return;
    m_layout->removeWidget(bar);
    bar->disconnect(this);
    for (QAction* action : bar->actions())
        action->disconnect(this);
    bar->hide();
    bar->deleteLater();
}

bool CommandBars::SetMenu(const std::string& title, unsigned menuId)
{
    Menu menu;
    if (!LoadMenu(menuId, menu))
        return false;
    SetMenu(title, menu);
    return true;
}

void CommandBars::SetMenu(const std::string& title, const Menu& menu)
{
    Retire(m_menuBar);
    m_menuBar = new QMenuBar(m_area);
    m_menuBar->setObjectName(QString::fromStdString(title));
    m_menuBar->setNativeMenuBar(false);
    auto deliver = [this](unsigned id) { Choose(id); };
    for (const MenuItem& item : menu) {
        if (item.popup) {
            QMenu* popup = m_menuBar->addMenu(MenuText(item.text));
            FillMenu(popup, item.items, deliver);
        } else if (!item.separator) {
            QAction* action = m_menuBar->addAction(MenuText(item.text));
            action->setData(item.id);
            unsigned id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { Choose(id); });
        }
    }
    m_layout->insertWidget(0, m_menuBar);
    NameOverflowButton(m_menuBar, "More menus");
}

QToolBar* CommandBars::AddToolBar(const std::string& title, unsigned toolBarId)
{
    return AddToolBar(title, LoadToolBar(toolBarId));
}

QToolBar* CommandBars::AddToolBar(const std::string& title, const std::vector<unsigned>& commands)
{
    auto* bar = new QToolBar(QString::fromStdString(title), m_area);
    bar->setObjectName(QString::fromStdString(title));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(32, 32));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (unsigned id : commands) {
        if (id == 0) {
            bar->addSeparator();
            continue;
        }
        // The tip and the caption are the command's string.
        QString text = QString::fromStdString(LoadString(id));
        QAction* action = bar->addAction(LoadCommandIcon(id), text);
        action->setData(id);
        action->setToolTip(text);
        action->setIconText(TwoLineCaption(text, bar->fontMetrics()));
        // The caption may wrap; the button is announced by the command's words.
        bar->widgetForAction(action)->setAccessibleName(text);
        connect(action, &QAction::triggered, this, [this, id] { Choose(id); });
    }
    NameOverflowButton(bar, "More tools");
    connect(bar, &QToolBar::visibilityChanged, this, [this, bar](bool visible) {
        if (m_onVisibility)
            m_onVisibility(bar, visible);
    });
    m_layout->addWidget(bar);
    m_toolBars.push_back(bar);
    return bar;
}

unsigned TrackPopupMenu(const Menu& items, const QPoint& screenPos, QWidget* owner)
{
    {
        std::lock_guard<std::mutex> guard(g_popupLock);
        if (g_popupRecorder != nullptr)
            return g_popupRecorder->Record(items, screenPos);
    }
    const QString platformName = QGuiApplication::platformName();
    if (platformName == "offscreen" || platformName == "minimal")
        return 0;
    QMenu menu(owner);
    unsigned chosen = 0;
    FillMenu(&menu, items, [&chosen](unsigned id) { chosen = id; });
    menu.exec(screenPos);
    return chosen;
}

PopupMenuRecorder::PopupMenuRecorder(Chooser chooser) : m_chooser(std::move(chooser))
{
    std::lock_guard<std::mutex> guard(g_popupLock);
    m_previous = g_popupRecorder;
    g_popupRecorder = this;
}

PopupMenuRecorder::~PopupMenuRecorder()
{
    std::lock_guard<std::mutex> guard(g_popupLock);
    g_popupRecorder = m_previous;
}

unsigned PopupMenuRecorder::Record(const Menu& menu, const QPoint& screenPos)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_menus.push_back(menu);
        m_points.push_back(screenPos);
    }
    return m_chooser ? m_chooser(menu) : 0;
}

std::vector<Menu> PopupMenuRecorder::Menus() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_menus;
}

std::vector<QPoint> PopupMenuRecorder::Points() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_points;
}

std::size_t PopupMenuRecorder::Count() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_menus.size();
}

std::vector<unsigned> PopupMenuRecorder::CommandIds(const Menu& menu)
{
    std::vector<unsigned> ids;
    for (const MenuItem& item : menu) {
        if (item.popup) {
            std::vector<unsigned> sub = CommandIds(item.items);
            ids.insert(ids.end(), sub.begin(), sub.end());
        } else if (!item.separator) {
            ids.push_back(item.id);
        }
    }
    return ids;
}

} // namespace platform::gui
