#pragma once
// The "map network drive" dialog: the share to connect and a drive letter
// out of the free ones. OK connects the share under that letter.
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

} // namespace platform::gui

// Asks for a letter and connects remoteName under it as user (empty: the
// default credentials). 0 with *deviceNumber the letter's number (A = 1),
// -1 when the user cancelled, else the connection's error code.
int WNetConnectionDialog1(QWidget* owner, const std::string& remoteName, const std::string& user,
                          const std::string& password, int* deviceNumber);
