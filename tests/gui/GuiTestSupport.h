#pragma once
// Helpers the window tests share: waiting on the event loop, scripted modal
// runs, a page's task links and the login memory.
#include <QApplication>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <string>
#include <vector>

#include "Dialog.h"
#include "PageView.h"
#include "PopDlg.h"
#include "Profile.h"
#include "TaskPanel.h"
#include "stdafx.h"

// Runs the event loop until done; the bound only guards against a hang.
inline bool WaitFor(const std::function<bool()>& done, int ms = 60000) { return QTest::qWaitFor(done, ms); }

// Runs dlg modally. script runs once, when dlg shows; a dialog it leaves open
// ends with leftOpen, so a failed check never hangs. The busy popup goes to
// popupScript when there is one; other dialogs are left alone. *shown tells
// whether dlg showed.
inline int RunScripted(platform::gui::Dialog& dlg, const std::function<void()>& script, int leftOpen = -1,
                       const std::function<void(CPopDlg&)>& popupScript = {}, bool* shown = nullptr)
{
    bool ran = false;
    platform::gui::Dialog::SetModalHook([&](platform::gui::Dialog& d) {
        if (auto* popup = dynamic_cast<CPopDlg*>(&d)) {
            if (popupScript)
                popupScript(*popup);
            return;
        }
        if (&d != &dlg || ran)
            return;
        ran = true;
        script();
        if (dlg.isVisible())
            dlg.EndDialog(leftOpen);
    });
    const int code = dlg.DoModal();
    platform::gui::Dialog::SetModalHook({});
    if (shown)
        *shown = ran;
    return code;
}

// Runs the main window main modally, with its login road. Once it shows
// with no modal dialog over it (timers also fire inside the road's dialogs),
// script runs inside its loop; then, or after 30 s without it showing, the
// exit command ends the run. Returns the run's code.
template <typename Main> int RunWhenUp(Main& main, const std::function<void()>& script, unsigned exitCommand)
{
    QTimer poll;
    int polls = 0;
    QObject::connect(&poll, &QTimer::timeout, &main, [&] {
        const bool up = main.isVisible() && QApplication::activeModalWidget() == nullptr;
        if (!up && ++polls < 1500)
            return;
        poll.stop();
        if (up)
            script();
        main.OnCommand(exitCommand);
    });
    poll.start(20);
    return main.DoModal();
}

// The login memory of the context's INI file as a login leaves it: the last
// device, and its user with the password.
inline void RememberLogin(const char* mac, const std::string& user, const std::string& password)
{
    const std::string& ini = GetNasContext()->IniPath();
    platform::WritePrivateProfileString("last_login", "mac", mac, ini);
    platform::WritePrivateProfileString(mac, "user", user.c_str(), ini);
    platform::WritePrivateProfileString(mac, "password", Base64Encode(password).c_str(), ini);
}

// The command numbers of the links in a group of the page's task panel.
inline std::vector<unsigned> TaskLinks(const CPageView& page, unsigned group)
{
    std::vector<unsigned> ids;
    platform::gui::TaskPanelGroup* g = page.GetTaskPanel()->FindGroup(group);
    for (int i = 0; g != nullptr && i < g->GetItemCount(); ++i)
        ids.push_back(g->GetItem(i)->GetID());
    return ids;
}

// A value of the login memory "quom.ini".
inline std::string IniValue(const std::string& section, const std::string& key)
{
    return platform::GetPrivateProfileString(section.c_str(), key.c_str(), "", GetNasContext()->IniPath());
}
