#include "ConnectionDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>

#include "NetConnection.h"

namespace platform::gui {

ConnectionDialog::ConnectionDialog(QWidget* parent, const std::string& remoteName) : Dialog(parent)
{
    setWindowTitle("Map Network Drive");
    setAccessibleName("Map Network Drive");
    auto* layout = new QFormLayout(this);
    m_letters = new QComboBox(this);
    m_letters->setAccessibleName("Drive");
    for (const std::string& letter : platform::FreeDriveLetters())
        m_letters->addItem(QString::fromStdString(letter));
    // The last free letter first, as the system's own dialog offers it.
    if (m_letters->count() > 0)
        m_letters->setCurrentIndex(m_letters->count() - 1);
    auto* driveLabel = new QLabel("&Drive:", this);
    driveLabel->setBuddy(m_letters);
    layout->addRow(driveLabel, m_letters);
    // The share's path is read as it is shown, after its caption.
    m_remote = new QLabel(QString::fromStdString(remoteName), this);
    m_remote->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* folderLabel = new QLabel("Folder:", this);
    folderLabel->setBuddy(m_remote);
    layout->addRow(folderLabel, m_remote);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName("OK");
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName("Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnOK(); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { OnCancel(); });
    layout->addRow(buttons);
    // Wide enough for a title bar to show the title whole.
    setMinimumWidth(TitleBarWidth(windowTitle()));
}

std::string ConnectionDialog::Letter() const { return m_letters->currentText().toStdString(); }

std::string AskDriveLetter(QWidget* owner, const std::string& remoteName)
{
    ConnectionDialog dlg(owner, remoteName);
    if (dlg.DoModal() != 1)
        return {};
    std::string letter = dlg.Letter();
    return letter.size() == 2 ? letter : std::string();
}

} // namespace platform::gui
