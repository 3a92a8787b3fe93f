#pragma once
// The About box: the program's icon and version, and OK.
#include <memory>

#include "Dialog.h"

namespace Ui {
class AboutDlg;
}

class CAboutDlg : public platform::gui::Dialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    std::string GetVersionText() const;

private:
    std::unique_ptr<Ui::AboutDlg> m_ui;
};
