#include "LoginDialogs.h"

#include "DeviceInfoDlg.h"
#include "DiscoverNasDlg.h"
#include "SetupWizardDlg.h"

int RunDiscoverNasDlg(int type, QWidget* parent)
{
    CDiscoverNasDlg dlg(type, parent);
    return dlg.DoModal();
}

int RunSetupWizardDlg(QWidget* parent)
{
    CSetupWizardDlg dlg(parent);
    return dlg.DoModal();
}

int RunDeviceInfoDlg(QWidget* parent)
{
    CDeviceInfoDlg dlg(parent);
    return dlg.DoModal();
}
