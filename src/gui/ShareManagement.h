#pragma once
// The folder add/edit dialog ("Folder Add/Edit"): disk, name, services, and
// for a Private Folder the users and groups that may use it, each read-only
// or read/write. Create/Save hands the save to a worker (FolderSave) behind
// the busy popup; the result field tells the page whether the device holds
// the folder.
#include <functional>
#include <memory>
#include <string>

#include "Dialog.h"
#include "FolderSave.h"
#include "Worker.h"

namespace Ui {
class ShareManagement;
}
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
namespace platform::gui {
class ReportControl;
}

class CShareManagement : public platform::gui::Dialog {
    Q_OBJECT
public:
    explicit CShareManagement(QWidget* parent = nullptr);
    ~CShareManagement() override;

    using Dialog::DoModal;
    // Runs the dialog for a folder name and an action (kFolderActionAdd or
    // kFolderActionEdit); read m_result afterwards.
    int DoModal(const std::string& name, int action);

    // "Create User" opens the user management dialog; tests put a handler in
    // its place (an empty one restores the dialog). Returns the old one.
    using CreateUserHandler = std::function<void(QWidget* parent)>;
    static CreateUserHandler SetCreateUserHandler(CreateUserHandler handler);

    void SetFolderName(const std::string& name) { m_folderName = name; }
    std::string GetFolderName() const { return m_folderName; }
    // The disk of the folder to edit, where two folders share its name.
    void SetLocation(const std::string& location) { m_location = location; }

    // What the controls hold now.
    FolderSettings ReadControls() const;

    void OnCreate();
    void OnAddUser();
    void OnRemoveUser();
    void OnCreateUser();
    void OnAnonymous();
    void OnPrivateFolder();
    // The users and groups read again (behind the busy popup).
    void RefreshUsers();

    struct Parts {
        QComboBox* diskBox;
        QLineEdit* folderName;
        QRadioButton* anonymous;
        QRadioButton* privateFolder;
        QTreeWidget* userList;
        QPushButton* addUser;
        QPushButton* removeUser;
        QPushButton* createUser;
        platform::gui::ReportControl* allowList;
        QPushButton* createButton;
        QPushButton* cancelButton;
    };
    Parts Controls() const;
    // The names in the user list, and the allowed rows (name, write).
    std::vector<std::string> UserListNames() const;
    std::vector<AllowedEntry> AllowedRows() const;

    int m_result = 0; // kFolderSaved / kFolderNotSaved
    int m_action = 0; // kFolderActionAdd / kFolderActionEdit
    std::string m_oldName;

protected:
    bool OnInitDialog() override;
    void OnOK() override { OnCreate(); }
    void OnCancel() override;

private:
    void InitLists(const FolderDialogData& data);
    void ShowFolder(const FolderSettings& s);
    void AddAllowed(const std::string& name, bool write);
    void Fold(bool privateFolder);

    std::unique_ptr<Ui::ShareManagement> m_ui;
    std::string m_folderName;
    std::string m_location;
    platform::gui::Worker m_worker;
};
