#pragma once
// Process-wide services of the window layer.

namespace platform::gui {

class MessageTarget;

// The application's main window: the target of messages sent "to the main
// window" (PostMessageBox with no window). nullptr when none is set.
void SetMainWindow(MessageTarget* window);
MessageTarget* GetMainWindow();

} // namespace platform::gui
