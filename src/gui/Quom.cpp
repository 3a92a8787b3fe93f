#include "Quom.h"

#include <QApplication>
#include <cerrno>
#include <cstdio>
#include <string>

#include "Application.h"
#include "MessageBoxes.h"
#include "InstanceMutex.h"
#include "MessageBox.h"
#include "Paths.h"
#include "Profile.h"
#include "QuomDlg.h"
#include "RsyncEngine.h"
#include "Skin.h"
#include "stdafx.h"

CQuomApp theApp;

std::string CQuomApp::CommandLineOf(int argc, char** argv)
{
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return line;
}

bool CQuomApp::InitInstance()
{
    // The main window hides in the notification area and message boxes come
    // and go while it is hidden: the program ends with the main window's run
    // only, never because its last visible window closed.
    QApplication::setQuitOnLastWindowClosed(false);

    InitOsVersionInfo();

    // Skin from "Styles/" beside the program, before anything is shown, so the
    // single-instance box is skinned too. A missing skin is not reported.
    std::string folder = platform::ProgramFolder();
    std::string skinFolder = folder + "Styles/";
    platform::gui::InstallMessageBoxHandler();
    platform::gui::LoadSkin(skinFolder + "WinXP.Royale.cjstyles");

    DebugTrace("The Para is :%s\n", m_lpCmdLine.c_str());
    const bool probe = m_lpCmdLine.find("-r") != std::string::npos;

    bool alreadyExists = false;
    std::string failure;
    platform::NamedMutex* mutex = platform::CreateMutex("QUOM instance", &alreadyExists, &failure);
    if (mutex == nullptr) {
        // Without the lock a second copy could run beside this one and
        // each overwrite the other's settings and tasks: no start.
        if (probe)
            std::fprintf(stderr, "Tolvane cannot tell whether a copy runs.\n%s\n", failure.c_str());
        else
            platform::MessageBox("Tolvane cannot start: it cannot make sure that only one copy runs.\n" + failure,
                                 platform::MB_OK | platform::MB_ICONERROR);
        return false;
    }
    if (alreadyExists) {
        platform::CloseHandle(mutex);
        if (!probe) {
            platform::MessageBox("Tolvane is running now", platform::MB_OK);
            return false;
        }
        if (!platform::WritePrivateProfileString("nas", "running", "yes", "./running.ini"))
            DebugTrace("%d\n", errno);
        return false;
    }
    if (probe) {
        // No copy runs: the missing key is the answer. The lock goes with us.
        platform::CloseHandle(mutex);
        return false;
    }

    // Runs of a copy that was killed left their private folders behind.
    CRsyncEngine::RemoveStaleTempFolders();

    // Sockets need no start-up on this system; the main window runs at once.
    {
        CQuomDlg dlg;
        platform::gui::SetMainWindow(&dlg);
        dlg.DoModal();
        platform::gui::SetMainWindow(nullptr);
    }
    platform::CloseHandle(mutex);
    return false;
}
