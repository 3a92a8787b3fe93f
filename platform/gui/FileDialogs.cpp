#include "FileDialogs.h"

#include <utility>
#include <QFileDialog>
#include <QGuiApplication>
#include <filesystem>
#include <mutex>
#include <vector>

#include "MessageBoxes.h"

namespace platform::gui {
namespace {
std::mutex g_lock;
SaveFileChooser g_chooser;
} // namespace

std::string ConvertFileFilter(const std::string& filter)
{
    // Pairs of description and pattern, separated by '|', ended by "||".
    std::vector<std::string> parts;
    std::string part;
    for (char c : filter) {
        if (c == '|') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    std::string out;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty())
            break;
        if (!out.empty())
            out += ";;";
        out += parts[i];
    }
    return out;
}

std::string WithDefaultExtension(const std::string& path, const std::string& defaultExtension)
{
    if (defaultExtension.empty())
        return path;
    // The test is exact: "name.TXT" becomes "name.TXT.txt".
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const bool has = dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
                     path.compare(dot + 1, std::string::npos, defaultExtension) == 0;
    return has ? path : path + "." + defaultExtension;
}

namespace {

// The name the user gave, "" when cancelled: the chooser's, else the dialog's.
std::string ChooseName(QWidget* owner, const std::string& filter, const std::string& typed)
{
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_chooser)
            return g_chooser(filter);
    }
    const QString platformName = QGuiApplication::platformName();
    if (platformName == "offscreen" || platformName == "minimal")
        return {};
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    // The question is asked once the extension is on the name.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilter(QString::fromStdString(ConvertFileFilter(filter)));
    if (!typed.empty())
        dialog.selectFile(QString::fromStdString(typed));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front().toStdString();
}

} // namespace

std::string GetSaveFileName(QWidget* owner, const std::string& filter, const std::string& defaultExtension)
{
    std::string typed;
    for (;;) {
        typed = ChooseName(owner, filter, typed);
        if (typed.empty())
            return {};
        std::string path = WithDefaultExtension(typed, defaultExtension);
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, error)))
            return path;
        if (ShowMessageBox(owner, path + " already exists.\nDo you want to replace it?",
                           platform::MB_YESNO | platform::MB_ICONWARNING) == IDYES)
            return path;
    }
}

SaveFileChooser SetSaveFileChooser(SaveFileChooser chooser)
{
    std::lock_guard<std::mutex> guard(g_lock);
    return std::exchange(g_chooser, std::move(chooser));
}

} // namespace platform::gui
