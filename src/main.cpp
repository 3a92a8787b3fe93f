// tolvane: finds the NAS box on the local network, logs in, prepares its disks
// and manages it. "tolvane -r" only tells (in ./running.ini) whether a copy runs.
#include <QApplication>
#include <cstdlib>

#include "Quom.h"

int main(int argc, char** argv)
{
    // Read before the toolkit takes its own options out of argv.
    theApp.m_lpCmdLine = CQuomApp::CommandLineOf(argc, argv);

    // The probe shows no window: it also works where there is no display.
    if (theApp.m_lpCmdLine.find("-r") != std::string::npos && std::getenv("QT_QPA_PLATFORM") == nullptr &&
        std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication app(argc, argv);
    QApplication::setApplicationName("Tolvane");
    theApp.InitInstance();
    return 0;
}
