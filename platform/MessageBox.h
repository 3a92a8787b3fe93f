#pragma once
// Message boxes, callable from any thread. The window layer installs the
// handler that shows a real box on the GUI thread; tests install one that
// records each box and answers it. With no handler the text goes to standard
// error and the box answers with its default button.
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// Box styles (combinable: one button set, one icon, one default button).
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_ABORTRETRYIGNORE = 0x2,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5,
    MB_ICONERROR = 0x10,
    MB_ICONSTOP = 0x10,
    MB_ICONHAND = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_ICONASTERISK = 0x40,
    MB_DEFBUTTON1 = 0x000,
    MB_DEFBUTTON2 = 0x100,
    MB_DEFBUTTON3 = 0x200,
    MB_TYPEMASK = 0xF,
    MB_ICONMASK = 0xF0,
    MB_DEFMASK = 0xF00,
};

// Answers.
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

using MessageBoxHandler = std::function<int(const std::string& text, const std::string& caption, unsigned style)>;

// Installs the handler (an empty one restores the default); returns the old one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Shows a box and returns the button pressed. An empty caption means the
// program's name.
int MessageBox(const std::string& text, unsigned style = MB_OK, const std::string& caption = {});

// The answer a box gives when nobody presses anything: its default button.
int DefaultAnswer(unsigned style);

// A box that nobody waits for, for work that runs unattended: it is shown
// and the caller goes on at once. At most one such box is open per key (a
// task's name); a later text for the same key replaces the open box's text.
using NoticeHandler = std::function<void(const std::string& key, const std::string& text)>;
NoticeHandler SetNoticeHandler(NoticeHandler handler);
void Notice(const std::string& key, const std::string& text);

struct RecordedBox {
    std::string text;
    std::string caption;
    unsigned style = 0;
    bool onGuiThread = false; // where the box would have been shown
    bool waited = true;       // false for a Notice: nobody waited for an answer
};

// Test hook: while one exists every box (from the core and from windows) is
// recorded and answered by the answer function (by default the box's
// default button) instead of being shown; a Notice is recorded (its caption
// is the key) without asking the answer function. Recorders nest.
class MessageBoxRecorder {
public:
    using Answer = std::function<int(const RecordedBox&)>;
    explicit MessageBoxRecorder(Answer answer = {});
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<RecordedBox> Boxes() const;
    std::vector<std::string> Texts() const;
    std::size_t Count() const;
    // Text of the last box, "" when none.
    std::string LastText() const;
    void Clear();

    int Record(const RecordedBox& box);

private:
    mutable std::mutex m_lock;
    std::vector<RecordedBox> m_boxes;
    Answer m_answer;
    MessageBoxRecorder* m_previous;
};

// When a recorder is in place: records box, puts its answer in *answer and
// returns true.
bool RecordMessageBox(const RecordedBox& box, int* answer);

} // namespace platform
