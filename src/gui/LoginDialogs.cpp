#include "LoginDialogs.h"

#include "MessageBox.h"

#if __has_include("DiscoverNasDlg.h")
#include "DiscoverNasDlg.h"
#endif
#if __has_include("SetupWizardDlg.h")
#include "SetupWizardDlg.h"
#endif
#if __has_include("DeviceInfoDlg.h")
#include "DeviceInfoDlg.h"
#endif

int RunDiscoverNasDlg(int type, QWidget* parent)
{
#if __has_include("DiscoverNasDlg.h")
    CDiscoverNasDlg dlg(type, parent);
    return dlg.DoModal();
#else
    (void)type;
    (void)parent;
    platform::MessageBox("This build has no discovery dialog.", platform::MB_OK | platform::MB_ICONHAND);
    return platform::IDCANCEL;
#endif
}

int RunSetupWizardDlg(QWidget* parent)
{
#if __has_include("SetupWizardDlg.h")
    CSetupWizardDlg dlg(parent);
    return dlg.DoModal();
#else
    (void)parent;
    platform::MessageBox("This build has no disk set-up dialog.", platform::MB_OK | platform::MB_ICONHAND);
    return platform::IDCANCEL;
#endif
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
