#pragma once
// The application object: start-up (skin, single instance, the "-r" probe),
// the main window's run, and the clean-up after it.
#include <string>

class CQuomApp {
public:
    CQuomApp() = default;
    CQuomApp(const CQuomApp&) = delete;
    CQuomApp& operator=(const CQuomApp&) = delete;

    // Does the whole life of the program and returns false on every path (the
    // process then ends). Needs the QApplication to exist.
    bool InitInstance();

    // The command line after the program's name, its words joined by blanks.
    std::string m_lpCmdLine;

    // The text of a command line: argv[1..] joined by blanks.
    static std::string CommandLineOf(int argc, char** argv);
};

// The one application object.
extern CQuomApp theApp;
