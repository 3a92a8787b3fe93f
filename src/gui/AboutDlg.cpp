#include "AboutDlg.h"

#include "Resources.h"
#include "ui_AboutDlg.h"

CAboutDlg::CAboutDlg(QWidget* parent) : Dialog(parent), m_ui(std::make_unique<Ui::AboutDlg>())
{
    m_ui->setupUi(this);
    const QIcon icon = platform::gui::LoadIcon(125);
    setWindowIcon(icon);
    m_ui->icon->setPixmap(icon.pixmap(32, 32));
    connect(m_ui->okButton, &QPushButton::clicked, this, [this] { OnOK(); });
}

CAboutDlg::~CAboutDlg() = default;

std::string CAboutDlg::GetVersionText() const { return m_ui->version->text().toStdString(); }
