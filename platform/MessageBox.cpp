#include "MessageBox.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex g_handlerLock;
MessageBoxHandler g_handler;

} // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    std::lock_guard<std::mutex> guard(g_handlerLock);
    MessageBoxHandler old = std::move(g_handler);
    g_handler = std::move(handler);
    return old;
}

int DefaultAnswer(unsigned style)
{
    static const int buttons[][3] = {
        {IDOK, IDOK, IDOK},              // MB_OK
        {IDOK, IDCANCEL, IDCANCEL},      // MB_OKCANCEL
        {IDABORT, IDRETRY, IDIGNORE},    // MB_ABORTRETRYIGNORE
        {IDYES, IDNO, IDCANCEL},         // MB_YESNOCANCEL
        {IDYES, IDNO, IDNO},             // MB_YESNO
        {IDRETRY, IDCANCEL, IDCANCEL},   // MB_RETRYCANCEL
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
    if (handler)
        return handler(text, caption.empty() ? std::string("Tolvane") : caption, style);
    std::fprintf(stderr, "Tolvane: %s\n", text.c_str());
    return DefaultAnswer(style);
}

} // namespace platform
