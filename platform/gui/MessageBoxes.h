#pragma once
// Message boxes with the Windows styles (MB_*) and answers (ID*), shown on the
// GUI thread whichever thread asks. InstallMessageBoxHandler routes
// platform::MessageBox here. Tests put a MessageBoxRecorder in place: every
// box is then recorded and answered by it instead of being shown.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

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
// the application's active window.
void InstallMessageBoxHandler();

// Shows a box owned by owner (may be null) and returns the answer. Callable
// from any thread: the box is shown on the GUI thread and the caller waits.
// An empty caption means the program's name. On a platform without a display
// (offscreen) and with no recorder, the box answers its default button.
int ShowMessageBox(QWidget* owner, const std::string& text, unsigned style, const std::string& caption = {});

struct RecordedBox {
    std::string text;
    std::string caption;
    unsigned style = 0;
    bool onGuiThread = false; // where the box would have been shown
};

// Test hook: while one exists every box is recorded and answered by the
// answer function (by default the box's default button).
class MessageBoxRecorder {
public:
    using Answer = std::function<int(const RecordedBox&)>;
    explicit MessageBoxRecorder(Answer answer = {});
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<RecordedBox> Boxes() const;
    std::size_t Count() const;
    // Text of the last box, "" when none.
    std::string LastText() const;
    void Clear();

    // Used by the box service.
    int Record(const RecordedBox& box);

private:
    mutable std::mutex m_lock;
    std::vector<RecordedBox> m_boxes;
    Answer m_answer;
    MessageBoxRecorder* m_previous;
};

} // namespace platform::gui
