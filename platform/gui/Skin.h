#pragma once
// The skin: a Qt style sheet applied to every window of the process.
#include <string>

namespace platform::gui {

// The skin file of the program: its folder, "Styles/", "WinXP.Royale.cjstyles".
std::string SkinPath();
// Applies the style sheet in that file to the whole application. A missing or
// unreadable file is skipped silently (false).
bool LoadSkin(const std::string& path);

} // namespace platform::gui
