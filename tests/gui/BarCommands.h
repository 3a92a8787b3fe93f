#pragma once
// The command numbers behind a window's tool bar and menus, separators left
// out; none for a bar that is not there.
#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <vector>

inline std::vector<unsigned> ToolCommands(QToolBar* bar)
{
    std::vector<unsigned> ids;
    if (bar != nullptr)
        for (QAction* a : bar->actions())
            if (!a->isSeparator())
                ids.push_back(a->data().toUInt());
    return ids;
}

inline std::vector<unsigned> MenuCommands(QMenuBar* bar)
{
    std::vector<unsigned> ids;
    if (bar != nullptr)
        for (QAction* top : bar->actions())
            if (top->menu() != nullptr)
                for (QAction* a : top->menu()->actions())
                    if (!a->isSeparator())
                        ids.push_back(a->data().toUInt());
    return ids;
}

// The user's way to a command: triggers the menu bar's action that carries
// it, and lets the command run (it runs once the trigger has returned);
// false when no menu has it.
inline bool TriggerMenuCommand(QMenuBar* bar, unsigned id)
{
    if (bar != nullptr)
        for (QAction* top : bar->actions())
            if (top->menu() != nullptr)
                for (QAction* a : top->menu()->actions())
                    if (!a->isSeparator() && a->data().toUInt() == id) {
                        a->trigger();
                        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
                        return true;
                    }
    return false;
}
