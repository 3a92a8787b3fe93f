#include "MessageTarget.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <string>

#include "MessageBoxes.h"

namespace platform::gui {

struct MessageTarget::State {
    std::mutex lock;
    MessageTarget* target = nullptr; // null once the target is gone
    bool window = true;
};

bool IsGuiThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void RunOnGuiThread(std::function<void()> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void CallOnGuiThread(const std::function<void()>& fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || IsGuiThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(
        app, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void RequireGuiThread(const char* what)
{
    if (QCoreApplication::instance() != nullptr && !IsGuiThread())
        qFatal("%s called off the GUI thread", what);
}

MessageTarget::MessageTarget() : m_state(std::make_shared<State>()) { m_state->target = this; }

MessageTarget::~MessageTarget() { Detach(); }

void MessageTarget::Detach()
{
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->target = nullptr;
        m_state->window = false;
    }
    m_timers.clear();
}

void MessageTarget::SetMessageHandler(unsigned id, Handler handler)
{
    if (handler)
        m_handlers[id] = std::move(handler);
    else
        m_handlers.erase(id);
}

bool MessageTarget::IsWindow() const
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    return m_state->target != nullptr && m_state->window;
}

void MessageTarget::SetWindowExists(bool exists)
{
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->window = exists;
}

intptr_t MessageTarget::Dispatch(const Message& message) { return OnMessage(message); }

namespace {

std::mutex g_payloadLock;
std::map<unsigned, const std::type_info*>& PayloadTypes()
{
    static std::map<unsigned, const std::type_info*> types;
    return types;
}

const PayloadRegistration<WM_SHOW_MESSAGE> g_showMessagePayload;

bool CheckPayload(unsigned id, const std::any& data)
{
    const bool ok = PayloadMatches(id, data);
    assert(ok && "message posted with a payload of another type");
    return ok;
}

} // namespace

void RegisterPayloadType(unsigned id, const std::type_info& type)
{
    std::lock_guard<std::mutex> guard(g_payloadLock);
    PayloadTypes()[id] = &type;
}

bool PayloadMatches(unsigned id, const std::any& data)
{
    if (!data.has_value())
        return true;
    std::lock_guard<std::mutex> guard(g_payloadLock);
    auto it = PayloadTypes().find(id);
    return it == PayloadTypes().end() || *it->second == data.type();
}

bool MessageTarget::PostMessage(unsigned id, uintptr_t wParam, intptr_t lParam, std::any data)
{
    if (!CheckPayload(id, data))
        return false;
    std::shared_ptr<State> state = m_state;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        if (state->target == nullptr)
            return false;
    }
    Message message{id, wParam, lParam, std::move(data)};
    RunOnGuiThread([state, message = std::move(message)] {
        MessageTarget* target;
        {
            std::lock_guard<std::mutex> guard(state->lock);
            target = state->target;
        }
        if (target != nullptr)
            target->Dispatch(message);
    });
    return true;
}

intptr_t MessageTarget::SendMessage(unsigned id, uintptr_t wParam, intptr_t lParam, std::any data)
{
    if (!CheckPayload(id, data))
        return 0;
    std::shared_ptr<State> state = m_state;
    Message message{id, wParam, lParam, std::move(data)};
    intptr_t result = 0;
    CallOnGuiThread([&] {
        MessageTarget* target;
        {
            std::lock_guard<std::mutex> guard(state->lock);
            target = state->target;
        }
        if (target != nullptr)
            result = target->Dispatch(message);
    });
    return result;
}

intptr_t MessageTarget::OnMessage(const Message& message)
{
    auto it = m_handlers.find(message.id);
    if (it != m_handlers.end()) {
        Handler handler = it->second; // the handler may replace itself
        return handler(message);
    }
    if (message.id == WM_SHOW_MESSAGE) {
        const std::string* text = Payload<WM_SHOW_MESSAGE>(message);
        ShowMessageBox(OwnerWidget(), text != nullptr ? *text : std::string(), static_cast<unsigned>(message.wParam));
        return 1;
    }
    return 0;
}

void MessageTarget::OnTimer(unsigned) {}

unsigned MessageTarget::SetTimer(unsigned id, unsigned intervalMs)
{
    RequireGuiThread("MessageTarget::SetTimer");
    if (id == 0)
        return 0;
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        if (m_state->target == nullptr)
            return 0;
    }
    std::unique_ptr<QTimer>& timer = m_timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        std::shared_ptr<State> state = m_state;
        QObject::connect(timer.get(), &QTimer::timeout, [state, id] {
            MessageTarget* target;
            {
                std::lock_guard<std::mutex> guard(state->lock);
                target = state->target;
            }
            if (target != nullptr)
                target->OnTimer(id);
        });
    }
    timer->start(static_cast<int>(intervalMs));
    return id;
}

bool MessageTarget::KillTimer(unsigned id)
{
    RequireGuiThread("MessageTarget::KillTimer");
    // The timer object stays (stopped): a timer may be killed from its own
    // callback.
    auto it = m_timers.find(id);
    if (it == m_timers.end() || !it->second->isActive())
        return false;
    it->second->stop();
    return true;
}

bool MessageTarget::HasTimer(unsigned id) const
{
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

} // namespace platform::gui
