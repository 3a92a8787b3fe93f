#pragma once
// The save-file dialog. Filters come in the "Text|*.txt|All|*.*||" form; the
// dialog shows no read-only option. Tests put a chooser in its place; with
// no display and no chooser nothing is chosen.
#include <functional>
#include <string>

class QWidget;

namespace platform::gui {

// The chosen path, "" when cancelled. A name whose extension is not exactly
// defaultExtension (given without the dot; "" for none) gets it appended, so
// "log" and "log.TXT" become "log.txt" and "log.TXT.txt". When the file of
// that final name exists, a Yes/No box owned by owner asks before it is
// replaced; No shows the dialog again.
std::string GetSaveFileName(QWidget* owner, const std::string& filter, const std::string& defaultExtension = {});

// The name with defaultExtension appended as GetSaveFileName does it.
std::string WithDefaultExtension(const std::string& path, const std::string& defaultExtension);

// Test seam: answers every save-file dialog instead of showing it, with the
// name as the user typed it (an empty function restores the dialog). Returns
// the old one.
using SaveFileChooser = std::function<std::string(const std::string& filter)>;
SaveFileChooser SetSaveFileChooser(SaveFileChooser chooser);

// "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||" as the dialog's own
// filter list: "Text Files (*.txt);;All Files (*.*)".
std::string ConvertFileFilter(const std::string& filter);

} // namespace platform::gui
