#pragma once
// The "map network drive" dialog: the share to connect and a drive letter
// out of the free ones.
#include <string>

#include "Dialog.h"

class QComboBox;
class QLabel;

namespace platform::gui {

class ConnectionDialog : public Dialog {
    Q_OBJECT
public:
    ConnectionDialog(QWidget* parent, const std::string& remoteName);
    QComboBox* Letters() const { return m_letters; }
    // The letter chosen ("Z:").
    std::string Letter() const;

private:
    QComboBox* m_letters;
    QLabel* m_remote;
};

// Asks for a drive letter for remoteName: the letter chosen ("Z:"), or ""
// when the user cancelled. The caller connects the share under it.
std::string AskDriveLetter(QWidget* owner, const std::string& remoteName);

} // namespace platform::gui
