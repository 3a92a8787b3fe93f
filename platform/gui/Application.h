#pragma once
// Process-wide services of the window layer.
#include <string>

namespace platform::gui {

class MessageTarget;

// Routes platform::MessageBox to GUI-thread boxes and applies the skin file
// beside the program when there is one. Call once after the QApplication
// exists.
void InitGuiServices();

// The application's main window: the target of messages sent "to the main
// window" (PostMessageBox with no window). nullptr when none is set.
void SetMainWindow(MessageTarget* window);
MessageTarget* GetMainWindow();

} // namespace platform::gui
