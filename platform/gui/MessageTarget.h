#pragma once
// Numbered window messages, timers and GUI-thread calls.
//
// A MessageTarget is the message side of one window. Handlers run on the GUI
// thread, always:
//  - PostMessage queues a call carrying its data by value and returns at once;
//    posts from one thread arrive in the order they were made.
//  - SendMessage from another thread blocks until the GUI thread has run the
//    handler and returns its result; on the GUI thread it is a direct call.
//    Jobs use it only to show a box (PostMessageBox).
//  - Messages to a target that is gone are dropped (PostMessage, SendMessage
//    return false / 0), as with a window that no longer exists.
// Timers are identified by the caller's ids, set and killed on the GUI thread,
// and fire OnTimer there.
#include <any>
#include <cassert>
#include <cstdint>
#include <string>
#include <typeinfo>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class QObject;
class QTimer;
class QWidget;

namespace platform::gui {

constexpr unsigned WM_USER = 0x0400;
// Messages of the program, by name.
constexpr unsigned WM_SHOW_MESSAGE = WM_USER + 1; // wParam box style (or string id), lParam / data: the text
constexpr unsigned WM_SCAN_DONE = WM_USER + 7;    // discovery scan ended
constexpr unsigned WM_POP_SETTEXT = WM_USER + 8;  // busy popup: show the latest text
constexpr unsigned WM_POP_CLOSE = WM_USER + 9;    // busy popup: end with lParam
constexpr unsigned WM_ADD_LOG = WM_USER + 11;     // wParam row kind, data: LogRowMessage
constexpr unsigned WM_COMMAND = 0x0111;           // wParam command id

// Timer ids of the program.
constexpr unsigned TIMER_AVI_FRAME = 111;
constexpr unsigned TIMER_DEVICE_INFO = 8787;
constexpr unsigned TIMER_BACKUP_MONITOR = 20;

struct Message {
    unsigned id = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    std::any data; // payload carried by value (a text, a record...)
};

// Typed payloads. A message that carries data names its payload type once,
// by specialising MessagePayload (next to the message's handler when the type
// lives above this layer) and registering it with a PayloadRegistration; posts
// and sends of a registered message with data of another type are refused in
// debug builds (an assertion) and dropped otherwise. Handlers read the data
// with Payload<Id>, which checks the type the same way.
template <unsigned Id> struct MessagePayload; // { using type = ...; }
template <> struct MessagePayload<WM_SHOW_MESSAGE> {
    using type = std::string;
};

// Records the payload type of a message id (once, at start-up).
void RegisterPayloadType(unsigned id, const std::type_info& type);
template <unsigned Id> struct PayloadRegistration {
    PayloadRegistration() { RegisterPayloadType(Id, typeid(typename MessagePayload<Id>::type)); }
};
// Whether data may travel with message id: no data, no registered type, or
// a value of the registered type.
bool PayloadMatches(unsigned id, const std::any& data);

// True on the thread that runs the application's event loop.
bool IsGuiThread();
// Queues fn to run on the GUI thread.
void RunOnGuiThread(std::function<void()> fn);
// Runs fn on the GUI thread and waits for it (a direct call on the GUI thread).
// Only the ways a job asks the user something (a box, SendMessage to a
// window's box handler) use it: a job never calls a widget.
void CallOnGuiThread(const std::function<void()>& fn);
// Widgets belong to the GUI thread: jobs hand their results back by value
// (Worker) and the GUI thread fills the windows. A widget called from another
// thread is a fault of the caller; the program stops here, naming what was
// called, rather than corrupt the widget.
void RequireGuiThread(const char* what);

// The payload of a message of id Id, null when it carries none.
template <unsigned Id> const typename MessagePayload<Id>::type* Payload(const Message& message)
{
    using T = typename MessagePayload<Id>::type;
    assert(message.id == Id && "payload read under another message id");
    const T* payload = std::any_cast<T>(&message.data);
    assert((payload != nullptr || !message.data.has_value()) && "message payload of another type");
    return payload;
}

class MessageTarget {
public:
    using Handler = std::function<intptr_t(const Message&)>;

    MessageTarget();
    virtual ~MessageTarget();
    MessageTarget(const MessageTarget&) = delete;
    MessageTarget& operator=(const MessageTarget&) = delete;

    // Handler for one message id (replaces an earlier one; empty removes it).
    void SetMessageHandler(unsigned id, Handler handler);

    bool PostMessage(unsigned id, uintptr_t wParam = 0, intptr_t lParam = 0, std::any data = {});
    intptr_t SendMessage(unsigned id, uintptr_t wParam = 0, intptr_t lParam = 0, std::any data = {});

    // Starts (or restarts) timer id with that interval; returns id, 0 on failure.
    unsigned SetTimer(unsigned id, unsigned intervalMs);
    bool KillTimer(unsigned id);
    bool HasTimer(unsigned id) const;

    // Whether the window exists (between creation and destruction). Windows
    // that are not always there (dialogs outside their modal run) set it.
    bool IsWindow() const;

protected:
    void SetWindowExists(bool exists);

    // Runs on the GUI thread for every message. The default calls the handler
    // registered for the id; an unhandled WM_SHOW_MESSAGE shows its text in a
    // box; anything else returns 0.
    virtual intptr_t OnMessage(const Message& message);
    virtual void OnTimer(unsigned id);
    // The widget that owns boxes shown for this target (none by default).
    virtual QWidget* OwnerWidget() { return nullptr; }

    // Ends every timer and makes later messages to this target drop. Classes
    // deriving from a widget call it first in their destructor.
    void Detach();

private:
    struct State;
    intptr_t Dispatch(const Message& message);
    std::shared_ptr<State> m_state;
    std::map<unsigned, Handler> m_handlers;
    std::map<unsigned, std::unique_ptr<QTimer>> m_timers;
};

} // namespace platform::gui
