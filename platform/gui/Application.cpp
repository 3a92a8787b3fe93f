#include "Application.h"

#include <atomic>

#include "MessageBoxes.h"
#include "Skin.h"

namespace platform::gui {
namespace {
std::atomic<MessageTarget*> g_mainWindow{nullptr};
}

void InitGuiServices()
{
    InstallMessageBoxHandler();
    LoadSkin(SkinPath());
}

void SetMainWindow(MessageTarget* window) { g_mainWindow = window; }

MessageTarget* GetMainWindow() { return g_mainWindow; }

} // namespace platform::gui
