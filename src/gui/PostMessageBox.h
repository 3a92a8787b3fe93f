#pragma once
// The message-box service for worker threads: the box is shown by a window on
// the GUI thread while the worker waits.
#include <string>

namespace platform::gui {
class MessageTarget;
}

// Sends WM_SHOW_MESSAGE (wParam the box style, the text carried with it) to
// window, or to the application's main window when window is null, and waits
// until the box is closed. With no window at all the box is shown directly.
void PostMessageBox(const std::string& text, unsigned boxStyle, platform::gui::MessageTarget* window = nullptr);
