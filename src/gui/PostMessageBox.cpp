#include "PostMessageBox.h"

#include "Application.h"
#include "MessageBox.h"
#include "MessageTarget.h"

void PostMessageBox(const std::string& text, unsigned boxStyle, platform::gui::MessageTarget* window)
{
    using namespace platform::gui;
    if (window == nullptr)
        window = GetMainWindow();
    if (window == nullptr) {
        platform::MessageBox(text, boxStyle);
        return;
    }
    window->SendMessage(WM_SHOW_MESSAGE, boxStyle, 0, std::string(text));
}
