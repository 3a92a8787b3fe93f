#include "MessageBox.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex g_handlerLock;
MessageBoxHandler g_handler;
NoticeHandler g_noticeHandler;
std::mutex g_recorderLock;
MessageBoxRecorder* g_recorder = nullptr;

} // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard<std::mutex> guard(g_handlerLock);
    MessageBoxHandler old = std::move(g_handler);
    g_handler = std::move(handler);
    return old;
}

NoticeHandler SetNoticeHandler(NoticeHandler handler)
{
    std::lock_guard<std::mutex> guard(g_handlerLock);
    NoticeHandler old = std::move(g_noticeHandler);
    g_noticeHandler = std::move(handler);
    return old;
}

void Notice(const std::string& key, const std::string& text)
{
    RecordedBox box{text, key, MB_OK, false, false};
    int unused = 0;
    if (RecordMessageBox(box, &unused))
        return;
    NoticeHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_handlerLock);
        handler = g_noticeHandler;
    }
    if (handler)
        handler(key, text);
    else
        std::fprintf(stderr, "Tolvane: %s\n", text.c_str());
}

int DefaultAnswer(unsigned style)
{
    static const int buttons[][3] = {
        {IDOK, IDOK, IDOK},            // MB_OK
        {IDOK, IDCANCEL, IDCANCEL},    // MB_OKCANCEL
        {IDABORT, IDRETRY, IDIGNORE},  // MB_ABORTRETRYIGNORE
        {IDYES, IDNO, IDCANCEL},       // MB_YESNOCANCEL
        {IDYES, IDNO, IDNO},           // MB_YESNO
        {IDRETRY, IDCANCEL, IDCANCEL}, // MB_RETRYCANCEL
    };
    unsigned type = style & MB_TYPEMASK;
    unsigned def = (style & MB_DEFMASK) >> 8;
    if (type > MB_RETRYCANCEL)
        type = MB_OK;
    if (def > 2)
        def = 0;
    return buttons[type][def];
}

int MessageBox(const std::string& text, unsigned style, const std::string& caption)
{
    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_handlerLock);
        handler = g_handler;
    }
    // The window layer's handler records on the GUI thread itself.
    int answer = 0;
    if (!handler && RecordMessageBox({text, caption.empty() ? std::string("Tolvane") : caption, style, false}, &answer))
        return answer;
    if (handler)
        return handler(text, caption.empty() ? std::string("Tolvane") : caption, style);
    std::fprintf(stderr, "Tolvane: %s\n", text.c_str());
    return DefaultAnswer(style);
}

bool RecordMessageBox(const RecordedBox& box, int* answer)
{
    std::lock_guard<std::mutex> guard(g_recorderLock);
    if (g_recorder == nullptr)
        return false;
    *answer = g_recorder->Record(box);
    return true;
}

MessageBoxRecorder::MessageBoxRecorder(Answer answer) : m_answer(std::move(answer))
{
    std::lock_guard<std::mutex> guard(g_recorderLock);
    m_previous = g_recorder;
    g_recorder = this;
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    std::lock_guard<std::mutex> guard(g_recorderLock);
    g_recorder = m_previous;
}

int MessageBoxRecorder::Record(const RecordedBox& box)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_boxes.push_back(box);
    }
    if (!box.waited)
        return DefaultAnswer(box.style);
    return m_answer ? m_answer(box) : DefaultAnswer(box.style);
}

std::vector<RecordedBox> MessageBoxRecorder::Boxes() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_boxes;
}

std::vector<std::string> MessageBoxRecorder::Texts() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<std::string> texts;
    for (const RecordedBox& box : m_boxes)
        texts.push_back(box.text);
    return texts;
}

std::size_t MessageBoxRecorder::Count() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_boxes.size();
}

std::string MessageBoxRecorder::LastText() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_boxes.empty() ? std::string() : m_boxes.back().text;
}

void MessageBoxRecorder::Clear()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_boxes.clear();
}

} // namespace platform
