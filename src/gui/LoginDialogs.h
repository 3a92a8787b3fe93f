#pragma once
// The dialogs the main window opens on its login road and from its menu, each
// run modally; they return the dialog's result (IDOK when confirmed).
class QWidget;

// The discovery and login dialog in a mode: 0 attach another device, 1 start-up,
// 2 change user.
int RunDiscoverNasDlg(int type, QWidget* parent);
// The disk initialisation and install wizard.
int RunSetupWizardDlg(QWidget* parent);
// The device information dialog.
int RunDeviceInfoDlg(QWidget* parent);
