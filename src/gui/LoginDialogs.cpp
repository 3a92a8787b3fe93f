#include "LoginDialogs.h"

#include "DiscoverNasDlg.h"
#include "MessageBox.h"
#include "SetupWizardDlg.h"

#if __has_include("DeviceInfoDlg.h")
#include "DeviceInfoDlg.h"
#endif

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
#if __has_include("DeviceInfoDlg.h")
    CDeviceInfoDlg dlg(parent);
    return dlg.DoModal();
#else
    (void)parent;
    platform::MessageBox("This build has no device information dialog.", platform::MB_OK | platform::MB_ICONHAND);
    return platform::IDCANCEL;
#endif
}
