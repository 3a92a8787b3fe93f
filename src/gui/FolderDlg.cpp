#include "FolderDlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <filesystem>

namespace {

std::optional<std::string> RunFileDialog(CFolderDialog& dialog)
{
    const QString platformName = QGuiApplication::platformName();
    if (platformName == "offscreen" || platformName == "minimal")
        return std::nullopt; // nobody could answer
    QFileDialog browser(dialog.GetOwner(), QString::fromStdString(dialog.GetTitle()));
    browser.setFileMode(QFileDialog::Directory);
    browser.setOption(QFileDialog::ShowDirsOnly, true);
    browser.setOption(QFileDialog::DontUseNativeDialog, true);
    if (!dialog.GetInitialFolder().empty())
        browser.setDirectory(QString::fromStdString(dialog.GetInitialFolder()));
    QObject::connect(&browser, &QFileDialog::currentChanged,
                     [&dialog](const QString& path) { dialog.OnSelChanged(path.toStdString()); });
    dialog.OnInitialized();
    if (browser.exec() != QDialog::Accepted || browser.selectedFiles().isEmpty())
        return std::nullopt;
    return browser.selectedFiles().first().toStdString();
}

CFolderDialog::Chooser& ChooserSlot()
{
    static CFolderDialog::Chooser chooser;
    return chooser;
}

} // namespace

CFolderDialog::CFolderDialog(const std::string& title, const char* initialFolder, QWidget* parent, unsigned flags)
    : m_title(title), m_owner(parent), m_flags(flags)
{
    if (initialFolder != nullptr)
        SetInitialFolder(initialFolder);
}

CFolderDialog::~CFolderDialog() = default;

CFolderDialog::Chooser CFolderDialog::SetChooser(Chooser chooser)
{
    Chooser old = std::move(ChooserSlot());
    ChooserSlot() = std::move(chooser);
    return old;
}

bool CFolderDialog::SetInitialFolder(const std::string& folder)
{
    if (folder.size() >= kMaxPath)
        return false;
    m_initialFolder = folder;
    return true;
}

void CFolderDialog::OnInitialized()
{
    if (!m_initialFolder.empty())
        OnSelChanged(m_initialFolder);
}

void CFolderDialog::OnSelChanged(const std::string& path)
{
    if (!(m_flags & BIF_STATUSTEXT))
        return;
    std::error_code error;
    if (!path.empty() && std::filesystem::is_directory(path, error))
        m_statusText = path;
}

int CFolderDialog::OnValidateFailed(const std::string&)
{
    QApplication::beep();
    return 1; // the browser stays open
}

int CFolderDialog::DoModal()
{
    Chooser chooser = ChooserSlot() ? ChooserSlot() : Chooser(RunFileDialog);
    std::optional<std::string> chosen = chooser(*this);
    if (!chosen || chosen->empty() || chosen->size() >= kMaxPath)
        return -1;
    std::error_code error;
    std::filesystem::path path(*chosen);
    if (!std::filesystem::is_directory(path, error))
        return -1; // no file-system folder behind it
    std::string text = path.lexically_normal().string();
    if (text.size() > 1 && text.back() == '/')
        text.pop_back();
    m_selectedPath = text;
    std::string name = std::filesystem::path(text).filename().string();
    m_displayName = name.empty() ? text : name;
    return 1;
}
