#include "FileDialogs.h"

#include <utility>
#include <QFileDialog>
#include <QGuiApplication>
#include <mutex>
#include <vector>

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

std::string GetSaveFileName(QWidget* owner, const std::string& filter)
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
    dialog.setNameFilter(QString::fromStdString(ConvertFileFilter(filter)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front().toStdString();
}

SaveFileChooser SetSaveFileChooser(SaveFileChooser chooser)
{
    std::lock_guard<std::mutex> guard(g_lock);
    return std::exchange(g_chooser, std::move(chooser));
}

} // namespace platform::gui
