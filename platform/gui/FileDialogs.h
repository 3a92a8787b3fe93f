#pragma once
// The save-file dialog. Filters come in the "Text|*.txt|All|*.*||" form; the
// dialog asks before overwriting and shows no read-only option. Tests put a
// chooser in its place; with no display and no chooser nothing is chosen.
#include <functional>
#include <string>

class QWidget;

namespace platform::gui {

// The chosen path, "" when cancelled.
std::string GetSaveFileName(QWidget* owner, const std::string& filter);

// Test seam: answers every save-file dialog instead of showing it (an empty
// function restores the dialog). Returns the old one.
using SaveFileChooser = std::function<std::string(const std::string& filter)>;
SaveFileChooser SetSaveFileChooser(SaveFileChooser chooser);

// "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||" as the dialog's own
// filter list: "Text Files (*.txt);;All Files (*.*)".
std::string ConvertFileFilter(const std::string& filter);

} // namespace platform::gui
