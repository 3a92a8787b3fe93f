#include "Application.h"

#include <atomic>

namespace platform::gui {
namespace {
std::atomic<MessageTarget*> g_mainWindow{nullptr};
}

void SetMainWindow(MessageTarget* window) { g_mainWindow = window; }

MessageTarget* GetMainWindow() { return g_mainWindow; }

} // namespace platform::gui
