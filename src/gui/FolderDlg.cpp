#include "FolderDlg.h"

#include <utility>
#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QGuiApplication>
#include <filesystem>

#include "MessageBoxes.h"

namespace {

// The browser: Qt's own folder chooser, with the caller's validation of a
// typed name (BIF_VALIDATE) and a status line showing the selected path
// (BIF_STATUSTEXT).
class FolderBrowser : public QFileDialog {
public:
    FolderBrowser(CFolderDialog& dialog)
        : QFileDialog(dialog.GetOwner(), QString::fromStdString(dialog.GetTitle()))
        , m_dialog(dialog)
    {
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly, true);
        setOption(QFileDialog::DontUseNativeDialog, true);
        if (!dialog.GetInitialFolder().empty())
            setDirectory(QString::fromStdString(dialog.GetInitialFolder()));
        if (dialog.GetFlags() & CFolderDialog::BIF_STATUSTEXT) {
            m_status = new QLabel(this);
            m_status->setObjectName("statusText");
            m_status->setAccessibleName("Selected folder");
            if (auto* grid = qobject_cast<QGridLayout*>(layout()))
                grid->addWidget(m_status, grid->rowCount(), 0, 1, grid->columnCount());
        }
        QObject::connect(this, &QFileDialog::currentChanged, [this](const QString& path) {
            m_dialog.OnSelChanged(path.toStdString());
            ShowStatus();
        });
        dialog.OnInitialized();
        ShowStatus();
    }

    void accept() override
    {
        if (m_dialog.GetFlags() & CFolderDialog::BIF_VALIDATE) {
            const QStringList chosen = selectedFiles();
            const std::string name = chosen.isEmpty() ? std::string() : chosen.first().toStdString();
            std::error_code error;
            if (name.empty() || !std::filesystem::is_directory(name, error)) {
                // No such folder: the caller decides whether the browser stays.
                if (m_dialog.OnValidateFailed(name) == 0)
                    reject();
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    void ShowStatus()
    {
        if (m_status != nullptr)
            m_status->setText(QString::fromStdString(m_dialog.GetStatusText()));
    }

    CFolderDialog& m_dialog;
    QLabel* m_status = nullptr;
};

CFolderDialog::Chooser& ChooserSlot()
{
    static CFolderDialog::Chooser chooser;
    return chooser;
}

} // namespace

CFolderDialog::CFolderDialog(const std::string& title, const char* initialFolder, QWidget* parent, unsigned flags)
    : m_title(title)
    , m_owner(parent)
    , m_flags(flags)
{
    if (initialFolder != nullptr)
        SetInitialFolder(initialFolder);
}

CFolderDialog::~CFolderDialog() = default;

std::optional<std::string> CFolderDialog::Browse(CFolderDialog& dialog)
{
    FolderBrowser browser(dialog);
    if (browser.exec() != QDialog::Accepted || browser.selectedFiles().isEmpty())
        return std::nullopt;
    return browser.selectedFiles().first().toStdString();
}

CFolderDialog::Chooser CFolderDialog::SetChooser(Chooser chooser)
{
    return std::exchange(ChooserSlot(), std::move(chooser));
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
    Chooser chooser = ChooserSlot();
    if (!chooser) {
        const QString platformName = QGuiApplication::platformName();
        if (platformName == "offscreen" || platformName == "minimal")
            return -1; // nobody could answer
        chooser = Browse;
    }
    std::optional<std::string> chosen = chooser(*this);
    if (!chosen || chosen->empty())
        return -1;
    if (chosen->size() >= kMaxPath) {
        platform::gui::ShowMessageBox(m_owner,
                                      "Can't choice this folder: its path is " + std::to_string(chosen->size()) +
                                          " bytes long, and the system takes paths of at most " +
                                          std::to_string(kMaxPath - 1) + " bytes!!",
                                      platform::MB_OK);
        return -1;
    }
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
