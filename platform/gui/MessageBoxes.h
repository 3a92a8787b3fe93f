#pragma once
// Message boxes with the Windows styles (MB_*) and answers (ID*), shown on the
// GUI thread whichever thread asks. InstallMessageBoxHandler routes
// platform::MessageBox here. Tests put a MessageBoxRecorder in place: every
// box is then recorded and answered by it instead of being shown.
#include <cstddef>
#include <string>

#include "MessageBox.h"

class QWidget;

namespace platform::gui {

using platform::IDABORT;
using platform::IDCANCEL;
using platform::IDIGNORE;
using platform::IDNO;
using platform::IDOK;
using platform::IDRETRY;
using platform::IDYES;

// Makes platform::MessageBox show its boxes through ShowMessageBox, owned by
// the application's active window, and platform::Notice its boxes as windows
// nobody waits for (not modal, one per key, owned by the main window).
void InstallMessageBoxHandler();
// How many notices are open now (GUI thread): one per key, none once closed.
size_t OpenNoticeCount();

// Shows a box owned by owner (may be null) and returns the answer. Callable
// from any thread: the box is shown on the GUI thread and the caller waits.
// This is the one way a job reaches the screen while it runs, on purpose: a
// procedure may have to ask the user (a Yes/No) before it goes on. The job
// never gets the widget; owner is used on the GUI thread only. A GUI thread
// that waits for such a job keeps running its events (Worker does), so the
// box can show.
// An empty caption means the program's name. On a platform without a display
// (offscreen) and with no recorder, the box answers its default button.
int ShowMessageBox(QWidget* owner, const std::string& text, unsigned style, const std::string& caption = {});

// Tests put a recorder in place (the platform layer's, shared with the core).
using platform::MessageBoxRecorder;
using platform::RecordedBox;

} // namespace platform::gui
