#pragma once
// Asks the user for a local folder with one modal call.
#include <climits>
#include <functional>
#include <optional>
#include <string>

class QWidget;

class CFolderDialog {
public:
    // Browse flags the callers pass.
    enum : unsigned {
        BIF_RETURNONLYFSDIRS = 0x0001,
        BIF_DONTGOBELOWDOMAIN = 0x0002,
        BIF_STATUSTEXT = 0x0004,
        BIF_EDITBOX = 0x0010,
        BIF_VALIDATE = 0x0020,
        BIF_NEWDIALOGSTYLE = 0x0040,
    };
    // The system's limit of a path, its terminating zero included.
    static constexpr size_t kMaxPath = PATH_MAX;

    // initialFolder may be null (none).
    CFolderDialog(const std::string& title, const char* initialFolder, QWidget* parent, unsigned flags);
    virtual ~CFolderDialog();

    // 1 when the user chose an existing folder (its path and name are then
    // kept), -1 otherwise (the path is left as it was). A path too long for
    // the system is refused with a box that says so.
    int DoModal();
    std::string GetFolderPath() const { return m_selectedPath; }
    std::string GetFolderName() const { return m_displayName; }

    // Shorter than kMaxPath; false (nothing changed) for a longer path.
    bool SetInitialFolder(const std::string& folder);
    const std::string& GetInitialFolder() const { return m_initialFolder; }
    const std::string& GetTitle() const { return m_title; }
    unsigned GetFlags() const { return m_flags; }
    QWidget* GetOwner() const { return m_owner; }
    // The browser's status line (written only with BIF_STATUSTEXT).
    const std::string& GetStatusText() const { return m_statusText; }

    // Called by the browser.
    virtual void OnInitialized();
    virtual void OnSelChanged(const std::string& path);
    virtual int OnValidateFailed(const std::string& name);
    virtual int OnIUnknown() { return 0; }

    // The chooser that runs the browser: the chosen path, or nothing when the
    // user cancelled. Tests put one of their own in place; returns the old.
    using Chooser = std::function<std::optional<std::string>(CFolderDialog& dialog)>;
    static Chooser SetChooser(Chooser chooser);
    // The real chooser (a folder browser honouring BIF_VALIDATE and
    // BIF_STATUSTEXT), whatever chooser is in place.
    static std::optional<std::string> Browse(CFolderDialog& dialog);

private:
    std::string m_title;
    std::string m_initialFolder;
    std::string m_selectedPath;
    std::string m_displayName;
    std::string m_statusText;
    QWidget* m_owner;
    unsigned m_flags;
};
